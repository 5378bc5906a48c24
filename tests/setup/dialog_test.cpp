// The setup dialog made from the built stub's own template, driven without
// a message loop: the proposed destination and reading the box back.
#include "setup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resource.h"

extern const char *builtStubPath;

namespace {

class SetupDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, builtStubPath);
    stub = LoadLibraryExA(builtStubPath, NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, stub);
    setupState.instance = stub;
    dialog = CreateDialogParamA(stub, MAKEINTRESOURCEA(IDD_SETUP), NULL, SetupDialogProc, 0);
    if (dialog == NULL) GTEST_SKIP() << "no window station (Wine without a display)";
  }
  void TearDown() override {
    if (dialog != NULL) DestroyWindow(dialog);
    setupState.instance = GetModuleHandleA(NULL);
    if (stub != NULL) FreeLibrary(stub);
  }
  std::string BoxText() {
    char text[1024] = "";
    GetDlgItemTextA(dialog, IDC_DESTINATION, text, sizeof text);
    return text;
  }
  HMODULE stub = NULL;
  HWND dialog = NULL;
};

TEST_F(SetupDialogTest, ProposesProgramFilesOnTheWindowsDrive) {
  char windowsDir[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windowsDir, MAX_PATH), 2u);
  EXPECT_EQ(std::string(windowsDir, 2) + "\\Program Files\\Kelvra", BoxText());
}

TEST_F(SetupDialogTest, ReadsTheBoxCharacterForCharacter) {
  SetDlgItemTextA(dialog, IDC_DESTINATION, " D:\\My Apps\\ ");
  ReadDestinationBox(dialog);
  EXPECT_STREQ(" D:\\My Apps\\ ", setupState.destination);
}

TEST_F(SetupDialogTest, ReadsAtMost259CharactersSoTheNulFits) {
  std::memset(setupState.destination, 'z', sizeof setupState.destination);
  SetDlgItemTextA(dialog, IDC_DESTINATION, ("C:\\" + std::string(300, 'a')).c_str());
  ReadDestinationBox(dialog);
  EXPECT_EQ(259u, strnlen(setupState.destination, sizeof setupState.destination));
  // Cut text is refused by the install sequence, never installed into.
  char working[PathCapacity];
  EXPECT_EQ(DestinationCheck::TooLong, PrepareWorkingPath(setupState.destination, working));
}

TEST_F(SetupDialogTest, SetsTheSetupIconOnTheDialog) { EXPECT_NE(0u, GetClassLongPtrA(dialog, GCLP_HICON)); }

}  // namespace
