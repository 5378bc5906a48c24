// The interface counters as the system reports them: both tables work, and
// traffic over the loopback interface does not show in the meter's sums.
#include <winsock2.h>

#include "product.h"

#include <gtest/gtest.h>

namespace {

constexpr int LoopbackBytes = 16 << 20;

// Moves `total` bytes through a TCP connection to 127.0.0.1; false on failure.
bool SendOverLoopback(int total) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(address);
  bool ok = listener != INVALID_SOCKET && bind(listener, (sockaddr *)&address, sizeof(address)) == 0 &&
            listen(listener, 1) == 0 && getsockname(listener, (sockaddr *)&address, &length) == 0;
  SOCKET sender = ok ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
  ok = ok && sender != INVALID_SOCKET && connect(sender, (sockaddr *)&address, sizeof(address)) == 0;
  SOCKET receiver = ok ? accept(listener, nullptr, nullptr) : INVALID_SOCKET;
  ok = ok && receiver != INVALID_SOCKET;
  static char buffer[32768];
  // Chunks small enough for the socket buffers, so one thread can do both ends.
  for (int moved = 0; ok && moved < total; moved += sizeof(buffer)) {
    ok = send(sender, buffer, sizeof(buffer), 0) == sizeof(buffer);
    for (int got = 0; ok && got < int(sizeof(buffer));) {
      const int n = recv(receiver, buffer, sizeof(buffer) - got, 0);
      ok = n > 0;
      got += n;
    }
  }
  if (receiver != INVALID_SOCKET) closesocket(receiver);
  if (sender != INVALID_SOCKET) closesocket(sender);
  if (listener != INVALID_SOCKET) closesocket(listener);
  return ok;
}

class InterfaceCounters : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    ASSERT_TRUE(StartInterfaceCounters(GetParam()));
    StartCounters(state);
  }
  void TearDown() override {
    StopInterfaceCounters();
    WSACleanup();
  }
  void Read(uint64_t &received, uint64_t &sent) {
    InterfaceSample now[MaxInterfaces];
    bool ok = false;
    const unsigned count = ReadInterfaceCounters(now, MaxInterfaces, ok);
    ASSERT_TRUE(ok);
    TakeReading(state, now, count, received, sent);
  }
  CounterState state;
};

TEST_P(InterfaceCounters, LeaveLoopbackTrafficOut) {
  uint64_t received, sent;
  Read(received, sent);
  ASSERT_TRUE(SendOverLoopback(LoopbackBytes));
  Read(received, sent);
  // Other traffic on the machine may show; the loopback's 16 MiB must not.
  EXPECT_LT(received, uint64_t(LoopbackBytes / 4));
  EXPECT_LT(sent, uint64_t(LoopbackBytes / 4));
}

INSTANTIATE_TEST_SUITE_P(BothTables, InterfaceCounters, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool> &info) {
                           return info.param ? "Newer" : "Older";
                         });

}  // namespace
