// The stack protector's guard and its failure, for both programs. The
// compiler's own runtime seeds the guard through the CryptoAPI, which
// Windows forwards from ADVAPI32 to a DLL outside the KnownDLLs: an
// elevated program would load that DLL from its own folder, where a
// planted copy runs before any code of ours. This seed takes only what
// KERNEL32 gives: the clock, the counters and the ids of the process and
// the thread, with the image's own address, which differs per start where
// the system relocates images.
#include <windows.h>

#include <cstdint>

extern "C" {

// Until the seed runs, a value whose zero byte ends any string copy.
std::uintptr_t __stack_chk_guard = static_cast<std::uintptr_t>(0x2F8A0EFF);

[[noreturn]] void __stack_chk_fail() {
  // The stack is overwritten: nothing on it, handlers included, is trusted.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
  __builtin_trap();
}

}  // extern "C"

// Runs with the static constructors, before any function of ours that the
// protector checks; it must not be checked itself, as the guard changes
// under it.
__attribute__((constructor, no_stack_protector)) static void SeedStackGuard() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  std::uint64_t seed = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) ^
                       static_cast<std::uint64_t>(counter.QuadPart) ^
                       static_cast<std::uint64_t>(GetCurrentProcessId()) << 32 ^ GetCurrentThreadId() ^
                       static_cast<std::uint64_t>(GetTickCount()) << 16 ^
                       reinterpret_cast<std::uintptr_t>(&__stack_chk_guard);
  seed ^= seed >> 32;
  std::uintptr_t guard = static_cast<std::uintptr_t>(seed * 0x9E3779B97F4A7C15ull);
  if (guard != 0) __stack_chk_guard = guard;
}
