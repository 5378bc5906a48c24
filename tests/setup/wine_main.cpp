// Entry of the Wine test program: COM initialised as the setup does it, and
// the path of the built stub (first argument) for the resource tests.
#include "setup.h"

#include <gtest/gtest.h>

// The setup's state, which the stub's entry holds in the setup itself.
SetupState setupState;
const char *builtStubPath = nullptr;

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc > 1) builtStubPath = argv[1];
  CoInitialize(NULL);
  int failed = RUN_ALL_TESTS();
  CoUninitialize();
  return failed;
}
