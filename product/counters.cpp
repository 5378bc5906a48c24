// Reads the octet counters of the machine's network interfaces. The table
// functions are looked up at run time: GetIfTable2 (64-bit counters) where the
// system has it, GetIfTable (32-bit) otherwise, and none at all still lets the
// meter start. Loopback, and the layers stacked on real adapters, are left
// out: their traffic is already counted once elsewhere.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // declares the newer table; nothing is linked to it
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>

#include "product.h"

typedef DWORD(WINAPI *GetIfTableFn)(PMIB_IFTABLE table, PULONG size, BOOL order);
typedef DWORD(WINAPI *GetIfTable2Fn)(PMIB_IF_TABLE2 *table);
typedef VOID(WINAPI *FreeMibTableFn)(PVOID memory);

static struct {
  HMODULE library;           // iphlpapi.dll, or null
  GetIfTable2Fn getTable2;   // null where the system lacks it
  FreeMibTableFn freeTable;  // set together with getTable2
  GetIfTableFn getTable;     // the older table, used when getTable2 is null
} counters;

// By full path: the library comes from System32 and nowhere else.
HMODULE LoadSystemLibrary(const char *name) {
  char path[PathCapacity];
  const UINT length = GetSystemDirectoryA(path, sizeof(path));
  if (length == 0 || length >= sizeof(path) || !JoinPath(path, sizeof(path), path, "\\", name))
    return nullptr;
  return LoadLibraryA(path);
}

bool StartInterfaceCounters(bool allowNewerTable) {
  counters = {};
  counters.library = LoadSystemLibrary("iphlpapi.dll");
  if (!counters.library) return false;
  counters.getTable2 = (GetIfTable2Fn)(void *)GetProcAddress(counters.library, "GetIfTable2");
  counters.freeTable = (FreeMibTableFn)(void *)GetProcAddress(counters.library, "FreeMibTable");
  if (!allowNewerTable || !counters.getTable2 || !counters.freeTable) counters.getTable2 = nullptr;
  counters.getTable = (GetIfTableFn)(void *)GetProcAddress(counters.library, "GetIfTable");
  return counters.getTable2 || counters.getTable;
}

void StopInterfaceCounters() {
  if (counters.library) FreeLibrary(counters.library);
  counters = {};
}

// Where the system marks its physical adapters, only they are counted: the
// tunnels, virtual switches and VPN adapters stacked on them carry the same
// bytes a second time. A machine with none (dial-up alone) counts the rest.
static unsigned ReadTable2(InterfaceSample *out, unsigned outCount, bool &ok) {
  PMIB_IF_TABLE2 table = nullptr;
  ok = counters.getTable2(&table) == NO_ERROR && table;
  if (!ok) return 0;
  bool anyHardware = false;
  for (ULONG i = 0; i < table->NumEntries; i++)
    if (table->Table[i].InterfaceAndOperStatusFlags.HardwareInterface) anyHardware = true;
  unsigned count = 0;
  for (ULONG i = 0; i < table->NumEntries && count < outCount; i++) {
    const MIB_IF_ROW2 &row = table->Table[i];
    if (row.Type == IF_TYPE_SOFTWARE_LOOPBACK || row.InterfaceAndOperStatusFlags.FilterInterface) continue;
    if (anyHardware && !row.InterfaceAndOperStatusFlags.HardwareInterface) continue;
    out[count++] = {row.InterfaceLuid.Value, row.InOctets, row.OutOctets, 64};
  }
  counters.freeTable(table);
  return count;
}

static unsigned ReadTable(InterfaceSample *out, unsigned outCount, bool &ok) {
  // The table's size changes as adapters come and go: ask, allocate, retry.
  ok = false;
  for (int attempt = 0; attempt < 3; attempt++) {
    ULONG size = 0;
    if (counters.getTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) return 0;
    MIB_IFTABLE *table = (MIB_IFTABLE *)HeapAlloc(GetProcessHeap(), 0, size);
    if (!table) return 0;
    const DWORD result = counters.getTable(table, &size, FALSE);
    unsigned count = 0;
    if (result == NO_ERROR) {
      for (DWORD i = 0; i < table->dwNumEntries && count < outCount; i++) {
        const MIB_IFROW &row = table->table[i];
        if (row.dwType == MIB_IF_TYPE_LOOPBACK) continue;
        out[count++] = {row.dwIndex, row.dwInOctets, row.dwOutOctets, 32};
      }
    }
    HeapFree(GetProcessHeap(), 0, table);
    if (result == NO_ERROR) {
      ok = true;
      return count;
    }
    if (result != ERROR_INSUFFICIENT_BUFFER) return 0;
  }
  return 0;
}

unsigned ReadInterfaceCounters(InterfaceSample *out, unsigned outCount, bool &ok) {
  ok = false;
  if (counters.getTable2) return ReadTable2(out, outCount, ok);
  if (counters.getTable) return ReadTable(out, outCount, ok);
  return 0;
}
