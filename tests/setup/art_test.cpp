// The committed artwork: the picture must be a well-formed 116 x 281 RLE8
// bitmap whose palette survives a 256-colour palette display, and the icons
// must hold every size the shell asks for.
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

struct IconFile {
  const char *name;
  std::vector<unsigned> sizes;  // in the file's order
  unsigned smallBits;           // of the images below 256 pixels
};

// The setup's icon must fit its stub: 16-colour small images. The program's
// carries alpha at every size.
TEST(IconArt, HoldsEverySizeTheShellAsksFor) {
  const IconFile icons[] = {{"setup.ico", {16, 32, 48, 256}, 4},
                            {"kelvra.ico", {16, 20, 24, 32, 40, 48, 64, 256}, 32}};
  for (const IconFile &icon : icons) {
    SCOPED_TRACE(icon.name);
    std::vector<unsigned char> file = ReadFile(icon.name);
    ASSERT_GE(file.size(), 6u + 16 * icon.sizes.size());
    EXPECT_EQ(0u, Le16(file, 0));  // reserved
    EXPECT_EQ(1u, Le16(file, 2));  // type: icon
    ASSERT_EQ(icon.sizes.size(), Le16(file, 4));
    std::size_t end = 6 + 16 * icon.sizes.size();
    for (std::size_t i = 0; i < icon.sizes.size(); i++) {
      const std::size_t entry = 6 + 16 * i;
      const unsigned size = icon.sizes[i];
      SCOPED_TRACE(size);
      EXPECT_EQ(size % 256, file[entry]);  // 0 stands for 256
      EXPECT_EQ(size % 256, file[entry + 1]);
      const unsigned bits = size == 256 ? 32 : icon.smallBits;
      EXPECT_EQ(bits, Le16(file, entry + 6));
      const std::uint32_t bytes = Le32(file, entry + 8), offset = Le32(file, entry + 12);
      EXPECT_EQ(end, offset);  // images follow one another
      end = std::size_t{offset} + bytes;
      ASSERT_LE(end, file.size());
      if (size == 256) {
        EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n", 8),
                  std::string(file.begin() + offset, file.begin() + offset + 8));
        continue;
      }
      const unsigned colours = bits == 4 ? 16 : 0;
      const unsigned rowBytes = (size * bits + 31) / 32 * 4, maskBytes = (size + 31) / 32 * 4;
      EXPECT_EQ(40u, Le32(file, offset));
      EXPECT_EQ(size, Le32(file, offset + 4));
      EXPECT_EQ(2 * size, Le32(file, offset + 8));  // image and mask
      EXPECT_EQ(bits, Le16(file, offset + 14));
      EXPECT_EQ(40 + 4 * colours + size * (rowBytes + maskBytes), bytes);
    }
    EXPECT_EQ(file.size(), end);
  }
}

}  // namespace
