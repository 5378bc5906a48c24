// The setup dialog made from the built stub's own template, driven without
// a message loop: the proposed destination, reading the box back, and the
// layout at the display's scale (run at 96, 144 and 192 DPI).
#include "setup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

// The dialog grows with the display's scale: the Wine script runs this at
// 96 DPI first, which keeps the client size in the file it names, and then
// at other scales, which compare with it. Where the dialog's face is the
// real one, the frame holds the 116 x 281 picture exactly at 96 DPI.
TEST_F(SetupDialogTest, GrowsInProportionToTheDisplayScale) {
  const UINT dpi = GetDpiForWindow(dialog);
  RECT frame, client;
  GetClientRect(GetDlgItem(dialog, IDC_PICTURE), &frame);
  GetClientRect(dialog, &client);
  EXPECT_NEAR(double(client.right) / frame.right, 412.0 / 116, 0.1);  // the template's proportions
  EXPECT_NEAR(double(client.bottom) / frame.bottom, 305.0 / 281, 0.05);
  HDC dc = GetDC(dialog);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
  char face[LF_FACESIZE] = "";
  GetTextFaceA(dc, sizeof face, face);
  SelectObject(dc, oldFont);
  ReleaseDC(dialog, dc);
  if (dpi == 96 && lstrcmpA(face, "Microsoft Sans Serif") == 0) {
    EXPECT_EQ(116, frame.right);
    EXPECT_EQ(281, frame.bottom);
  }
  const char *record = getenv("KELVRA_DIALOG_AT_96");
  if (record == NULL) return;
  long width = 0, height = 0;
  if (dpi == 96) {
    FILE *out = fopen(record, "w");
    ASSERT_NE(nullptr, out);
    fprintf(out, "%ld %ld\n", client.right, client.bottom);
    fclose(out);
    return;
  }
  FILE *in = fopen(record, "r");
  ASSERT_NE(nullptr, in) << "no size at 96 DPI";
  ASSERT_EQ(2, fscanf(in, "%ld %ld", &width, &height));
  fclose(in);
  // Font hinting rounds dialog units a little differently at each size.
  const double scale = dpi / 96.0;
  EXPECT_NEAR(width * scale, client.right, 0.1 * width * scale);
  EXPECT_NEAR(height * scale, client.bottom, 0.1 * height * scale);
}

// Shows the dialog and lets every control paint itself.
void ShowPainted(HWND dialog) {
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);
  RedrawWindow(dialog, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  for (int round = 0; round < 40; round++) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    MsgWaitForMultipleObjects(0, NULL, FALSE, 25, QS_ALLINPUT);
  }
}

TEST_F(SetupDialogTest, PictureCoversItsFrame) {
  HWND picture = GetDlgItem(dialog, IDC_PICTURE);
  ShowPainted(dialog);
  RECT frame;
  GetClientRect(picture, &frame);
  HDC dc = GetDC(picture);
  // The picture ends in a light sky blue: blue well above red at the frame's
  // far corner and along its bottom edge.
  for (POINT at : {POINT{frame.right - 2, frame.bottom - 2}, POINT{frame.right / 2, frame.bottom - 2},
                   POINT{frame.right - 2, frame.bottom / 3}}) {
    COLORREF pixel = GetPixel(dc, at.x, at.y);
    EXPECT_GT(int(GetBValue(pixel)) - int(GetRValue(pixel)), 40)
        << at.x << "," << at.y << " " << std::hex << pixel;
  }
  ReleaseDC(picture, dc);
}

// Every static and button text, measured in the control's own font, fits
// the room its control has: nothing is cut at any scale.
TEST_F(SetupDialogTest, EveryTextFitsItsControl) {
  HDC dc = GetDC(dialog);
  int checked = 0;
  for (HWND control = GetWindow(dialog, GW_CHILD); control != NULL;
       control = GetWindow(control, GW_HWNDNEXT)) {
    char className[16], text[512];
    GetClassNameA(control, className, sizeof className);
    GetWindowTextA(control, text, sizeof text);
    bool button = lstrcmpiA(className, "Button") == 0;
    if (text[0] == '\0' || (!button && lstrcmpiA(className, "Static") != 0)) continue;
    SCOPED_TRACE(text);
    RECT room;
    GetClientRect(control, &room);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT need = {0, 0, room.right, 0};
    if (button) {
      DrawTextA(dc, text, -1, &need, DT_CALCRECT | DT_SINGLELINE);
      // A push button draws its text inside a border and a focus rectangle.
      need.right += 2 * (GetSystemMetrics(SM_CXEDGE) + 2);
    } else {
      DrawTextA(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK);
    }
    SelectObject(dc, oldFont);
    EXPECT_LE(need.right, room.right);
    EXPECT_LE(need.bottom, room.bottom);
    checked++;
  }
  ReleaseDC(dialog, dc);
  EXPECT_EQ(5, checked);  // Install, Cancel, the introduction, Browse, the label
}

}  // namespace
