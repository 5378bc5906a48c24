// The stack protector's runtime of both programs: seeded at start, and a
// smashed stack ends the process the way the system reports it.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

TEST(StackGuard, IsSeededBeforeTheProgramRuns) {
  EXPECT_NE(__stack_chk_guard, static_cast<std::uintptr_t>(0x2F8A0EFF));
  EXPECT_NE(__stack_chk_guard, 0u);
}

volatile std::size_t overrun = 64;

__attribute__((noinline)) void SmashStack() {
  char buffer[8];
  std::memset(buffer, 'A', overrun);
  asm volatile("" : : "r"(buffer) : "memory");
}

TEST(StackGuardDeathTest, EndsTheProcessOnASmashedStack) {
  EXPECT_EXIT(SmashStack(), testing::ExitedWithCode(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN)), "");
}

}  // namespace
