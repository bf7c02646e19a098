/* Logs each key event that reaches the system's keyboard input to the file
 * named by its argument, after a first line "ready": down|up VK SCAN FLAGS
 * TIME (hexadecimal virtual-key code, scan code and low-level flags, the
 * event's time in ms). Runs until killed. */
#include <stdio.h>
#include <windows.h>

static FILE *out;

static LRESULT CALLBACK onKey(int code, WPARAM wParam, LPARAM lParam) {
  const KBDLLHOOKSTRUCT *key = (const KBDLLHOOKSTRUCT *)lParam;
  if (code == HC_ACTION) {
    fprintf(out, "%s %02lx %02lx %02lx %lu\n", wParam == WM_KEYUP || wParam == WM_SYSKEYUP ? "up" : "down",
            (unsigned long)key->vkCode, (unsigned long)key->scanCode, (unsigned long)key->flags,
            (unsigned long)key->time);
    fflush(out);
  }
  return CallNextHookEx(NULL, code, wParam, lParam);
}

int main(int argc, char **argv) {
  out = argc == 2 ? fopen(argv[1], "w") : NULL;
  if (!out || !SetWindowsHookExA(WH_KEYBOARD_LL, onKey, GetModuleHandleA(NULL), 0)) return 1;
  fprintf(out, "ready\n");
  fflush(out);
  for (MSG message; GetMessageA(&message, NULL, 0, 0) > 0;) DispatchMessageA(&message);
  return 0;
}
