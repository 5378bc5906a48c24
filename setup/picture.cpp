// The dialog's picture: a 256-colour bitmap resource, shown through a
// palette made from its own colour table so it looks right on a palette
// display. At 96 DPI it is copied pixel for pixel; when the dialog has
// grown with the display's scale, it is magnified by whole pixels and
// filtered down to fill the frame, sharp at any scale. Rebuilt on every paint; nothing is cached between
// paints.
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

// The picture grown by a whole factor, every pixel a square block: the
// pixel art stays crisp, and filtering it down to a frame between two
// factors blurs no more than one block's edge. Returns NULL when memory is
// short; the caller deletes the result.
static HBITMAP MagnifyPicture(HDC dc, HDC source, const BITMAP &size, int factor) {
  HBITMAP large = CreateCompatibleBitmap(dc, size.bmWidth * factor, size.bmHeight * factor);
  HDC target = large != NULL ? CreateCompatibleDC(dc) : NULL;
  if (target == NULL) {
    if (large != NULL) DeleteObject(large);
    return NULL;
  }
  HGDIOBJ previous = SelectObject(target, large);
  SetStretchBltMode(target, COLORONCOLOR);
  StretchBlt(target, 0, 0, size.bmWidth * factor, size.bmHeight * factor, source, 0, 0, size.bmWidth,
             size.bmHeight, SRCCOPY);
  SelectObject(target, previous);
  DeleteDC(target);
  return large;
}

// Fills the frame from the picture selected into memory: magnified to the
// next whole factor at or above the frame's size, then halftone-filtered
// down, which averages every source pixel into the result.
static void StretchPicture(HDC dc, HDC memory, const BITMAP &size, const RECT &frame) {
  const int across = (frame.right + size.bmWidth - 1) / size.bmWidth;
  const int down = (frame.bottom + size.bmHeight - 1) / size.bmHeight;
  const int factor = across > down ? across : down;
  HBITMAP large = factor > 1 ? MagnifyPicture(dc, memory, size, factor) : NULL;
  HDC source = memory;
  HGDIOBJ previous = NULL;
  int scale = 1;
  if (large != NULL) {
    source = CreateCompatibleDC(dc);
    if (source != NULL) {
      previous = SelectObject(source, large);
      scale = factor;
    } else {
      source = memory;
    }
  }
  int oldMode = SetStretchBltMode(dc, HALFTONE);
  POINT oldOrigin;
  SetBrushOrgEx(dc, 0, 0, &oldOrigin);
  StretchBlt(dc, 0, 0, frame.right, frame.bottom, source, 0, 0, size.bmWidth * scale, size.bmHeight * scale,
             SRCCOPY);
  SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, NULL);
  SetStretchBltMode(dc, oldMode);
  if (source != memory) {
    SelectObject(source, previous);
    DeleteDC(source);
  }
  if (large != NULL) DeleteObject(large);
}

void PaintPicture(HWND control) {
  HPALETTE palette = NULL;
  HBITMAP bitmap = LoadPictureBitmap(setupState.instance, IDB_PICTURE, &palette);
  if (bitmap == NULL) {
    if (palette != NULL) DeleteObject(palette);
    return;
  }
  BITMAP size = {};
  GetObjectA(bitmap, sizeof size, &size);
  RECT frame;
  GetClientRect(control, &frame);

  HDC dc = GetDC(control);
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
  // At 96 DPI the frame holds the picture exactly; grown with the display's
  // scale (or a wider face), the picture is scaled to fill it.
  if (size.bmWidth == frame.right && size.bmHeight == frame.bottom)
    BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
  else
    StretchPicture(dc, memory, size, frame);
  SelectObject(memory, previousBitmap);
  DeleteObject(bitmap);

  if (memoryPalette != NULL) SelectPalette(memory, memoryPalette, FALSE);
  if (dcPalette != NULL) SelectPalette(dc, dcPalette, FALSE);
  DeleteDC(memory);
  ReleaseDC(control, dc);
  if (palette != NULL) DeleteObject(palette);
}
