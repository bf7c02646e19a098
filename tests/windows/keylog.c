/* Test helper for the Windows program: logs every key event that reaches the
 * system's keyboard input, one line per event, to the file named by its
 * argument:  down|up VK SCAN FLAGS TIME
 * (hexadecimal virtual-key code, scan code and low-level flags, event time in
 * milliseconds). It writes "ready" once its hook is in place, and runs until
 * it is killed. */
#include <windows.h>
#include <stdio.h>

static FILE *out;

static LRESULT CALLBACK onKey(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const KBDLLHOOKSTRUCT *key = (const KBDLLHOOKSTRUCT *)lParam;
    const int up = wParam == WM_KEYUP || wParam == WM_SYSKEYUP;
    fprintf(out, "%s %02lx %02lx %02lx %lu\n", up ? "up" : "down", (unsigned long)key->vkCode,
            (unsigned long)key->scanCode, (unsigned long)key->flags, (unsigned long)key->time);
    fflush(out);
  }
  return CallNextHookEx(NULL, code, wParam, lParam);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: keylog FILE\n");
    return 2;
  }
  out = fopen(argv[1], "w");
  if (!out) return 1;
  HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, onKey, GetModuleHandleA(NULL), 0);
  if (!hook) {
    fprintf(out, "no hook %lu\n", (unsigned long)GetLastError());
    fflush(out);
    return 1;
  }
  fprintf(out, "ready\n");
  fflush(out);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  UnhookWindowsHookEx(hook);
  return 0;
}
