// Blanks, case, bounded appends and the one quoting rule. These few lines
// spare both programs the C library's locale and printf family and make
// every cut explicit.
#include "text.h"

#include <cstring>

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char *SkipBlanks(const char *p) {
  while (IsBlank(*p)) p++;
  return p;
}

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameText(const char *a, const char *b) {
  while (*a && FoldCase(*a) == FoldCase(*b)) a++, b++;
  return FoldCase(*a) == FoldCase(*b);
}

bool SameTextPrefix(const char *a, const char *prefix) {
  for (; *prefix; a++, prefix++)
    if (FoldCase(*a) != FoldCase(*prefix)) return false;
  return true;
}

bool AppendBytes(char *out, std::size_t outSize, const char *text, std::size_t length) {
  if (outSize == 0) return length == 0;
  const std::size_t used = std::strlen(out);
  const std::size_t room = outSize - 1 - used;
  const std::size_t taken = length < room ? length : room;
  std::memcpy(out + used, text, taken);
  out[used + taken] = '\0';
  return taken == length;
}

bool AppendText(char *out, std::size_t outSize, const char *text) {
  return AppendBytes(out, outSize, text, std::strlen(text));
}

bool AppendNumber(char *out, std::size_t outSize, std::uint64_t value) {
  char digits[20];
  std::size_t count = 0;
  do {
    digits[sizeof digits - 1 - count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  return AppendBytes(out, outSize, digits + sizeof digits - count, count);
}

// Whether the quotes of the argument start..end stand where the rule allows:
// none, or a pair that closes at its end and opens at its start or right
// after its first '='.
static bool QuotesAllowed(const char *start, const char *end) {
  const char *first =
      static_cast<const char *>(std::memchr(start, '"', static_cast<std::size_t>(end - start)));
  if (first == nullptr) return true;
  const char *second =
      static_cast<const char *>(std::memchr(first + 1, '"', static_cast<std::size_t>(end - first - 1)));
  if (second != end - 1) return false;  // left open, a third one, or text after the closing one
  if (first == start) return true;
  const char *equals =
      static_cast<const char *>(std::memchr(start, '=', static_cast<std::size_t>(first - start)));
  return equals != nullptr && equals + 1 == first;
}

const char *ReadArgument(const char *p, char *out, std::size_t outSize, ArgumentRead *result) {
  const char *start = SkipBlanks(p);
  const char *end = start;
  bool quoted = false;
  for (; *end != '\0' && (quoted || !IsBlank(*end)); end++)
    if (*end == '"') quoted = !quoted;
  std::size_t length = 0;
  *result = QuotesAllowed(start, end) ? ArgumentRead::Ok : ArgumentRead::BadQuote;
  for (const char *c = start; c < end; c++) {
    if (*c == '"') continue;
    if (length + 1 < outSize)
      out[length++] = *c;
    else if (*result == ArgumentRead::Ok)
      *result = ArgumentRead::TooLong;
  }
  out[length] = '\0';
  return end;
}
