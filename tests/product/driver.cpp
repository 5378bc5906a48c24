// Test driver for KELVRA.EXE under Wine: finds the meter window, broadcasts
// "KelvraExit", answers the program's message boxes and reads its GDI count,
// so the shell scripts need no window manager tricks. Prints what it saw on
// stdout; exit code 0 means the awaited state was reached in time.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "contract.h"

static HWND FindMeter() { return FindWindowA("KelvraMeter", "Kelvra"); }

// Polls `reached` every 50 ms until it holds or timeoutMs has passed.
template <typename Condition>
static bool WaitFor(DWORD timeoutMs, Condition reached) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (reached()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(50);
  }
}

static int WaitWindow(DWORD timeoutMs) {
  if (!WaitFor(timeoutMs, [] {
        HWND w = FindMeter();
        return w && IsWindowVisible(w);
      })) {
    puts("no meter window");
    return 1;
  }
  RECT rect;
  GetClientRect(FindMeter(), &rect);
  printf("meter window %ldx%ld\n", rect.right, rect.bottom);
  return 0;
}

// The meter window's frame on the screen, for a screenshot.
static int Frame() {
  RECT rect;
  if (!FindMeter() || !GetWindowRect(FindMeter(), &rect)) return puts("no meter window"), 1;
  printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
  return 0;
}

