// The built setup stub's resources, read from the executable itself as a
// data file: the dialog template control by control, the pictures' headers
// and the manifest (its DPI declarations and the icon group are
// tests/release/check_display.py's, over both built programs).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"

extern const char *builtStubPath;

namespace {

// Walks a dialog template: words, then strings of UTF-16 or ordinals.
struct TemplateReader {
  const BYTE *at;
  WORD Word() {
    WORD value;
    CopyMemory(&value, at, sizeof value);
    at += sizeof value;
    return value;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | DWORD{Word()} << 16;
  }
  // A string, or "#n" for an ordinal (0xFFFF followed by n).
  std::string Text() {
    WORD first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  void AlignDword(const BYTE *base) {
    while ((at - base) % 4 != 0) at++;
  }
};

struct ControlRow {
  int id;
  const char *windowClass;  // as an ordinal: #128 button, #129 edit, #130 static
  const char *text;
  short x, y, cx, cy;
  DWORD style;
};

const char IntroText[] =
    "This program will install Kelvra 2.0 on your computer.\n\nKelvra displays the data transfer "
    "rate of your Internet connection, both numerically and as a real-time graph.\n\nPlease close "
    "all running applications before starting the installation.";

const ControlRow Controls[8] = {
    {IDOK, "#128", "Install", 215, 165, 53, 16, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {IDCANCEL, "#128", "Cancel", 155, 165, 53, 16, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
    {IDC_INTRO, "#130", IntroText, 97, 14, 165, 75, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
    {-1, "#128", "", 91, 3, 177, 151, WS_CHILD | WS_VISIBLE | BS_GROUPBOX},
    {IDC_DESTINATION, "#129", "", 98, 116, 163, 14,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
    {IDC_BROWSE, "#128", "&Browse...", 210, 134, 52, 15, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
    {-1, "#130", "Select destination directory:", 99, 107, 162, 8,
     WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
    {IDC_PICTURE, "#130", "", 7, 7, 79, 174, WS_CHILD | WS_VISIBLE | SS_SUNKEN | SS_OWNERDRAW},
};

class StubResources : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, builtStubPath) << "pass the built stub's path as the first argument";
    module = LoadLibraryExA(builtStubPath, NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module) << builtStubPath;
  }
  void TearDown() override {
    if (module != NULL) FreeLibrary(module);
  }
  const BYTE *Find(int id, LPCSTR type, DWORD *size = nullptr) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (found == NULL) return nullptr;
    if (size != nullptr) *size = SizeofResource(module, found);
    return static_cast<const BYTE *>(LockResource(LoadResource(module, found)));
  }
  HMODULE module = NULL;
};

TEST_F(StubResources, DialogMatchesTheLayoutControlByControl) {
  const BYTE *base = Find(IDD_SETUP, RT_DIALOG);
  ASSERT_NE(nullptr, base);
  TemplateReader in = {base};
  EXPECT_EQ(DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER | DS_SETFONT |
                  DS_3DLOOK),
            in.Dword());
  EXPECT_EQ(0u, in.Dword());  // extended style
  ASSERT_EQ(8, in.Word());    // controls
  EXPECT_EQ(0, in.Word());    // x
  EXPECT_EQ(0, in.Word());    // y
  EXPECT_EQ(275, in.Word());
  EXPECT_EQ(188, in.Word());
  EXPECT_EQ("", in.Text());  // no menu
  EXPECT_EQ("", in.Text());  // default class
  EXPECT_EQ("Kelvra 2.0 Setup", in.Text());
  EXPECT_EQ(8, in.Word());  // points
  EXPECT_EQ("Microsoft Sans Serif", in.Text());

  for (const ControlRow &row : Controls) {
    in.AlignDword(base);
    SCOPED_TRACE(row.text);
    EXPECT_EQ(row.style, in.Dword());
    EXPECT_EQ(0u, in.Dword());
    EXPECT_EQ(row.x, static_cast<short>(in.Word()));
    EXPECT_EQ(row.y, static_cast<short>(in.Word()));
    EXPECT_EQ(row.cx, static_cast<short>(in.Word()));
    EXPECT_EQ(row.cy, static_cast<short>(in.Word()));
    EXPECT_EQ(row.id, static_cast<short>(in.Word()));
    EXPECT_EQ(row.windowClass, in.Text());
    EXPECT_EQ(row.text, in.Text());
    EXPECT_EQ(0, in.Word());  // no creation data
  }
}

TEST_F(StubResources, PictureIsA116By281Rle8BitmapOf256Colours) {
  DWORD size = 0;
  const BYTE *picture = Find(IDB_PICTURE, RT_BITMAP, &size);
  ASSERT_NE(nullptr, picture);
  const BITMAPINFOHEADER *header = reinterpret_cast<const BITMAPINFOHEADER *>(picture);
  EXPECT_EQ(40u, header->biSize);
  EXPECT_EQ(116, header->biWidth);
  EXPECT_EQ(281, header->biHeight);
  EXPECT_EQ(1, header->biPlanes);
  EXPECT_EQ(8, header->biBitCount);
  EXPECT_EQ(DWORD(BI_RLE8), header->biCompression);
  EXPECT_EQ(0u, header->biClrUsed);
  EXPECT_EQ(0u, header->biClrImportant);
  EXPECT_EQ(40u + 1024u + header->biSizeImage, size);
}

TEST_F(StubResources, ManifestAsksForAdministratorCommonControls6AndUtf8) {
  DWORD size = 0;
  const BYTE *manifest = Find(1, RT_MANIFEST, &size);
  ASSERT_NE(nullptr, manifest);
  std::string text(reinterpret_cast<const char *>(manifest), size);
  EXPECT_NE(std::string::npos, text.find("level=\"requireAdministrator\""));
  EXPECT_NE(std::string::npos, text.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
  EXPECT_NE(
      std::string::npos,
      text.find("<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8<"));
  for (const char *os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                         "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
    EXPECT_NE(std::string::npos, text.find(os)) << os;
}

}  // namespace
