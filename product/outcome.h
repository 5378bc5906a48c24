// What an uninstall achieved: the record the removal fills in, the closing
// message that tells it and the exit code that reports it. No Windows call.
#pragma once

#include <cstddef>

#include "removal.h"

struct UninstallOutcome {
  char failedFiles[ProductFileCount][16];  // product files that are still there
  unsigned failedFileCount;                // entries of failedFiles in use
  bool keyFailed;                          // the uninstall entry could not be deleted
  bool keyKept;                            // the entry stays on purpose: a product file stayed
  bool shortcutsFailed;                    // a shortcut or a Start menu folder remains
  bool selfRemovalAtRestart;               // the program file goes only at the next restart
  bool userFilesKept;                      // other files keep the directory in place
};

void StartOutcome(UninstallOutcome &outcome);
void AddFailedFile(UninstallOutcome &outcome, const char *name);

// The text of the closing message; returns true when everything went (a
// program file that goes at the next restart counts as gone).
bool DescribeOutcome(const UninstallOutcome &outcome, char *out, size_t outSize);

// 0 when everything of the product is gone, 3010 (done, restart needed)
// when only the program file waits for the next restart, 1 when anything
// stayed.
int OutcomeExitCode(const UninstallOutcome &outcome);