// The texts of the meter's controls, as a screen reader gets them, joined by '|'.
static int ControlTexts() {
  HWND meter = FindMeter();
  if (!meter) return puts("no meter window"), 1;
  for (HWND child = GetWindow(meter, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char text[256] = "";
    GetWindowTextA(child, text, sizeof(text));
    printf("%s%s", child == GetWindow(meter, GW_CHILD) ? "" : "|", text);
  }
  puts("");
  return 0;
}

// Whether each control's text, and every value control the widest rates
// the meter formats, fits the control in the control's own font: the
// captions and rates must never be cut at any scale.
static int Fits() {
  static const char *const WidestRates[] = {"1023 B/s", "99.9 KB/s", "1023 KB/s", "99.9 MB/s", "9999 MB/s"};
  const unsigned rates = sizeof(WidestRates) / sizeof(WidestRates[0]);
  HWND meter = FindMeter();
  if (!meter) return puts("no meter window"), 1;
  int misfits = 0;
  HDC dc = GetDC(meter);
  for (HWND child = GetWindow(meter, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char own[256] = "";
    GetWindowTextA(child, own, sizeof(own));
    const bool isValue = (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_RIGHT;
    RECT box;
    GetClientRect(child, &box);
    HGDIOBJ old = SelectObject(dc, HGDIOBJ(SendMessageA(child, WM_GETFONT, 0, 0)));
    for (unsigned i = 0; i <= (isValue ? rates : 0u); i++) {
      const char *text = i == 0 ? own : WidestRates[i - 1];
      RECT need = {0, 0, 0, 0};
      DrawTextA(dc, text, -1, &need, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
      if (need.right > box.right || need.bottom > box.bottom) {
        printf("\"%s\" needs %ldx%ld in %ldx%ld\n", text, need.right, need.bottom, box.right, box.bottom);
        misfits++;
      }
    }
    SelectObject(dc, old);
  }
  ReleaseDC(meter, dc);
  if (misfits == 0) puts("every text fits");
  return misfits ? 1 : 0;
}

static int SendExit(DWORD timeoutMs) {
  DWORD_PTR result;
  const UINT message = RegisterWindowMessageA(ExitMessageName);
  SendMessageTimeoutA(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  if (!WaitFor(timeoutMs, [] { return FindMeter() == nullptr; })) {
    puts("meter window still there");
    return 1;
  }
  puts("meter window gone");
  return 0;
}

static int CountWindows() {
  int count = 0;
  for (HWND w = FindMeter(); w; w = FindWindowExA(nullptr, w, "KelvraMeter", "Kelvra")) count++;
  printf("%d\n", count);
  return 0;
}

// Presses a button of the dialog captioned `caption` once it appears, after
// printing the dialog's text (a message box's text is control 0xFFFF), and
// waits for the dialog to close if asked to.
static int Press(const char *caption, int button, DWORD timeoutMs, bool waitClose) {
  // Found before it is shown, a dialog may still lack its controls.
  HWND box = nullptr, control = nullptr;
  const bool ready = WaitFor(timeoutMs, [&] {
    box = FindWindowA("#32770", caption);
    control = box ? GetDlgItem(box, button) : nullptr;
    return box && control && IsWindowVisible(box);
  });
  if (!ready) {
    printf("no window \"%s\" with button %d\n", caption, button);
    return 1;
  }
  char text[1024] = "";
  GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
  if (text[0]) printf("%s\n", text);
  fflush(stdout);
  // Posted, not sent: the button's command may open a modal box of its own,
  // and a sent click would not return until that one is closed too.
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(control));
  if (!waitClose) return 0;
  if (WaitFor(timeoutMs, [&] { return !IsWindow(box); })) return 0;
  puts("still open");
  return 1;
}

static int Answer(const char *answer, DWORD timeoutMs) {
  const int button = strcmp(answer, "yes") == 0 ? IDYES : strcmp(answer, "no") == 0 ? IDNO : IDOK;
  return Press("Kelvra", button, timeoutMs, true);
}

// Each with ShortcutExtension after it.
static const char *const Shortcuts[] = {ProgramShortcut, HelpShortcut};
static const char UserFile[] = "my notes.txt";
static const char UserText[] = "the user's own words\r\n";

static bool WriteText(const char *path, const char *text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text, DWORD(strlen(text)), &written, nullptr);
  CloseHandle(file);
  return ok && written == strlen(text);
}

// The Kelvra folder in the current user's (CSIDL_PROGRAMS) or the all-users
// (CSIDL_COMMON_PROGRAMS) Start menu; the uninstaller clears both.
static const int ProgramsFolders[] = {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS};
static bool ShortcutFolder(int folderId, char *out) {
  if (!SHGetSpecialFolderPathA(nullptr, out, folderId, TRUE)) return false;
  strcat(out, "\\");
  strcat(out, ProductName);
  return true;
}

// The setup is 32-bit: its uninstall entry lives in the 32-bit view, which
// this 64-bit driver names as the 64-bit product must.
static LONG OpenUninstallKey(HKEY *key, bool create) {
  const REGSAM access = UninstallKeyView | (create ? KEY_ALL_ACCESS : KEY_QUERY_VALUE);
  return create ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyPath, 0, nullptr, 0, access, nullptr, key,
                                  nullptr)
                : RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyPath, 0, access, key);
}

// Lays out what an install leaves: the five files (KELVRA.EXE copied from
// `program`), optionally a file of the user's, the Start menu folder with both
// shortcuts in both Programs folders, and the uninstall key naming the
// directory (InstallLocation only where `location` is set).
static int Install(const char *directory, const char *program, bool userFile, bool location) {
  char path[MAX_PATH], folder[MAX_PATH];
  CreateDirectoryA(directory, nullptr);
  for (const char *name : ProductFiles) {
    snprintf(path, sizeof(path), "%s\\%s", directory, name);
    const bool ok =
        strcmp(name, ProgramFile) == 0 ? CopyFileA(program, path, FALSE) != 0 : WriteText(path, name);
    if (!ok) return printf("cannot write %s\n", path), 1;
  }
  snprintf(path, sizeof(path), "%s\\%s", directory, UserFile);
  if (userFile ? !WriteText(path, UserText) : !DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND)
    return printf("cannot write %s\n", path), 1;
  for (int folderId : ProgramsFolders) {
    if (!ShortcutFolder(folderId, folder)) return puts("no Programs folder"), 1;
    CreateDirectoryA(folder, nullptr);
    for (const char *name : Shortcuts) {
      snprintf(path, sizeof(path), "%s\\%s%s", folder, name, ShortcutExtension);
      if (!WriteText(path, "shortcut")) return printf("cannot write %s\n", path), 1;
    }
  }
  HKEY key;
  if (OpenUninstallKey(&key, true) != ERROR_SUCCESS) return puts("cannot create key"), 1;
  snprintf(path, sizeof(path), "\"%s\\%s\" %s", directory, ProgramFile, UninstallSwitch);
  RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE *)"Kelvra", 7);
  RegSetValueExA(key, UninstallStringValue, 0, REG_SZ, (const BYTE *)path, DWORD(strlen(path) + 1));
  if (location)
    RegSetValueExA(key, InstallLocationValue, 0, REG_SZ, (const BYTE *)directory,
                   DWORD(strlen(directory) + 1));
  RegCloseKey(key);
  puts("installed");
  return 0;
}

