// The committed artwork: the picture must be a well-formed 116 x 281 RLE8
// bitmap whose palette survives a 256-colour palette display, and the icon
// one 32 x 32, 16-colour image.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> ReadFile(const std::string &name) {
  std::ifstream in(std::string(KELVRA_RESOURCES_DIR) + "/" + name, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t Le32(const std::vector<unsigned char> &b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | std::uint32_t{b.at(at + 3)} << 24;
}

unsigned Le16(const std::vector<unsigned char> &b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8; }

// Decodes an RLE8 stream, bottom-up rows of width pixels. Returns the number
// of rows completed, or -1 for a stream that runs past a row, past the
// data, or ends without the end-of-bitmap marker.
int CountRle8Rows(const unsigned char *data, std::size_t size, unsigned width) {
  std::size_t at = 0;
  unsigned x = 0;
  int rows = 0;
  while (at + 2 <= size) {
    unsigned count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {  // encoded run
      x += count;
    } else if (value == 0) {  // end of line
      rows++;
      x = 0;
    } else if (value == 1) {  // end of bitmap
      return at == size && x <= width ? rows + (x > 0 ? 1 : 0) : -1;
    } else if (value == 2) {  // delta: not used by our art
      return -1;
    } else {  // absolute run, padded to a word
      at += value + (value & 1);
      x += value;
    }
    if (x > width || at > size) return -1;
  }
  return -1;
}

TEST(PictureArt, IsA116By281Rle8BitmapWithTheSystemColoursInPlace) {
  std::vector<unsigned char> file = ReadFile("picture.bmp");
  ASSERT_GT(file.size(), 14u + 40u + 1024u);
  ASSERT_EQ('B', file[0]);
  ASSERT_EQ('M', file[1]);
  std::vector<unsigned char> dib(file.begin() + 14, file.end());
  EXPECT_EQ(40u, Le32(dib, 0));                      // biSize
  EXPECT_EQ(116u, Le32(dib, 4));                     // width
  EXPECT_EQ(281u, Le32(dib, 8));                     // height, positive: bottom-up
  EXPECT_EQ(1u, Le16(dib, 12));                      // planes
  EXPECT_EQ(8u, Le16(dib, 14));                      // bits per pixel
  EXPECT_EQ(1u, Le32(dib, 16));                      // BI_RLE8
  EXPECT_EQ(dib.size() - 40 - 1024, Le32(dib, 20));  // biSizeImage
  EXPECT_EQ(0u, Le32(dib, 32));                      // biClrUsed
  EXPECT_EQ(0u, Le32(dib, 36));                      // biClrImportant
  EXPECT_EQ(14u + 40u + 1024u, Le32(file, 10));

  // The static colours as blue, green, red.
  const std::uint32_t low[10] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000,
                                 0x800080, 0x808000, 0xC0C0C0, 0xC0DCC0, 0xF0CAA6};
  const std::uint32_t high[10] = {0xF0FBFF, 0xA4A0A0, 0x808080, 0x0000FF, 0x00FF00,
                                  0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
  std::set<std::uint32_t> colours;
  for (unsigned i = 0; i < 256; i++) {
    std::uint32_t bgr = dib[40 + 4 * i] << 16 | dib[41 + 4 * i] << 8 | dib[42 + 4 * i];
    colours.insert(bgr);
    if (i < 10) {
      EXPECT_EQ(low[i], bgr) << "entry " << i;
    } else if (i >= 246) {
      EXPECT_EQ(high[i - 246], bgr) << "entry " << i;
    }
  }
  EXPECT_EQ(256u, colours.size());

  EXPECT_EQ(281, CountRle8Rows(dib.data() + 1064, dib.size() - 1064, 116));
}

TEST(IconArt, HoldsOne32By32SixteenColourImage) {
  std::vector<unsigned char> file = ReadFile("setup.ico");
  ASSERT_GE(file.size(), 22u + 40u);
  EXPECT_EQ(0u, Le16(file, 0));   // reserved
  EXPECT_EQ(1u, Le16(file, 2));   // type: icon
  EXPECT_EQ(1u, Le16(file, 4));   // one image
  EXPECT_EQ(32, file[6]);         // width
  EXPECT_EQ(32, file[7]);         // height
  EXPECT_EQ(16, file[8]);         // colours
  EXPECT_EQ(4u, Le16(file, 12));  // bits per pixel
  std::uint32_t bytes = Le32(file, 14), offset = Le32(file, 18);
  ASSERT_EQ(file.size(), std::size_t{offset} + bytes);
  EXPECT_EQ(40u, Le32(file, offset));  // BITMAPINFOHEADER
  EXPECT_EQ(32u, Le32(file, offset + 4));
  EXPECT_EQ(64u, Le32(file, offset + 8));  // image and mask
  EXPECT_EQ(4u, Le16(file, offset + 14));
  EXPECT_EQ(40u + 64u + 512u + 128u, bytes);
}

}  // namespace
