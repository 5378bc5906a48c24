// The stub's first instruction. The C runtime's own start (argument
// parsing, thread-local storage, exception and floating-point set-up,
// about 10 KB with its imports) is left out of the image: the setup reads
// its command line from the system and uses none of it, and every copy of
// the setup carries the stub.
#include <windows.h>

#include <cstdlib>

// The compiler's own start of static construction; the stack protector's
// random guard is set up there, so it runs before any protected function.
extern "C" void __main();

extern "C" void SetupEntry() {
  __main();
  // exit, not ExitProcess: what stdio still buffers (the log) is written.
  std::exit(WinMain(GetModuleHandleA(NULL), NULL, NULL, SW_SHOWDEFAULT));
}