static const char *Presence(const char *path) {
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? "absent" : "present";
}

// One line per thing an uninstall may touch, for the script to compare.
static int State(const char *directory) {
  char path[MAX_PATH], folder[MAX_PATH];
  for (const char *name : ProductFiles) {
    snprintf(path, sizeof(path), "%s\\%s", directory, name);
    printf("%s %s\n", name, Presence(path));
  }
  snprintf(path, sizeof(path), "%s\\%s", directory, UserFile);
  char text[64] = "";
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD got = 0;
  if (file != INVALID_HANDLE_VALUE) {
    ReadFile(file, text, sizeof(text) - 1, &got, nullptr);
    CloseHandle(file);
  }
  text[got] = '\0';
  printf("user file %s%s\n", Presence(path),
         file == INVALID_HANDLE_VALUE  ? ""
         : strcmp(text, UserText) == 0 ? ", intact"
                                       : ", changed");
  printf("directory %s\n", Presence(directory));
  for (int folderId : ProgramsFolders) {
    if (!ShortcutFolder(folderId, folder)) return puts("no Programs folder"), 1;
    const char *whose = folderId == CSIDL_PROGRAMS ? "user" : "all-users";
    for (const char *name : Shortcuts) {
      snprintf(path, sizeof(path), "%s\\%s%s", folder, name, ShortcutExtension);
      printf("%s shortcut %s%s %s\n", whose, name, ShortcutExtension, Presence(path));
    }
    printf("%s shortcut folder %s\n", whose, Presence(folder));
  }
  HKEY key;
  const bool keyThere = OpenUninstallKey(&key, false) == ERROR_SUCCESS;
  if (keyThere) RegCloseKey(key);
  printf("uninstall key %s\n", keyThere ? "present" : "absent");
  // Helpers or their private directories left behind would be litter.
  char pattern[MAX_PATH];
  GetWindowsDirectoryA(pattern, sizeof(pattern));
  strcat(pattern, "\\Temp\\Kelvra-*");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  printf("cleanup helper %s\n", search == INVALID_HANDLE_VALUE ? "absent" : "present");
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  return 0;
}

// A file's or folder's descriptor as SDDL: "acl <what was asked for>".
static int PrintSecurity(const char *path, SECURITY_INFORMATION what) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr;
  PACL acl = nullptr;
  if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, what, &owner, nullptr, &acl, nullptr, &descriptor) !=
      ERROR_SUCCESS)
    return puts("no security information"), 1;
  char *sddl = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, what, &sddl, nullptr);
  printf("acl %s\n", sddl ? sddl : "?");
  LocalFree(sddl);
  LocalFree(descriptor);
  return 0;
}

