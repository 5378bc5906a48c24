// Registration with the shell: the Kelvra folder in the Start menu (the
// user's, or everyone's in the unattended mode) with its shortcuts, and the
// machine-wide uninstall entry. Nothing here shows a message or removes
// anything; COM is initialised by the caller.
#include "setup.h"

#include <shlobj.h>

static_assert(UninstallKeyView == KEY_WOW64_32KEY, "the view the uninstaller reads");

// out: PathCapacity bytes; the folder's path with "\Kelvra" added, or empty
// when the folder cannot be resolved or the result would not fit.
void GetProgramsFolder(int folderId, char *out) {
  out[0] = '\0';
  IMalloc *allocator = NULL;
  if (FAILED(SHGetMalloc(&allocator))) return;
  LPITEMIDLIST list = NULL;
  if (SUCCEEDED(SHGetSpecialFolderLocation(NULL, folderId, &list))) {
    if (!SHGetPathFromIDListA(list, out)) out[0] = '\0';
    allocator->Free(list);
  }
  if (out[0] != '\0' &&
      (AddTrailingBackslash(out) == nullptr || !JoinPath(out, PathCapacity, out, ProductName)))
    out[0] = '\0';
  allocator->Release();
}

// Through the wide interface, converted from our code page here, so that a
// path in any script reaches the link as the file system names it.
HRESULT CreateShellLink(const char *target, const char *linkFile, const char *description) {
  WCHAR wideTarget[PathCapacity], wideFile[PathCapacity], wideDescription[PathCapacity];
  if (MultiByteToWideChar(CP_ACP, 0, target, -1, wideTarget, PathCapacity) == 0 ||
      MultiByteToWideChar(CP_ACP, 0, linkFile, -1, wideFile, PathCapacity) == 0 ||
      MultiByteToWideChar(CP_ACP, 0, description, -1, wideDescription, PathCapacity) == 0)
    return HRESULT_FROM_WIN32(GetLastError());
  IShellLinkW *link = NULL;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void **>(&link));
  if (FAILED(hr)) return hr;
  IPersistFile *file = NULL;
  hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file));
  if (FAILED(hr)) {
    link->Release();
    return hr;
  }
  link->SetPath(wideTarget);
  link->SetDescription(wideDescription);
  hr = file->Save(wideFile, TRUE);
  file->Release();
  link->Release();
  return hr;
}

// Skips the shortcut (E_FAIL) when the Programs folder is unknown or a path
// would not fit, instead of writing a .lnk into the root of the drive.
HRESULT CreateStartMenuShortcut(int folderId, const char *destination, const char *fileName,
                                const char *shortcutName) {
  char folder[PathCapacity];
  GetProgramsFolder(folderId, folder);
  char linkFile[PathCapacity];
  char target[PathCapacity];
  if (!ComposeShortcutPaths(folder, destination, fileName, shortcutName, linkFile, target)) return E_FAIL;
  CreateDirectoryA(folder, NULL);  // exists after an earlier install
  return CreateShellLink(target, linkFile, shortcutName);
}

static void SetStringValue(HKEY key, const char *name, const char *text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                 static_cast<DWORD>(lstrlenA(text) + 1));
}

static void SetDwordValue(HKEY key, const char *name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

// The values Apps & Features and package managers read besides the name and
// the command. destination ends in '\'.
static void SetDescriptionValues(HKEY key, const char *destination, const char *quietCommand,
                                 DWORD estimatedKilobytes) {
  char text[PathCapacity + 16];
  SetStringValue(key, "DisplayVersion", ProductVersionText);
  SetStringValue(key, "Publisher", PublisherName);
  if (JoinPath(text, sizeof text, destination, ProgramFile, ",0")) SetStringValue(key, "DisplayIcon", text);
  if (CopyInstallLocation(destination, text, sizeof text)) SetStringValue(key, InstallLocationValue, text);
  SetDwordValue(key, "EstimatedSize", estimatedKilobytes);
  SetDwordValue(key, "NoModify", 1);
  SetDwordValue(key, "NoRepair", 1);
  SetStringValue(key, "QuietUninstallString", quietCommand);
}

// destination: PathCapacity bytes, given its final backslash in place.
// Returns 0, writing nothing, when the key cannot be created or a command
// would not fit. The key goes to the 32-bit view whatever the process's
// width, where the uninstaller of the 32-bit product looks for it.
int RegisterUninstall(char *destination, DWORD estimatedKilobytes) {
  if (AddTrailingBackslash(destination) == nullptr) return 0;
  char command[PathCapacity + 16];
  char quietCommand[PathCapacity + 32];
  if (!BuildUninstallCommand(destination, command, sizeof command) ||
      !BuildQuietUninstallCommand(destination, quietCommand, sizeof quietCommand))
    return 0;
  HKEY key = NULL;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyPath, 0, NULL, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE | UninstallKeyView, NULL, &key, NULL) != ERROR_SUCCESS)
    return 0;
  SetStringValue(key, "DisplayName", ProductName);
  SetStringValue(key, UninstallStringValue, command);
  SetDescriptionValues(key, destination, quietCommand, estimatedKilobytes);
  RegCloseKey(key);
  return 1;
}

bool ReadRegisteredLocation(char *out, DWORD capacity) {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyPath, 0, KEY_QUERY_VALUE | UninstallKeyView, &key) !=
      ERROR_SUCCESS)
    return false;
  DWORD type = 0;
  DWORD size = capacity - 1;
  LONG status =
      RegQueryValueExA(key, InstallLocationValue, NULL, &type, reinterpret_cast<BYTE *>(out), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ || size == 0) return false;
  out[size] = '\0';  // a value stored without its NUL still ends here
  return true;
}
