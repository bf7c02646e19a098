/* A window that takes the focus on the X display in DISPLAY, as a game's
 * would under a window manager: its title (_NET_WM_NAME) and class
 * (WM_CLASS) are the arguments, its process is named (_NET_WM_PID), and the
 * display's root names it as the active window. Writes "ready" once it has
 * the focus; runs until killed. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
  Display *display = XOpenDisplay(NULL);
  if (argc != 3 || !display) return 1;
  const Window root = DefaultRootWindow(display);
  const Window window = XCreateSimpleWindow(display, root, 0, 0, 200, 100, 0, 0, 0);
  XClassHint hint = {argv[2], argv[2]};
  XSetClassHint(display, window, &hint);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                  (unsigned char *)argv[1], (int)strlen(argv[1]));
  const long pid = getpid();
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  (unsigned char *)&pid, 1);
  XSelectInput(display, window, StructureNotifyMask);
  XMapWindow(display, window);
  for (XEvent e; XNextEvent(display, &e), e.type != MapNotify;) {
  }
  XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
  XChangeProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32, PropModeReplace,
                  (unsigned char *)&window, 1);
  XSync(display, False);
  printf("ready\n");
  fflush(stdout);
  for (XEvent e;;) XNextEvent(display, &e);
}
