/* Holds a key down as the streamer's own keyboard would: from a keyboard of
 * its own (a second master device, whose XTest device is not the program's),
 * on the X display in DISPLAY, into the window with the focus. The key is the
 * argument, a keysym's name ("w"); with a second argument "core", it comes
 * from the display's own keyboard instead, as wine needs it (wine takes
 * every event of the display's keyboard for the keyboard's own). Writes
 * "held" once it is down; lets it go and removes the keyboard when its
 * standard input ends. */
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <stdio.h>
#include <string.h>

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

int main(int argc, char **argv) {
  Display *display = XOpenDisplay(NULL);
  int major = 2, minor = 2, revert = 0, keyboard = 0;
  if (argc < 2 || !display || XIQueryVersion(display, &major, &minor) != Success) return 1;
  const int core = argc == 3 && strcmp(argv[2], "core") == 0;
  Window focus;  // where the display's own keyboard types
  XGetInputFocus(display, &focus, &revert);
  if (!core && !(keyboard = keyboardOfItsOwn(display, focus))) {
    fprintf(stderr, "holdkey: no keyboard of its own\n");
    return 1;
  }
  const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(argv[1]));
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
