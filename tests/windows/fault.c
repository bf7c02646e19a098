/* A fault in another program, as a bug of its own would make one: a thread
 * started in the program named by the argument (its .exe's name), at an
 * address where there is no code. Writes "started" once the thread is. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <tlhelp32.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {.dwSize = sizeof entry};
  DWORD found = 0;
  for (BOOL more = Process32First(processes, &entry); more && found == 0; more = Process32Next(processes, &entry)) {
    if (_stricmp(entry.szExeFile, argv[1]) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(processes);
  HANDLE process = found ? OpenProcess(PROCESS_ALL_ACCESS, FALSE, found) : NULL;
  if (process == NULL) return 1;
  HANDLE thread = CreateRemoteThread(process, NULL, 0, (LPTHREAD_START_ROUTINE)(ULONG_PTR)0x10, NULL, 0, NULL);
  printf(thread != NULL ? "started\n" : "not started\n");
  return thread != NULL ? 0 : 1;
}
