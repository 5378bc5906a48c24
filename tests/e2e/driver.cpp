// The end-to-end suite's eyes inside Wine: a console program run in the same
// prefix (and so the same window station) as the setup under test. It finds
// windows by caption, reads and sets control texts, presses buttons by id,
// and reads back what the setup left in the registry and the Start menu.
// Keyboard input is not its job: the harness types through X, as a user does.
//
// Every command prints plain lines on stdout and exits 0 on success, 1 when
// what it looked for is not there (or did not come in time), 2 on bad usage.
// Texts are printed escaped (\n, \r, \t, \\) so that one control is one line.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD MessageTimeoutMs = 5000;  // a hung target must not hang the suite
constexpr DWORD PollIntervalMs = 100;

std::string Escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// WM_GETTEXT rather than GetWindowText: only the message reaches an edit
// control's live contents in another process.
std::string ReadWindowText(HWND window) {
  char text[4096] = "";
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                           MessageTimeoutMs, &copied))
    return std::string();
  text[sizeof text - 1] = '\0';
  return text;
}

std::string ReadClassName(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

struct WindowSearch {
  const char *caption;  // exact caption wanted
  std::vector<HWND> found;
};

BOOL CALLBACK CollectByCaption(HWND window, LPARAM data) {
  auto *search = reinterpret_cast<WindowSearch *>(data);
  char caption[512] = "";
  GetWindowTextA(window, caption, sizeof caption);
  if (IsWindowVisible(window) && std::strcmp(caption, search->caption) == 0) search->found.push_back(window);
  return TRUE;
}

// A target is either a caption or "#<hex handle>" from an earlier command.
HWND FindTopLevel(const char *target) {
  if (target[0] == '#') {
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(target + 1, nullptr, 16)));
    return IsWindow(window) ? window : nullptr;
  }
  WindowSearch search{target, {}};
  EnumWindows(CollectByCaption, reinterpret_cast<LPARAM>(&search));
  return search.found.empty() ? nullptr : search.found.front();
}

HWND WaitForTopLevel(const char *target, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindTopLevel(target);
    if (window || GetTickCount() - start >= timeoutMs) return window;
    Sleep(PollIntervalMs);
  }
}

// Which program owns a window: lets a test tell the installed copy of the
// product from one started elsewhere.
std::string ReadImagePath(DWORD pid) {
  char path[MAX_PATH] = "";
  DWORD size = sizeof path;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process) {
    if (!QueryFullProcessImageNameA(process, 0, path, &size)) path[0] = '\0';
    CloseHandle(process);
  }
  return path;
}

void PrintWindowLine(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  RECT box{};
  GetWindowRect(window, &box);
  std::printf("#%llx\tpid=%lu\texe=%s\tclass=%s\trect=%ld,%ld,%ld,%ld\towner=#%llx\t%s\n",
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)), pid,
              Escape(ReadImagePath(pid)).c_str(), ReadClassName(window).c_str(), box.left, box.top, box.right,
              box.bottom,
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetWindow(window, GW_OWNER))),
              Escape(ReadWindowText(window)).c_str());
}

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM) {
  if (IsWindowVisible(window)) PrintWindowLine(window);
  return TRUE;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  std::printf("%d\tclass=%s\tstyle=%08lx\tvisible=%d\tenabled=%d\t%s\n", GetDlgCtrlID(child),
              ReadClassName(child).c_str(), static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)),
              IsWindowVisible(child) ? 1 : 0, IsWindowEnabled(child) ? 1 : 0,
              Escape(ReadWindowText(child)).c_str());
  return TRUE;
}

// The folder browser's tree lives in another process: its items can only be
// read through a buffer placed in that process's memory.
struct RemoteBuffer {
  HANDLE process;  // opened with VM rights, closed by FreeRemote
  void *address;   // inside the target process
  SIZE_T size;
};

bool AllocRemote(HWND window, SIZE_T size, RemoteBuffer *buffer) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  buffer->process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!buffer->process) return false;
  buffer->size = size;
  buffer->address = VirtualAllocEx(buffer->process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  if (!buffer->address) {
    CloseHandle(buffer->process);
    return false;
  }
  return true;
}

void FreeRemote(RemoteBuffer *buffer) {
  VirtualFreeEx(buffer->process, buffer->address, 0, MEM_RELEASE);
  CloseHandle(buffer->process);
}

