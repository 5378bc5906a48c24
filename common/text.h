// Text as the setup and the installed program both handle it: blanks, ASCII
// case, bounded appends and the arguments of a command line. No system call
// and no locale, so the Linux tests run exactly this. Every writer is bounded
// by its buffer; everything read may be untrusted and of any length.
#pragma once

#include <cstddef>
#include <cstdint>

// A space or a tab: what separates the words of a command line.
bool IsBlank(char c);
const char *SkipBlanks(const char *p);

// c in upper case when it is an ASCII letter. Other bytes stay: in a
// multi-byte code page such as UTF-8 a byte above 0x7F is part of a longer
// character, never a letter of its own.
char FoldCase(char c);
// Whether a and b are equal, ASCII letters compared in either case.
bool SameText(const char *a, const char *b);
// Whether a begins with prefix, compared the same way.
bool SameTextPrefix(const char *a, const char *prefix);

// Append the first length bytes of text (or all of it, or a number in
// decimal) to out, a NUL-terminated string in outSize bytes, as much as
// fits; false when something was cut.
bool AppendBytes(char *out, std::size_t outSize, const char *text, std::size_t length);
bool AppendText(char *out, std::size_t outSize, const char *text);
bool AppendNumber(char *out, std::size_t outSize, std::uint64_t value);

enum class ArgumentRead {
  Ok,
  TooLong,   // out holds the first outSize - 1 bytes
  BadQuote,  // a quote anywhere else than the two places below, or one left open
};

// Reads the command-line argument that starts at p, after any blanks, into
// out (outSize bytes, at least 1), without its quotes. The one quoting rule
// of both programs: quotes go around the whole argument
// ("/LOG=C:\My Logs\a.log", "C:\Program Files\Kelvra") or around the whole
// value after the first '=' (/LOG="C:\My Logs\a.log"), nowhere else; inside
// them blanks do not end the argument. Returns where the argument ends: at
// a blank outside quotes, or at the end of the line.
const char *ReadArgument(const char *p, char *out, std::size_t outSize, ArgumentRead *result);
