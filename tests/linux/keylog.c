/* Test helper for the Linux program: logs every key event that reaches the X
 * display named by DISPLAY, one line per event, to the file named by its
 * argument:  down|up KEYCODE KEYSYM TIME
 * (decimal keycode, the keysym the keymap gives it at that moment, server
 * time in milliseconds). It writes "ready" once it listens, and runs until
 * it is killed. */
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <stdio.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: keylog FILE\n");
    return 2;
  }
  FILE *out = fopen(argv[1], "w");
  if (!out) return 1;
  Display *display = XOpenDisplay(NULL);
  int opcode, event, error;
  if (!display || !XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) {
    fprintf(out, "no display or no XInput\n");
    fflush(out);
    return 1;
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {0};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XIEventMask mask = {XIAllMasterDevices, sizeof(bits), bits};
  XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
  XSync(display, False);
  fprintf(out, "ready\n");
  fflush(out);
  for (;;) {
    XEvent e;
    XNextEvent(display, &e);
    if (e.xcookie.type != GenericEvent || e.xcookie.extension != opcode || !XGetEventData(display, &e.xcookie)) {
      continue;
    }
    const XIRawEvent *raw = e.xcookie.data;
    /* Asked of the server each time: the program may map a key while it runs. */
    int perKeycode = 0;
    KeySym *syms = XGetKeyboardMapping(display, (KeyCode)raw->detail, 1, &perKeycode);
    const char *name = syms && syms[0] != NoSymbol ? XKeysymToString(syms[0]) : NULL;
    fprintf(out, "%s %d %s %lu\n", raw->evtype == XI_RawKeyRelease ? "up" : "down", raw->detail, name ? name : "-",
            (unsigned long)raw->time);
    fflush(out);
    if (syms) XFree(syms);
    XFreeEventData(display, &e.xcookie);
  }
}
