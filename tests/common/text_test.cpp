// The text toolkit both programs parse their command lines with: the one
// quoting rule, over the argument forms launchers, package managers, the
// uninstall entry and the cleanup command produce, and the case-blind
// comparison both programs match switches and file names with.
#include "text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ReadArgument, QuotesAroundTheWholeArgumentOrTheWholeValueOnly) {
  struct Case {
    const char *line;
    const char *argument;  // as read, quotes dropped
    ArgumentRead result;
    const char *rest;  // where the next argument starts
  } cases[] = {
      {"/S", "/S", ArgumentRead::Ok, ""},
      {" \t/UNINSTALL /S", "/UNINSTALL", ArgumentRead::Ok, " /S"},
      {"\"/S\" /X", "/S", ArgumentRead::Ok, " /X"},
      {"\"/LOG=C:\\My Logs\\k.log\" -S", "/LOG=C:\\My Logs\\k.log", ArgumentRead::Ok, " -S"},
      {"/log=\"C:\\My Logs\\k.log\"\t/s", "/log=C:\\My Logs\\k.log", ArgumentRead::Ok, "\t/s"},
      {"\"C:\\Program Files\\Kelvra\"", "C:\\Program Files\\Kelvra", ArgumentRead::Ok, ""},
      {"\"\" x", "", ArgumentRead::Ok, " x"},
      {"", "", ArgumentRead::Ok, ""},
      // Anywhere else a quote makes the argument unusable, even where it
      // would only group: a caller that meant it cannot be told apart.
      {"/LOG=C:\\\"My Logs\"\\k.log /S", "/LOG=C:\\My Logs\\k.log", ArgumentRead::BadQuote, " /S"},
      {"/UNIN\"STALL\"", "/UNINSTALL", ArgumentRead::BadQuote, ""},
      {"\"/S\"x /Y", "/Sx", ArgumentRead::BadQuote, " /Y"},
      {"/LOG=\"a.log\"x", "/LOG=a.logx", ArgumentRead::BadQuote, ""},
      {"\"/LOG=\"a\"\"", "/LOG=a", ArgumentRead::BadQuote, ""},
      {"/LOG=a=\"b\"", "/LOG=a=b", ArgumentRead::BadQuote, ""},  // not the whole value after the first '='
      {"\"/S /X", "/S /X", ArgumentRead::BadQuote, ""},          // never closed
      {"/S\"", "/S", ArgumentRead::BadQuote, ""},
  };
  for (const Case &c : cases) {
    char out[64];
    ArgumentRead result;
    const char *rest = ReadArgument(c.line, out, sizeof out, &result);
    EXPECT_STREQ(out, c.argument) << c.line;
    EXPECT_EQ(result, c.result) << c.line;
    EXPECT_STREQ(rest, c.rest) << c.line;
  }
}

TEST(SameText, FoldsAsciiLettersOnly) {
  struct Case {
    const char *a, *b;
    bool same, prefix;  // SameText(a, b), SameTextPrefix(a, b)
  } cases[] = {
      {"kelvra.exe", "KELVRA.EXE", true, true},
      {"/Uninstall", "/UNINSTALL", true, true},
      {"KELVRA.EXE.bak", "KELVRA.EXE", false, true},
      {"KELVRA", "KELVRA.EXE", false, false},
      {"", "", true, true},
      {"log=x", "", false, true},
      {"@[`{", "`{@[", false, false},  // the neighbours of the letters stay apart
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9T\xC3\xA9", true, true},
      {"\xC3\xA9", "\xC3\x89", false, false},  // UTF-8 bytes are never letters
  };
  for (const Case &c : cases) {
    EXPECT_EQ(SameText(c.a, c.b), c.same) << c.a << " | " << c.b;
    EXPECT_EQ(SameText(c.b, c.a), c.same) << c.b << " | " << c.a;
    EXPECT_EQ(SameTextPrefix(c.a, c.b), c.prefix) << c.a << " | " << c.b;
  }
}

}  // namespace