// Reads one tree item's label. The TVITEMA is laid out for the target's
// pointer width: a 32-bit setup has a 32-bit tree control.
std::string ReadTreeItemText(HWND tree, HTREEITEM item, const RemoteBuffer &buffer, bool target32) {
  char *remote = static_cast<char *>(buffer.address);
  char *remoteText = remote + 256;
  if (target32) {
    struct {
      UINT mask;
      DWORD hItem;
      UINT state, stateMask;
      DWORD pszText;
      int cchTextMax, iImage, iSelectedImage, cChildren;
      DWORD lParam;
    } record{};
    record.mask = TVIF_TEXT;
    record.hItem = static_cast<DWORD>(reinterpret_cast<uintptr_t>(item));
    record.pszText = static_cast<DWORD>(reinterpret_cast<uintptr_t>(remoteText));
    record.cchTextMax = 255;
    WriteProcessMemory(buffer.process, remote, &record, sizeof record, nullptr);
  } else {
    TVITEMA record{};
    record.mask = TVIF_TEXT;
    record.hItem = item;
    record.pszText = remoteText;
    record.cchTextMax = 255;
    WriteProcessMemory(buffer.process, remote, &record, sizeof record, nullptr);
  }
  DWORD_PTR ok = 0;
  SendMessageTimeoutA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG,
                      MessageTimeoutMs, &ok);
  char text[256] = "";
  if (ok) ReadProcessMemory(buffer.process, remoteText, text, sizeof text - 1, nullptr);
  return text;
}

bool IsProcess32(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  BOOL wow64 = FALSE;
  if (process) {
    IsWow64Process(process, &wow64);
    CloseHandle(process);
  }
  return wow64 != FALSE;
}

HWND FindChildByClass(HWND parent, const char *className) {
  return FindWindowExA(parent, nullptr, className, nullptr);
}

int ListWindows() {
  EnumWindows(PrintTopLevel, 0);
  return 0;
}

void PrintWindowAndControls(HWND window) {
  PrintWindowLine(window);
  EnumChildWindows(window, PrintChild, 0);
}

struct OwnedSearch {
  HWND owner;  // the window whose owned popups are wanted
  HWND found;
};

BOOL CALLBACK FindOwned(HWND window, LPARAM data) {
  auto *search = reinterpret_cast<OwnedSearch *>(data);
  if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == search->owner) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// Waits for a visible window owned by the one named: the folder browser's
// caption is the platform's, so it is found through its owner instead.
int WaitOwnedCommand(const char *ownerTarget, DWORD timeoutMs) {
  HWND owner = FindTopLevel(ownerTarget);
  if (!owner) return 1;
  DWORD start = GetTickCount();
  for (;;) {
    OwnedSearch search{owner, nullptr};
    EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      PrintWindowAndControls(search.found);
      return 0;
    }
    if (GetTickCount() - start >= timeoutMs) return 1;
    Sleep(PollIntervalMs);
  }
}

int WaitGoneCommand(const char *target, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (FindTopLevel(target)) {
    if (GetTickCount() - start >= timeoutMs) return 1;
    Sleep(PollIntervalMs);
  }
  return 0;
}

int TextsCommand(const char *target, DWORD timeoutMs) {
  HWND window = WaitForTopLevel(target, timeoutMs);
  if (!window) return 1;
  PrintWindowAndControls(window);
  return 0;
}

int ClickCommand(const char *target, int id) {
  HWND window = FindTopLevel(target);
  if (!window) return 1;
  HWND control = GetDlgItem(window, id);
  // Posted, not sent: the click may open a modal box and must not wait on it.
  return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control)) ? 0
                                                                                                         : 1;
}

// What the caption's close button sends; posted for the same reason as a click.
int CloseCommand(const char *target) {
  HWND window = FindTopLevel(target);
  return window && PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
}

int SetTextCommand(const char *target, int id, const char *text) {
  HWND window = FindTopLevel(target);
  HWND control = window ? GetDlgItem(window, id) : nullptr;
  if (!control) return 1;
  DWORD_PTR ok = 0;
  SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      MessageTimeoutMs, &ok);
  return ok ? 0 : 1;
}

int FocusCommand(const char *target, int id) {
  HWND window = FindTopLevel(target);
  HWND control = window ? GetDlgItem(window, id) : nullptr;
  if (!control) return 1;
  // WM_NEXTDLGCTL moves the focus the way the dialog manager would, from
  // inside the dialog's own thread.
  return PostMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE) ? 0 : 1;
}

