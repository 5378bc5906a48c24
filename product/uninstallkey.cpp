// The setup's uninstall entry under HKLM, always in the 32-bit registry view
// where the 32-bit setup writes it, whichever build of this program runs.
#include "product.h"

static_assert(UninstallKeyView == KEY_WOW64_32KEY, "the setup's registry view");

// A REG_SZ value, NUL-terminated whatever the registry holds; empty when
// absent or of another type.
static void ReadString(HKEY key, const char *name, char *out, DWORD outSize) {
  DWORD type = 0, size = outSize - 1;
  out[0] = '\0';
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(out), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    out[0] = '\0';
    return;
  }
  out[size] = '\0';
}

bool ReadRegisteredDirectory(char *out, size_t outSize) {
  out[0] = '\0';
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyPath, 0, KEY_QUERY_VALUE | UninstallKeyView, &key) !=
      ERROR_SUCCESS)
    return false;
  char location[PathCapacity], command[PathCapacity + 32];
  ReadString(key, InstallLocationValue, location, sizeof(location));
  ReadString(key, UninstallStringValue, command, sizeof(command));
  RegCloseKey(key);
  return RegisteredDirectory(location, command, out, outSize);
}

bool DeleteUninstallKey() {
  const LONG result = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyPath, UninstallKeyView, 0);
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    LogLine("uninstall entry not deleted: HKLM\\", UninstallKeyPath, DWORD(result));
    return false;
  }
  LogLine("uninstall entry deleted: HKLM\\", UninstallKeyPath);
  return true;
}
