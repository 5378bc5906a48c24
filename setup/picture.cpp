// The dialog's picture: a 256-colour bitmap resource, shown through a
// palette made from its own colour table so it looks right on a palette
// display. At 96 DPI it is copied pixel for pixel; when the dialog has
// grown with the display's scale, a rendering three times as large is
// filtered down (or up) to fill the frame. Rebuilt on every paint; nothing is cached between paints.
#include "setup.h"

#include "resource.h"

// A table larger than this is no use to a palette display (and would be
// more than a LOGPALETTE can count); such a bitmap is painted without one.
constexpr unsigned MaxPaletteColours = 256;

// packedBitmap: a BITMAPINFOHEADER and its colour table. Returns NULL when
// the bitmap has no colour table or memory is short; *colourCount is
// always the table's size.
HPALETTE CreatePicturePalette(const unsigned char *packedBitmap, int *colourCount) {
  unsigned count = PictureColourCount(packedBitmap);
  *colourCount = static_cast<int>(count);
  if (count == 0 || count > MaxPaletteColours) return NULL;
  HGLOBAL block = GlobalAlloc(GHND, sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * count);
  if (block == NULL) return NULL;
  LOGPALETTE *logical = static_cast<LOGPALETTE *>(GlobalLock(block));
  HPALETTE palette = NULL;
  if (logical != NULL) {
    logical->palVersion = 0x300;
    logical->palNumEntries = static_cast<WORD>(count);
    FillPaletteEntries(packedBitmap, count, reinterpret_cast<unsigned char *>(logical->palPalEntry));
    palette = CreatePalette(logical);
    GlobalUnlock(block);
  }
  GlobalFree(block);
  return palette;
}

// The caller owns and deletes both the bitmap and *palette, either of
// which may be NULL.
HBITMAP LoadPictureBitmap(HINSTANCE instance, int resourceId, HPALETTE *palette) {
  *palette = NULL;
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(resourceId), RT_BITMAP);
  if (found == NULL) return NULL;
  DWORD size = SizeofResource(instance, found);
  HGLOBAL loaded = LoadResource(instance, found);
  const unsigned char *packed = static_cast<const unsigned char *>(LockResource(loaded));
  if (packed == NULL || size < sizeof(BITMAPINFOHEADER) || PicturePixelOffset(packed) >= size) {
    FreeResource(loaded);
    return NULL;
  }
  HDC screen = GetDC(NULL);
  int colourCount = 0;
  *palette = CreatePicturePalette(packed, &colourCount);
  HPALETTE previous = NULL;
  if (*palette != NULL) {
    previous = SelectPalette(screen, *palette, FALSE);
    RealizePalette(screen);
  }
  HBITMAP bitmap = CreateDIBitmap(screen, reinterpret_cast<const BITMAPINFOHEADER *>(packed), CBM_INIT,
                                  packed + PicturePixelOffset(packed),
                                  reinterpret_cast<const BITMAPINFO *>(packed), DIB_RGB_COLORS);
  // A palette still selected into a released context could not be deleted.
  if (previous != NULL) SelectPalette(screen, previous, FALSE);
  ReleaseDC(NULL, screen);
  FreeResource(loaded);
  return bitmap;
}

void PaintPicture(HWND control) {
  HDC dc = GetDC(control);
  RECT frame;
  GetClientRect(control, &frame);
  HPALETTE palette = NULL;
  HBITMAP bitmap = LoadPictureBitmap(setupState.instance, IDB_PICTURE, &palette);
  BITMAP size = {};
  if (bitmap != NULL) GetObjectA(bitmap, sizeof size, &size);
  // At 96 DPI the frame holds the picture exactly. Grown with the display's
  // scale (or a wider face), it gets the large rendering filtered to fit.
  const bool scaled = bitmap != NULL && (size.bmWidth != frame.right || size.bmHeight != frame.bottom);
  if (scaled) {
    HPALETTE largePalette = NULL;
    HBITMAP large = LoadPictureBitmap(setupState.instance, IDB_PICTURE_LARGE, &largePalette);
    if (large != NULL) {
      DeleteObject(bitmap);
      if (palette != NULL) DeleteObject(palette);
      bitmap = large;
      palette = largePalette;
      GetObjectA(bitmap, sizeof size, &size);
    } else if (largePalette != NULL) {
      DeleteObject(largePalette);
    }
  }
  if (bitmap == NULL) {
    if (palette != NULL) DeleteObject(palette);
    ReleaseDC(control, dc);
    return;
  }

  HDC memory = CreateCompatibleDC(dc);
  HPALETTE dcPalette = NULL;
  HPALETTE memoryPalette = NULL;
  if (palette != NULL) {
    dcPalette = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
    memoryPalette = SelectPalette(memory, palette, FALSE);
    RealizePalette(memory);
  }
  HGDIOBJ previousBitmap = SelectObject(memory, bitmap);
  if (scaled) {
    // Halftone averages every source pixel into the result: sharp edges,
    // no dropped lines, where the default mode would skip rows and columns.
    int oldMode = SetStretchBltMode(dc, HALFTONE);
    POINT oldOrigin;
    SetBrushOrgEx(dc, 0, 0, &oldOrigin);
    StretchBlt(dc, 0, 0, frame.right, frame.bottom, memory, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
    SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, NULL);
    SetStretchBltMode(dc, oldMode);
  } else {
    BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
  }
  SelectObject(memory, previousBitmap);
  DeleteObject(bitmap);

  if (memoryPalette != NULL) SelectPalette(memory, memoryPalette, FALSE);
  if (dcPalette != NULL) SelectPalette(dc, dcPalette, FALSE);
  DeleteDC(memory);
  ReleaseDC(control, dc);
  if (palette != NULL) DeleteObject(palette);
}
