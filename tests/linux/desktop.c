/* The streamer's desktop on the X display in DISPLAY, for the end-to-end suite.
 * "desktop window TITLE CLASS": a window that takes the focus, named as a
 * window manager names a game's (_NET_WM_NAME, WM_CLASS, _NET_WM_PID,
 * _NET_ACTIVE_WINDOW); writes "ready", runs until killed. "desktop hold KEY
 * [core]": holds KEY (a keysym's name) from a second keyboard, whose XTest
 * device is not the program's (with "core", from the display's own, which
 * wine takes for the keyboard); writes "held", lets go when its input ends. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int deviceNamed(Display *display, const char *name, int use) {
  int count = 0, found = 0;
  XIDeviceInfo *devices = XIQueryDevice(display, XIAllDevices, &count);
  for (int i = 0; i < count; ++i) {
    if (devices[i].use == use && strcmp(devices[i].name, name) == 0) found = devices[i].deviceid;
  }
  XIFreeDeviceInfo(devices);
  return found;
}

/* A second keyboard, that this client's keys come from, typing into `focus`;
 * answers its id, 0 when there is none. */
static int keyboardOfItsOwn(Display *display, Window focus) {
  XIAddMasterInfo add = {XIAddMaster, "streamer", True, True};
  XIChangeHierarchy(display, (XIAnyHierarchyChangeInfo *)&add, 1);
  XSync(display, False);
  const int pointer = deviceNamed(display, "streamer pointer", XIMasterPointer);
  const int keyboard = deviceNamed(display, "streamer keyboard", XIMasterKeyboard);
  if (!pointer || !keyboard || XISetClientPointer(display, None, pointer) != Success) return 0;
  XISetFocus(display, keyboard, focus, CurrentTime);
  return keyboard;
}

static void showWindow(Display *display, char *title, char *kind) {
  const Window root = DefaultRootWindow(display);
  const Window window = XCreateSimpleWindow(display, root, 0, 0, 200, 100, 0, 0, 0);
  XClassHint hint = {kind, kind};
  XSetClassHint(display, window, &hint);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                  (unsigned char *)title, (int)strlen(title));
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

static int hold(Display *display, const char *key, int core) {
  int major = 2, minor = 2, revert = 0, keyboard = 0;
  if (XIQueryVersion(display, &major, &minor) != Success) return 1;
  Window focus;  // where the display's own keyboard types
  XGetInputFocus(display, &focus, &revert);
  if (!core && !(keyboard = keyboardOfItsOwn(display, focus))) {
    fprintf(stderr, "holdkey: no keyboard of its own\n");
    return 1;
  }
  const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(key));
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XSync(display, False);
  printf("held\n");
  fflush(stdout);
  while (getchar() != EOF) {
  }
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  if (keyboard) {
    XIRemoveMasterInfo remove = {XIRemoveMaster, keyboard, XIFloating, 0, 0};
    XIChangeHierarchy(display, (XIAnyHierarchyChangeInfo *)&remove, 1);
  }
  XSync(display, False);
  return 0;
}

int main(int argc, char **argv) {
  Display *display = XOpenDisplay(NULL);
  if (display && argc == 4 && strcmp(argv[1], "window") == 0) return showWindow(display, argv[2], argv[3]), 0;
  if (display && argc >= 3 && strcmp(argv[1], "hold") == 0)
    return hold(display, argv[2], argc == 4 && strcmp(argv[3], "core") == 0);
  return 1;
}
