/* Logs each key event of DISPLAY's own keyboard (not one added later, the
 * streamer's) to the file named by its argument, after a line "ready": down|up
 * KEYCODE KEYSYM (the keymap's at that moment) TIME (ms). Runs until killed. */
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <stdio.h>

int main(int argc, char **argv) {
  FILE *out = argc == 2 ? fopen(argv[1], "w") : NULL;
  Display *display = XOpenDisplay(NULL);
  int opcode, event, error;
  if (!out || !display || !XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) {
    fprintf(stderr, "keylog: %s\n", !out ? "cannot write the log" : !display ? "cannot open the display" : "no XInput");
    return 1;
  }
  int count = 0, keyboard = 0;
  XIDeviceInfo *devices = XIQueryDevice(display, XIAllMasterDevices, &count);
  for (int i = 0; i < count; ++i) {
    if (devices[i].use == XIMasterKeyboard) keyboard = devices[i].deviceid;
  }
  XIFreeDeviceInfo(devices);
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {0};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XIEventMask mask = {XIAllMasterDevices, sizeof(bits), bits};
  XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
  XSync(display, False);
  fprintf(out, "ready\n");
  fflush(out);
  for (XEvent e;; fflush(out)) {
    XNextEvent(display, &e);
    if (e.xcookie.type != GenericEvent || e.xcookie.extension != opcode || !XGetEventData(display, &e.xcookie))
      continue;
    const XIRawEvent *raw = e.xcookie.data;
    if (raw->deviceid != keyboard) {
      XFreeEventData(display, &e.xcookie);
      continue;
    }
    int perKeycode = 0;
    KeySym *syms = XGetKeyboardMapping(display, (KeyCode)raw->detail, 1, &perKeycode);
    const char *name = syms && syms[0] != NoSymbol ? XKeysymToString(syms[0]) : NULL;
    fprintf(out, "%s %d %s %lu\n", raw->evtype == XI_RawKeyRelease ? "up" : "down", raw->detail, name ? name : "-",
            (unsigned long)raw->time);
    XFree(syms);
    XFreeEventData(display, &e.xcookie);
  }
}
