/* A window that takes the focus, as a game's would: its title is the
 * argument. Writes "ready" once it is the foreground window; runs until
 * killed. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char **argv) {
  // The whole screen, as a game's: a display without a window manager gives
  // the keys to the window under the pointer.
  HWND window = CreateWindowA("STATIC", argc == 2 ? argv[1] : "", WS_POPUP | WS_VISIBLE, 0, 0,
                              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL, NULL, NULL, NULL);
  MSG message;
  for (int tries = 0; GetForegroundWindow() != window && tries < 100; ++tries, Sleep(50)) {
    SetForegroundWindow(window);
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  printf(GetForegroundWindow() == window ? "ready\n" : "not in front\n");
  fflush(stdout);
  while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
