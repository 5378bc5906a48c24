// Before files are replaced, every running Kelvra has to let go of its
// image, in whatever session it runs. The "KelvraExit" broadcast reaches
// only the setup's own desktop (older versions hear nothing else); the
// global event below reaches the meters of every user and session, which
// look for it once a second. Then the setup waits, for a bounded time,
// until no process runs a program from the destination.
#include "setup.h"

#include <sddl.h>
#include <tlhelp32.h>

#include "contract.h"

// A meter looks for the event once a second and then closes its window:
// ten seconds leave room for a slow one and still end the wait of a
// deployment soon when a program will not go (the restart path follows).
constexpr DWORD ProgramWaitMs = 10000;
constexpr DWORD ProgramPollMs = 200;

// Full control for SYSTEM and administrators; everyone else may only wait
// on the event, never set or reset it.
constexpr char ExitEventSecurity[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100000;;;WD)";

// Makes the event new, or returns null. An event of that name that already
// exists is not ours (another setup is excluded by the mutex): whoever made
// it may hold it set or deny us access, so it is left alone and the wait
// below decides, at worst by going down the restart path.
static HANDLE CreateExitEvent() {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(ExitEventSecurity, SDDL_REVISION_1,
                                                            &attributes.lpSecurityDescriptor, NULL))
    return NULL;
  HANDLE event = CreateEventA(&attributes, TRUE, FALSE, ExitEventName);
  DWORD error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  if (event != NULL && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(event);
    event = NULL;
  }
  if (event == NULL)
    LogLine("exit event: %s exists already or cannot be made (%lu); not used", ExitEventName, error);
  return event;
}

// The first process other than this one whose image lies in directory
// (ending in '\'), its image path in image; false when there is none. A
// process this setup may not ask about is not counted: as an
// administrator it may ask about every process that could hold our files.
static bool FindProgramRunningFrom(const char *directory, char *image) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  bool found = false;
  DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == NULL) continue;
    DWORD length = PathCapacity;
    found = QueryFullProcessImageNameA(process, 0, image, &length) && PathIsInside(image, directory);
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return found;
}

void CloseRunningPrograms(const char *directory) {
  char full[PathCapacity];
  DWORD length = GetFullPathNameA(directory, sizeof full, full, NULL);
  if (length == 0 || length >= sizeof full) lstrcpynA(full, directory, sizeof full);
  HANDLE event = CreateExitEvent();
  if (event != NULL) SetEvent(event);
  char image[PathCapacity];
  DWORD start = GetTickCount();
  DWORD waited = 0;
  bool running;
  while ((running = FindProgramRunningFrom(full, image)) && waited < ProgramWaitMs) {
    Sleep(ProgramPollMs);
    waited = GetTickCount() - start;
  }
  // Reset before the close: a meter started from now on must not find the
  // event set, even if another handle keeps it alive a moment longer.
  if (event != NULL) {
    ResetEvent(event);
    CloseHandle(event);
  }
  if (running)
    LogLine("still running from the destination after %lu ms: %s", waited, image);
  else if (waited > 0)
    LogLine("programs running from the destination ended after %lu ms", waited);
}
