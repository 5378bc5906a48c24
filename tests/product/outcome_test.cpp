// What an uninstall tells: the closing message and the exit code a
// deployment tool reads.
#include "outcome.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(DescribeOutcome, TellsWhatWasLeftBehind) {
  UninstallOutcome outcome;
  StartOutcome(outcome);
  char text[512];
  EXPECT_TRUE(DescribeOutcome(outcome, text, sizeof(text)));
  EXPECT_STREQ(text, "Kelvra has been removed from your computer.");

  outcome.userFilesKept = true;
  EXPECT_TRUE(DescribeOutcome(outcome, text, sizeof(text)));
  EXPECT_NE(strstr(text, "left in the installation folder"), nullptr);

  AddFailedFile(outcome, "KELVRA.HLP");
  AddFailedFile(outcome, "README.TXT");
  outcome.keyFailed = true;
  EXPECT_FALSE(DescribeOutcome(outcome, text, sizeof(text)));
  EXPECT_EQ(strncmp(text, "Kelvra could not be removed completely.", 39), 0);
  EXPECT_NE(strstr(text, "KELVRA.HLP"), nullptr);
  EXPECT_NE(strstr(text, "README.TXT"), nullptr);
  EXPECT_NE(strstr(text, "administrator"), nullptr);
}

TEST(DescribeOutcome, StaysWithinSmallBuffers) {
  UninstallOutcome outcome;
  StartOutcome(outcome);
  for (int i = 0; i < 9; i++) AddFailedFile(outcome, "A-NAME-TOO-LONG-FOR-ITS-SLOT.TXT");
  EXPECT_EQ(outcome.failedFileCount, ProductFileCount);
  EXPECT_EQ(strlen(outcome.failedFiles[0]), sizeof(outcome.failedFiles[0]) - 1);
  outcome.shortcutsFailed = outcome.keyFailed = outcome.selfRemovalAtRestart = true;
  char text[24];
  memset(text, 'x', sizeof(text));
  EXPECT_FALSE(DescribeOutcome(outcome, text, sizeof(text)));
  EXPECT_EQ(strlen(text), sizeof(text) - 1);
}

TEST(OutcomeExitCode, IsZeroOnlyWhenEverythingWent) {
  struct Case {
    bool failedFile, keyFailed, keyKept, shortcutsFailed, atRestart, userFiles;
    int code;
  } cases[] = {
      {false, false, false, false, false, false, 0},
      {false, false, false, false, false, true, 0},  // the user's files are not the product
      {false, false, false, false, true, false, 3010},
      {true, false, true, false, false, false, 1},
      {false, true, false, false, false, false, 1},
      {false, false, false, true, false, false, 1},
      {true, false, true, false, true, true, 1},
  };
  for (const Case &c : cases) {
    UninstallOutcome outcome;
    StartOutcome(outcome);
    if (c.failedFile) AddFailedFile(outcome, "README.TXT");
    outcome.keyFailed = c.keyFailed;
    outcome.keyKept = c.keyKept;
    outcome.shortcutsFailed = c.shortcutsFailed;
    outcome.selfRemovalAtRestart = c.atRestart;
    outcome.userFilesKept = c.userFiles;
    char text[512];
    EXPECT_EQ(OutcomeExitCode(outcome), c.code);
    EXPECT_EQ(DescribeOutcome(outcome, text, sizeof(text)), c.code != 1) << text;
    EXPECT_EQ(strstr(text, "restarts") != nullptr, c.atRestart) << text;
    EXPECT_EQ(strstr(text, "stays in the list") != nullptr, c.keyKept) << text;
  }
}

}  // namespace
