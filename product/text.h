// Bounded text for the few strings KELVRA.EXE formats: rates, messages, log
// lines and command lines. These few lines spare the program the C library's
// printf family and make every cut explicit. No system call.
#pragma once

#include <cstddef>
#include <cstdint>

// Append the first `length` bytes of text (or all of it, or a number) to out,
// a NUL-terminated string in outSize bytes, as much as fits; false when
// something was cut.
bool AppendBytes(char *out, size_t outSize, const char *text, size_t length);
bool AppendText(char *out, size_t outSize, const char *text);
bool AppendNumber(char *out, size_t outSize, uint64_t value);

// Compares without regard to the case of ASCII letters; other bytes must match.
bool SameText(const char *a, const char *b);
// True when a begins with prefix, compared the same way.
bool SameTextPrefix(const char *a, const char *prefix);
