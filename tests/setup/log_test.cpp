// The /LOG= file: appended to, never truncated, one CRLF line per call, and
// silent when no log was asked for or it cannot be opened.
#include "setup.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class SetupLogTest : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path = std::string(temp) + "kelvra log test.log";
    DeleteFileA(path.c_str());
  }
  void TearDown() override {
    CloseSetupLog();
    DeleteFileA(path.c_str());
  }
  std::string Contents() {
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    char buffer[4096];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
      text.append(buffer, got);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return text;
  }
  std::string path;
};

TEST_F(SetupLogTest, AppendsEachRunBehindTheLast) {
  OpenSetupLog(path.c_str());
  LogText("command line: ", std::string(3000, 'x').c_str());  // longer than one formatted line
  LogLine("result: %d %s", 0, "installed");
  CloseSetupLog();
  OpenSetupLog(path.c_str());
  LogLine("result: %d %s (%s)", 1603, "install failed", "XR_CRC 0xE0000006");
  CloseSetupLog();
  std::string text = Contents();
  EXPECT_NE(std::string::npos, text.find("command line: " + std::string(3000, 'x') + "\r\n"));
  size_t first = text.find("result: 0 installed\r\n");
  size_t second = text.find("result: 1603 install failed (XR_CRC 0xE0000006)\r\n");
  ASSERT_NE(std::string::npos, first);
  ASSERT_NE(std::string::npos, second);
  EXPECT_LT(first, second);
  // Each run opens with one line: "YYYY-MM-DD hh:mm:ss Kelvra Setup <version>".
  const std::string heading = std::string(" ") + LogHeading + "\r\n";
  size_t firstHeading = text.find(heading);
  size_t secondHeading = text.find(heading, firstHeading + 1);
  EXPECT_EQ(19u, firstHeading);
  ASSERT_NE(std::string::npos, secondHeading);
  EXPECT_EQ(text.rfind("\r\n", secondHeading) + 2 + 19, secondHeading);
  EXPECT_LT(first, secondHeading);
  EXPECT_LT(secondHeading, second);
  EXPECT_EQ(std::string::npos, text.find(heading, secondHeading + 1));
}

TEST_F(SetupLogTest, WritesNothingWithoutALog) {
  OpenSetupLog("");
  LogLine("result: %d", 0);
  OpenSetupLog("Q:\\no such drive\\kelvra.log");
  LogLine("result: %d", 0);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
}

}  // namespace
