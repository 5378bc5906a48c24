// Starting the installed program after an interactive install. The setup
// runs elevated, and a program it starts itself would inherit that: an
// elevated meter on the user's desktop (or on the desktop of whoever
// approved the prompt) whose help opens an editor whose Open dialog starts
// anything as administrator. So the program is started by the desktop
// shell's own process, with the rights of the user who owns the desktop.
// Where no shell offers that (a machine without the desktop shell) the
// program is not started at all while the setup is elevated: a direct start
// would hand it the administrator's rights. A shell that does not answer
// is waited for only so long, so that a hung desktop cannot hang the setup.
#include "setup.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "trustwin.h"

// Long enough for a busy (or emulated) desktop, short enough that a hung
// one does not keep the setup from ending.
constexpr DWORD ShellStartTimeoutMs = 60000;

// The desktop's folder view, reached through the shell's window list: the
// desktop window is the top-level browser of the shell's own process.
static HRESULT FindDesktopView(IShellView **view) {
  *view = NULL;
  IShellWindows *windows = NULL;
  HRESULT hr = CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void **>(&windows));
  if (FAILED(hr)) return hr;
  VARIANT location;
  VariantInit(&location);
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT root;
  VariantInit(&root);
  LONG window = 0;
  IDispatch *desktop = NULL;
  hr = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop);
  windows->Release();
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;  // S_FALSE: no desktop window
  if (desktop == NULL) return E_FAIL;
  IServiceProvider *provider = NULL;
  hr = desktop->QueryInterface(IID_IServiceProvider, reinterpret_cast<void **>(&provider));
  desktop->Release();
  if (FAILED(hr)) return hr;
  IShellBrowser *browser = NULL;
  hr = provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void **>(&browser));
  provider->Release();
  if (FAILED(hr)) return hr;
  hr = browser->QueryActiveShellView(view);
  browser->Release();
  if (SUCCEEDED(hr) && *view == NULL) hr = E_FAIL;
  return hr;
}

// The shell's automation object of that view, living in the shell's process.
static HRESULT GetShellDispatch(IShellView *view, IShellDispatch2 **shell) {
  *shell = NULL;
  IDispatch *background = NULL;
  HRESULT hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void **>(&background));
  if (FAILED(hr)) return hr;
  IShellFolderViewDual *folderView = NULL;
  hr = background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void **>(&folderView));
  background->Release();
  if (FAILED(hr)) return hr;
  IDispatch *application = NULL;
  hr = folderView->get_Application(&application);
  folderView->Release();
  if (FAILED(hr)) return hr;
  if (application == NULL) return E_FAIL;
  hr = application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void **>(shell));
  application->Release();
  return hr;
}

static BSTR AllocWide(const char *text) {
  WCHAR wide[PathCapacity];
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, PathCapacity) == 0) return NULL;
  return SysAllocString(wide);
}

static HRESULT StartThroughDesktopShell(const char *program, const char *directory) {
  IShellView *view = NULL;
  HRESULT hr = FindDesktopView(&view);
  if (FAILED(hr)) return hr;
  IShellDispatch2 *shell = NULL;
  hr = GetShellDispatch(view, &shell);
  view->Release();
  if (FAILED(hr)) return hr;
  BSTR file = AllocWide(program);
  VARIANT arguments, folder, operation, show;
  VariantInit(&arguments);
  VariantInit(&folder);
  VariantInit(&operation);
  VariantInit(&show);
  folder.vt = VT_BSTR;
  folder.bstrVal = AllocWide(directory);
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  hr = file && folder.bstrVal ? shell->ShellExecute(file, arguments, folder, operation, show) : E_OUTOFMEMORY;
  SysFreeString(file);
  VariantClear(&folder);
  shell->Release();
  return hr;
}

// What the start's own thread needs; the thread owns it, as it may outlive
// the wait.
struct ShellStart {
  char program[PathCapacity];
  char directory[PathCapacity];
  HRESULT result;
};

static DWORD WINAPI StartOnOwnThread(LPVOID parameter) {
  ShellStart *start = static_cast<ShellStart *>(parameter);
  start->result = CoInitialize(NULL);
  if (SUCCEEDED(start->result)) {
    start->result = StartThroughDesktopShell(start->program, start->directory);
    CoUninitialize();
  }
  return 0;
}

// The start through the shell, waited for at most ShellStartTimeoutMs.
// HRESULT_FROM_WIN32(ERROR_TIMEOUT) when the shell did not answer in time;
// the abandoned thread ends with the process.
static HRESULT StartThroughShellInTime(const char *program, const char *directory) {
  ShellStart *start =
      static_cast<ShellStart *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ShellStart)));
  if (start == NULL) return E_OUTOFMEMORY;
  lstrcpynA(start->program, program, PathCapacity);
  lstrcpynA(start->directory, directory, PathCapacity);
  HANDLE thread = CreateThread(NULL, 0, StartOnOwnThread, start, 0, NULL);
  if (thread == NULL) {
    HeapFree(GetProcessHeap(), 0, start);
    return HRESULT_FROM_WIN32(GetLastError());
  }
  bool finished = WaitForSingleObject(thread, ShellStartTimeoutMs) == WAIT_OBJECT_0;
  CloseHandle(thread);
  if (!finished) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  HRESULT hr = start->result;
  HeapFree(GetProcessHeap(), 0, start);
  return hr;
}

void StartInstalledProgram(const char *directory) {
  char program[PathCapacity];
  if (!JoinPath(program, sizeof program, directory, ProgramFile)) return;
  HRESULT hr = StartThroughShellInTime(program, directory);
  if (SUCCEEDED(hr)) {
    LogLine("started: %s, through the desktop shell", program);
    return;
  }
  if (hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) {
    LogLine("not started: %s (the desktop shell did not answer within %lu s)", program,
            static_cast<unsigned long>(ShellStartTimeoutMs / 1000));
    return;
  }
  if (ProcessIsElevated()) {
    LogLine("not started: %s (no desktop shell to start it: 0x%08lX; a direct start would run it elevated)",
            program, static_cast<unsigned long>(hr));
    return;
  }
  char command[PathCapacity];
  if (!BuildProgramCommand(directory, command, sizeof command)) return;
  UINT started = WinExec(command, SW_SHOW);
  LogLine("started: %s, directly (no desktop shell to start it: 0x%08lX); WinExec gave %u", program,
          static_cast<unsigned long>(hr), started);
}