// Prints the selected item of the folder browser's tree and its ancestors,
// innermost first, one label per line.
int TreeSelectionCommand(const char *target) {
  HWND browser = FindTopLevel(target);
  HWND tree = browser ? FindChildByClass(browser, WC_TREEVIEWA) : nullptr;
  if (!tree) return 1;
  RemoteBuffer buffer{};
  if (!AllocRemote(tree, 1024, &buffer)) return 1;
  bool target32 = IsProcess32(tree);
  DWORD_PTR item = 0;
  SendMessageTimeoutA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, MessageTimeoutMs, &item);
  int depth = 0;
  while (item && depth < 64) {
    std::printf("%s\n",
                Escape(ReadTreeItemText(tree, reinterpret_cast<HTREEITEM>(item), buffer, target32)).c_str());
    SendMessageTimeoutA(tree, TVM_GETNEXTITEM, TVGN_PARENT, static_cast<LPARAM>(item), SMTO_ABORTIFHUNG,
                        MessageTimeoutMs, &item);
    ++depth;
  }
  FreeRemote(&buffer);
  return depth > 0 ? 0 : 1;
}

std::string Utf8(const wchar_t *text) {
  char out[4096] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
  return out;
}

// Paths in any script: read through the wide interface, printed in UTF-8.
int ReadLinkCommand(const char *linkPath) {
  HRESULT hr = CoInitialize(nullptr);
  IShellLinkW *link = nullptr;
  hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                        reinterpret_cast<void **>(&link));
  if (FAILED(hr)) {
    std::fprintf(stderr, "CoCreateInstance failed: %08lx\n", static_cast<unsigned long>(hr));
    CoUninitialize();
    return 1;
  }
  IPersistFile *file = nullptr;
  hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file));
  if (SUCCEEDED(hr)) {
    wchar_t widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH);
    hr = file->Load(widePath, STGM_READ);
    file->Release();
  }
  if (SUCCEEDED(hr)) {
    wchar_t text[INFOTIPSIZE] = L"";
    WIN32_FIND_DATAW found{};
    link->GetPath(text, MAX_PATH, &found, SLGP_RAWPATH);
    std::printf("path=%s\n", Escape(Utf8(text)).c_str());
    // The item list is what the shell resolves; the path above may come from
    // an 8-bit copy stored in the writer's code page.
    PIDLIST_ABSOLUTE items = nullptr;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetIDList(&items)) && items) {
      SHGetPathFromIDListW(items, text);
      CoTaskMemFree(items);
    }
    std::printf("itempath=%s\n", Escape(Utf8(text)).c_str());
    text[0] = L'\0';
    link->GetDescription(text, INFOTIPSIZE);
    std::printf("description=%s\n", Escape(Utf8(text)).c_str());
    text[0] = L'\0';
    link->GetArguments(text, INFOTIPSIZE);
    std::printf("arguments=%s\n", Escape(Utf8(text)).c_str());
    text[0] = L'\0';
    link->GetWorkingDirectory(text, MAX_PATH);
    std::printf("workdir=%s\n", Escape(Utf8(text)).c_str());
  } else {
    std::fprintf(stderr, "cannot load %s: %08lx\n", linkPath, static_cast<unsigned long>(hr));
  }
  link->Release();
  CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 1;
}

// view is 32 or 64: a 32-bit setup writes through the redirected view.
// size is what the 8-bit call reports; a string's data is printed in UTF-8,
// a DWORD's in decimal.
int ReadRegistryCommand(int view, const char *subkey, const char *valueName) {
  HKEY key = nullptr;
  REGSAM access = KEY_READ | (view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, access, &key) != ERROR_SUCCESS) return 1;
  char data[1024] = "";
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  LONG status = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
  wchar_t name[256];
  wchar_t wide[1024] = L"";
  DWORD wideSize = sizeof wide - sizeof(wchar_t);
  MultiByteToWideChar(CP_ACP, 0, valueName, -1, name, 256);
  if (status == ERROR_SUCCESS)
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(wide), &wideSize);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return 1;
  std::string text;
  if (type == REG_DWORD && size == 4) {
    DWORD value;
    std::memcpy(&value, data, sizeof value);
    text = std::to_string(value);
  } else {
    text = Utf8(wide);
  }
  std::printf("type=%lu\nsize=%lu\ndata=%s\n", type, size, Escape(text).c_str());
  return 0;
}

int KeyExistsCommand(int view, const char *subkey) {
  HKEY key = nullptr;
  REGSAM access = KEY_READ | (view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, access, &key) != ERROR_SUCCESS) return 1;
  RegCloseKey(key);
  return 0;
}

int FolderCommand(int csidl) {
  char path[MAX_PATH] = "";
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return 1;
  std::printf("%s\n", path);
  return 0;
}

struct WatchedProcess {
  DWORD pid;
  std::vector<HWND> seen;  // every visible top-level window it ever had
};

BOOL CALLBACK NoteWindowOf(HWND window, LPARAM data) {
  auto *watched = reinterpret_cast<WatchedProcess *>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == watched->pid && IsWindowVisible(window)) {
    for (HWND known : watched->seen)
      if (known == window) return TRUE;
    watched->seen.push_back(window);
    PrintWindowLine(window);
  }
  return TRUE;
}