// While a cleanup helper waits: its private directory's owner-independent
// access list, as SDDL, and whether the helper file is in it.
static int HelperDirectory(DWORD timeoutMs) {
  char pattern[MAX_PATH], path[MAX_PATH];
  GetWindowsDirectoryA(pattern, sizeof(pattern));
  strcat(pattern, "\\Temp\\Kelvra-*");
  WIN32_FIND_DATAA found;
  HANDLE search = INVALID_HANDLE_VALUE;
  if (!WaitFor(timeoutMs, [&] { return (search = FindFirstFileA(pattern, &found)) != INVALID_HANDLE_VALUE; }))
    return puts("no helper directory"), 1;
  FindClose(search);
  GetWindowsDirectoryA(path, sizeof(path));
  snprintf(path + strlen(path), sizeof(path) - strlen(path), "\\Temp\\%s", found.cFileName);
  printf("name %s\n", strlen(found.cFileName) == 23 ? "Kelvra- and 16 characters" : found.cFileName);
  if (PrintSecurity(path, DACL_SECURITY_INFORMATION) != 0) return 1;
  strcat(path, "\\KelvraCleanup.exe");
  printf("helper %s\n", Presence(path));
  return 0;
}

// Keeps a file open without sharing for a while, as another program might.
static int Hold(const char *path, DWORD ms) {
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return printf("cannot open %s\n", path), 1;
  puts("holding");
  fflush(stdout);
  Sleep(ms);
  CloseHandle(file);
  return 0;
}

// Drives `rounds` samples and repaints through the meter and reports its GDI
// object count before and after; a leak shows as growth.
static int GdiCount(int rounds) {
  HWND meter = FindMeter();
  if (!meter) {
    puts("no meter window");
    return 1;
  }
  DWORD processId = 0;
  GetWindowThreadProcessId(meter, &processId);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
  if (!process) {
    puts("cannot open the meter process");
    return 1;
  }
  const DWORD before = GetGuiResources(process, GR_GDIOBJECTS);
  for (int i = 0; i < rounds; i++) {
    SendMessageA(meter, WM_TIMER, 1, 0);
    RedrawWindow(meter, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
  const DWORD after = GetGuiResources(process, GR_GDIOBJECTS);
  CloseHandle(process);
  printf("gdi objects %lu -> %lu after %d updates\n", before, after, rounds);
  return 0;
}

// Waits for a started process and prints its whole exit code.
static int ReportExit(PROCESS_INFORMATION &process, DWORD timeoutMs) {
  CloseHandle(process.hThread);
  const DWORD wait = WaitForSingleObject(process.hProcess, timeoutMs);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (wait != WAIT_OBJECT_0) return puts("still running"), 1;
  printf("exit code %lu\n", code);
  return 0;
}

// Runs a command line as a deployment tool would and prints its whole exit
// code: a shell sees only the low eight bits of 1602 or 3010.
static int Run(const char *commandLine, DWORD timeoutMs) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  char line[2048];
  snprintf(line, sizeof(line), "%s", commandLine);
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return printf("cannot start (error %lu)\n", GetLastError()), 1;
  return ReportExit(process, timeoutMs);
}

// Prints the manifest a program carries (resource type 24, id 1).
static int Manifest(const char *program) {
  HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC resource = module ? FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) : nullptr;
  HGLOBAL data = resource ? LoadResource(module, resource) : nullptr;
  if (!data) return puts("no manifest"), 1;
  fwrite(LockResource(data), 1, SizeofResource(module, resource), stdout);
  FreeLibrary(module);
  return 0;
}

