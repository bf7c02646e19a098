/* A window that takes the focus, as a game's would: its title is the
 * argument. Writes "ready" once it is the foreground window; runs until
 * killed. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char **argv) {
  if (argc != 2) return 1;
  WNDCLASSA kind = {0};
  kind.lpfnWndProc = DefWindowProcA;
  kind.hInstance = GetModuleHandleA(NULL);
  kind.lpszClassName = "KoravelTestWindow";
  RegisterClassA(&kind);
  // The whole screen, as a game's: a display without a window manager gives
  // the keys to the window under the pointer.
  HWND window = CreateWindowA("KoravelTestWindow", argv[1], WS_POPUP, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                              GetSystemMetrics(SM_CYSCREEN), NULL, NULL, kind.hInstance, NULL);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  for (int tries = 0; GetForegroundWindow() != window && tries < 100; ++tries) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(50);
    SetForegroundWindow(window);
  }
  printf(GetForegroundWindow() == window ? "ready\n" : "not in front\n");
  fflush(stdout);
  for (MSG message; GetMessageA(&message, NULL, 0, 0) > 0;) DispatchMessageA(&message);
  return 0;
}
