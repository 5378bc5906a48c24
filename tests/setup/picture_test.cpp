// The dialog picture against real GDI (under Wine): the palette mirrors the
// colour table, the bitmap has the picture's size, and painting again and
// again leaves the process's GDI object count where it was.
#include "setup.h"

#include <gtest/gtest.h>

#include <vector>

#include "resource.h"

namespace {

const unsigned char *OwnPicture() {
  HMODULE self = GetModuleHandleA(NULL);
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(IDB_PICTURE), RT_BITMAP);
  return found ? static_cast<const unsigned char *>(LockResource(LoadResource(self, found))) : nullptr;
}

TEST(CreatePicturePalette, MirrorsTheColourTable) {
  const unsigned char *packed = OwnPicture();
  ASSERT_NE(nullptr, packed);
  int count = -1;
  HPALETTE palette = CreatePicturePalette(packed, &count);
  ASSERT_NE(nullptr, palette);
  EXPECT_EQ(256, count);
  PALETTEENTRY entries[256];
  ASSERT_EQ(256u, GetPaletteEntries(palette, 0, 256, entries));
  for (int i = 0; i < 256; i++) {
    const unsigned char *quad = packed + 40 + 4 * i;  // blue, green, red, reserved
    EXPECT_EQ(quad[2], entries[i].peRed) << i;
    EXPECT_EQ(quad[1], entries[i].peGreen) << i;
    EXPECT_EQ(quad[0], entries[i].peBlue) << i;
    EXPECT_EQ(0, entries[i].peFlags) << i;
  }
  DeleteObject(palette);
}

TEST(CreatePicturePalette, GivesNoneWithoutAColourTable) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biBitCount = 24;
  int count = -1;
  EXPECT_EQ(nullptr, CreatePicturePalette(reinterpret_cast<const unsigned char *>(&header), &count));
  EXPECT_EQ(0, count);
}

TEST(CreatePicturePalette, GivesNoneForMoreColoursThanAPaletteDisplayHas) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biBitCount = 8;
  header.biClrUsed = 300;
  int count = -1;
  EXPECT_EQ(nullptr, CreatePicturePalette(reinterpret_cast<const unsigned char *>(&header), &count));
  EXPECT_EQ(300, count);
}

TEST(LoadPictureBitmap, GivesThePictureAtItsFullSize) {
  HPALETTE palette = NULL;
  HBITMAP bitmap = LoadPictureBitmap(GetModuleHandleA(NULL), IDB_PICTURE, &palette);
  ASSERT_NE(nullptr, bitmap);
  EXPECT_NE(nullptr, palette);
  BITMAP size = {};
  ASSERT_NE(0, GetObjectA(bitmap, sizeof size, &size));
  EXPECT_EQ(116, size.bmWidth);
  EXPECT_EQ(281, size.bmHeight);
  DeleteObject(bitmap);
  DeleteObject(palette);
}

TEST(LoadPictureBitmap, GivesNothingForAMissingResource) {
  HPALETTE palette = reinterpret_cast<HPALETTE>(1);
  EXPECT_EQ(nullptr, LoadPictureBitmap(GetModuleHandleA(NULL), 4242, &palette));
  EXPECT_EQ(nullptr, palette);
}

// Where the system counts a process's GDI objects, the count after many
// paints must equal the count before. Where it does not (Wine answers 0),
// painting more often than the process's GDI handle table can hold shows
// a leak of even one object per paint: the later paints' objects cannot
// be created.
constexpr int PaintsBeyondHandleTable = 70000;

TEST(PaintPicture, LeavesNoGdiObjectsBehind) {
  setupState.instance = GetModuleHandleA(NULL);
  HWND control = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE | SS_OWNERDRAW, 0, 0, 120, 290, NULL,
                                 NULL, setupState.instance, NULL);
  if (control == NULL) GTEST_SKIP() << "no window station (Wine without a display)";
  PaintPicture(control);  // the first paint may allocate lasting system objects
  DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (before == 0 && sizeof(void *) == 4) {
    DestroyWindow(control);
    GTEST_SKIP() << "too slow under emulated 32-bit Wine; the 64-bit build runs this check";
  }
  int paints = before != 0 ? 25 : PaintsBeyondHandleTable;
  for (int i = 0; i < paints; i++) PaintPicture(control);
  EXPECT_EQ(before, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));

  HPALETTE palette = NULL;
  HBITMAP bitmap = LoadPictureBitmap(setupState.instance, IDB_PICTURE, &palette);
  EXPECT_NE(nullptr, bitmap) << "GDI objects ran out after " << paints << " paints";
  EXPECT_NE(nullptr, palette);
  DeleteObject(bitmap);
  DeleteObject(palette);

  // The picture reached the window: the top-left pixel is the picture's
  // dark sky, not the control's light background.
  HDC dc = GetDC(control);
  COLORREF painted = GetPixel(dc, 0, 0);
  ReleaseDC(control, dc);
  EXPECT_LT(GetRValue(painted) + GetGValue(painted) + GetBValue(painted), 200);
  DestroyWindow(control);
}

}  // namespace
