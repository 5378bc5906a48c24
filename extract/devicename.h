// Which path components Windows opens as a device instead of a file. The
// extractor refuses such names and the packer will not store them, so both
// use this one table. Portable, standard library only, no other dependency.
#pragma once

#include <cstddef>

namespace arj {

// True when Windows would open the component (length bytes, no separator)
// as a device: a device word in any case, followed by nothing, or by spaces
// and dots, or by spaces and an extension ("CON", "con.txt", "CON .TXT",
// "NUL..", "AUX  "). COM and LPT take a digit 1 to 9 or a superscript one,
// two or three in the ANSI code page, the bytes a name keeps when its host
// keeps bit 7.
inline bool IsWindowsDeviceName(const char *component, std::size_t length) {
  static const char *const words[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  std::size_t base = 0;
  while (base < length && component[base] != '.') base++;
  while (base > 0 && component[base - 1] == ' ') base--;
  char upper[8];
  if (base == 0 || base >= sizeof upper) return false;
  for (std::size_t i = 0; i < base; i++) {
    char c = component[i];
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  upper[base] = 0;
  for (const char *word : words) {
    std::size_t i = 0;
    while (word[i] && word[i] == upper[i]) i++;
    if (!word[i] && !upper[i]) return true;
  }
  if (base != 4) return false;
  bool port = (upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
              (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T');
  unsigned char digit = static_cast<unsigned char>(upper[3]);
  return port && ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

}  // namespace arj
