// The stub's first instruction. The C runtime's own start (argument
// parsing, thread-local storage, exception and floating-point set-up,
// about 10 KB with its imports) is left out of the image: the setup reads
// its command line from the system and uses none of it, and every copy of
// the setup carries the stub.
#include <windows.h>

#include <cstdlib>

// The static constructors as the linker lists them: a count or -1 first,
// a null entry last. The stack protector's seed is among them.
extern "C" void (*__CTOR_LIST__[])();

// The compiler's own runner is not used: it registers the destructors with
// an atexit that only the left-out start provides.
static void RunStaticConstructors() {
  std::size_t count = 0;
  while (__CTOR_LIST__[count + 1] != nullptr) count++;
  for (std::size_t i = count; i >= 1; i--) __CTOR_LIST__[i]();  // last to first, as that runner does
}

extern "C" void SetupEntry() {
  RunStaticConstructors();
  // exit, not ExitProcess: what stdio still buffers (the log) is written.
  std::exit(WinMain(GetModuleHandleA(NULL), NULL, NULL, SW_SHOWDEFAULT));
}