// Runs a command line with the user's normal rights: the limited token
// linked to this (administrator's) one, as the desktop shell would start it.
static int RunLimited(const char *commandLine, DWORD timeoutMs) {
  HANDLE token = nullptr;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
      !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size))
    return printf("no limited token (error %lu)\n", GetLastError()), 1;
  CloseHandle(token);
  TOKEN_ELEVATION elevation = {};
  GetTokenInformation(linked.LinkedToken, TokenElevation, &elevation, sizeof(elevation), &size);
  printf("limited token %s\n", elevation.TokenIsElevated ? "elevated" : "not elevated");
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  char line[2048];
  snprintf(line, sizeof(line), "%s", commandLine);
  if (!CreateProcessAsUserA(linked.LinkedToken, nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
    return printf("cannot start (error %lu)\n", GetLastError()), 1;
  CloseHandle(linked.LinkedToken);
  return ReportExit(process, timeoutMs);
}

// Ctrl+T typed into the meter as a user types it; then whether the meter
// stays above other windows.
static int ToggleOnTop(DWORD timeoutMs) {
  HWND meter = nullptr;
  if (!WaitFor(timeoutMs, [&] { return (meter = FindMeter()) != nullptr; }))
    return puts("no meter window"), 1;
  SetForegroundWindow(meter);
  WaitFor(2000, [&] { return GetForegroundWindow() == meter; });
  INPUT keys[4] = {};
  const WORD codes[4] = {VK_CONTROL, 'T', 'T', VK_CONTROL};
  for (int i = 0; i < 4; i++) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = codes[i];
    keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
  }
  SendInput(4, keys, sizeof(INPUT));
  const bool onTop = WaitFor(3000, [&] { return (GetWindowLongA(meter, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; });
  return printf("meter %s\n", onTop ? "on top" : "not on top"), 0;
}

static int OnTop(DWORD timeoutMs) {
  HWND meter = nullptr;
  if (!WaitFor(timeoutMs, [&] { return (meter = FindMeter()) != nullptr; }))
    return puts("no meter window"), 1;
  return printf("meter %s\n", GetWindowLongA(meter, GWL_EXSTYLE) & WS_EX_TOPMOST ? "on top" : "not on top"),
         0;
}

int main(int argc, char **argv) {
  if (argc < 2) {
    puts(
        "usage: driver "
        "wait-window|send-exit|count|frame|texts|fits|answer|press|install|state|hold|ctrl-t|on-top|gdi|"
        "helper-directory|security ...");
    return 2;
  }
  const char *command = argv[1];
  const DWORD timeoutMs = argc == 3 ? DWORD(atoi(argv[2])) : 10000;
  if (strcmp(command, "wait-window") == 0) return WaitWindow(timeoutMs);
  if (strcmp(command, "send-exit") == 0) return SendExit(timeoutMs);
  if (strcmp(command, "count") == 0) return CountWindows();
  if (strcmp(command, "frame") == 0) return Frame();
  if (strcmp(command, "texts") == 0) return ControlTexts();
  if (strcmp(command, "fits") == 0) return Fits();
  if (strcmp(command, "answer") == 0 && argc > 2)
    return Answer(argv[2], argc > 3 ? DWORD(atoi(argv[3])) : 10000);
  if (strcmp(command, "press") == 0 && argc > 4)
    return Press(argv[2], atoi(argv[3]), DWORD(atoi(argv[4])), false);
  if (strcmp(command, "install") == 0 && argc > 3) {
    bool userFile = true, location = true;
    for (int i = 4; i < argc; i++) {
      if (strcmp(argv[i], "--no-user-file") == 0) userFile = false;
      if (strcmp(argv[i], "--no-location") == 0) location = false;
    }
    return Install(argv[2], argv[3], userFile, location);
  }
  if (strcmp(command, "manifest") == 0 && argc > 2) return Manifest(argv[2]);
  if (strcmp(command, "run-limited") == 0 && argc > 3) return RunLimited(argv[3], DWORD(atoi(argv[2])));
  if (strcmp(command, "run") == 0 && argc > 3) return Run(argv[3], DWORD(atoi(argv[2])));
  if (strcmp(command, "helper-directory") == 0) return HelperDirectory(timeoutMs);
  if (strcmp(command, "security") == 0 && argc > 2)
    return PrintSecurity(argv[2], OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
  if (strcmp(command, "hold") == 0 && argc > 3) return Hold(argv[2], DWORD(atoi(argv[3])));
  if (strcmp(command, "state") == 0 && argc > 2) return State(argv[2]);
  if (strcmp(command, "ctrl-t") == 0) return ToggleOnTop(timeoutMs);
  if (strcmp(command, "on-top") == 0) return OnTop(timeoutMs);
  if (strcmp(command, "gdi") == 0) return GdiCount(argc > 2 ? atoi(argv[2]) : 1000);
  puts("unknown command");
  return 2;
}
