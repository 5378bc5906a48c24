// Bounded appends and the program's one case-blind comparison.
#include "text.h"

#include <cstring>

bool AppendBytes(char *out, size_t outSize, const char *text, size_t length) {
  if (outSize == 0) return length == 0;
  const size_t used = strlen(out);
  const size_t room = outSize - 1 - used;
  const size_t taken = length < room ? length : room;
  memcpy(out + used, text, taken);
  out[used + taken] = '\0';
  return taken == length;
}

bool AppendText(char *out, size_t outSize, const char *text) {
  return AppendBytes(out, outSize, text, strlen(text));
}

bool AppendNumber(char *out, size_t outSize, uint64_t value) {
  char digits[20];
  size_t count = 0;
  do {
    digits[sizeof(digits) - 1 - count++] = char('0' + value % 10);
    value /= 10;
  } while (value);
  return AppendBytes(out, outSize, digits + sizeof(digits) - count, count);
}

// Locale-free: with the UTF-8 code page a byte above 0x7F is part of a
// longer character, never a letter of its own.
static char FoldCase(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool SameText(const char *a, const char *b) {
  while (*a && FoldCase(*a) == FoldCase(*b)) a++, b++;
  return FoldCase(*a) == FoldCase(*b);
}

bool SameTextPrefix(const char *a, const char *prefix) {
  for (; *prefix; a++, prefix++)
    if (FoldCase(*a) != FoldCase(*prefix)) return false;
  return true;
}