// Runs a command line exactly as given (the harness cannot pass quotes
// through Wine's own command line unchanged otherwise) and watches, every
// few milliseconds until it ends, for any window it shows: an unattended
// run must show none. Prints its windows, then "exit=CODE"; a run still
// going after timeoutMs is ended and reported as "exit=timeout".
int RunWatchCommand(DWORD timeoutMs, const char *commandLine) {
  std::vector<char> line(commandLine, commandLine + std::strlen(commandLine) + 1);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("exit=cannot-start %lu\n", GetLastError());
    return 1;
  }
  CloseHandle(process.hThread);
  WatchedProcess watched{process.dwProcessId, {}};
  DWORD start = GetTickCount();
  bool ended = false;
  while (!ended && GetTickCount() - start < timeoutMs) {
    EnumWindows(NoteWindowOf, reinterpret_cast<LPARAM>(&watched));
    ended = WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0;
  }
  DWORD code = 0;
  if (ended) {
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit=%lu\n", code);
  } else {
    TerminateProcess(process.hProcess, 1);
    std::printf("exit=timeout\n");
  }
  CloseHandle(process.hProcess);
  return 0;
}

// A top-level window whose thread stops reading its messages: what a hung
// program looks like to a broadcast.
int HangCommand(DWORD milliseconds) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "KelvraTestHung";
  if (!RegisterClassA(&windowClass)) return 1;
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Hung Window", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!window) return 1;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  Sleep(milliseconds);
  DestroyWindow(window);
  return 0;
}

int Usage() {
  std::fputs(
      "usage: driver list\n"
      "       driver gone CAPTION|#HWND MS          wait until it is gone\n"
      "       driver owned CAPTION|#HWND MS         wait for a window it owns; print its controls\n"
      "       driver texts CAPTION|#HWND [MS]       wait for a visible top-level window; print\n"
      "                                             it and its controls' texts\n"
      "       driver click CAPTION|#HWND ID         post the command of control ID\n"
      "       driver close CAPTION|#HWND            what the caption's close button does\n"
      "       driver settext CAPTION|#HWND ID TEXT\n"
      "       driver focus CAPTION|#HWND ID\n"
      "       driver tree CAPTION|#HWND             the folder browser's selected item and parents\n"
      "       driver lnk FILE.lnk\n"
      "       driver reg 32|64 SUBKEY VALUE         a value under HKEY_LOCAL_MACHINE\n"
      "       driver key 32|64 SUBKEY               exit 0 when the key exists\n"
      "       driver folder CSIDL\n"
      "       driver hang MS                        show a window, then stop answering it\n"
      "       driver runwatch MS COMMANDLINE        run it; print any window it shows and its exit code\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  int result = 2;
  if (command == "list" && argc == 2)
    result = ListWindows();
  else if (command == "owned" && argc == 4)
    result = WaitOwnedCommand(argv[2], std::strtoul(argv[3], nullptr, 10));
  else if (command == "gone" && argc == 4)
    result = WaitGoneCommand(argv[2], std::strtoul(argv[3], nullptr, 10));
  else if (command == "texts" && (argc == 3 || argc == 4))
    result = TextsCommand(argv[2], argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 0);
  else if (command == "click" && argc == 4)
    result = ClickCommand(argv[2], std::atoi(argv[3]));
  else if (command == "close" && argc == 3)
    result = CloseCommand(argv[2]);
  else if (command == "settext" && argc == 5)
    result = SetTextCommand(argv[2], std::atoi(argv[3]), argv[4]);
  else if (command == "focus" && argc == 4)
    result = FocusCommand(argv[2], std::atoi(argv[3]));
  else if (command == "tree" && argc == 3)
    result = TreeSelectionCommand(argv[2]);
  else if (command == "lnk" && argc == 3)
    result = ReadLinkCommand(argv[2]);
  else if (command == "reg" && argc == 5)
    result = ReadRegistryCommand(std::atoi(argv[2]), argv[3], argv[4]);
  else if (command == "key" && argc == 4)
    result = KeyExistsCommand(std::atoi(argv[2]), argv[3]);
  else if (command == "hang" && argc == 3)
    result = HangCommand(std::strtoul(argv[2], nullptr, 10));
  else if (command == "runwatch" && argc == 4)
    result = RunWatchCommand(std::strtoul(argv[2], nullptr, 10), argv[3]);
  else if (command == "folder" && argc == 3)
    result = FolderCommand(std::atoi(argv[2]));
  else
    return Usage();
  std::fflush(stdout);
  return result;
}
