// The uninstall's closing message and exit code.
#include "outcome.h"

#include <cstring>

#include "text.h"

void StartOutcome(UninstallOutcome &outcome) { memset(&outcome, 0, sizeof(outcome)); }

void AddFailedFile(UninstallOutcome &outcome, const char *name) {
  if (outcome.failedFileCount == ProductFileCount) return;
  char *slot = outcome.failedFiles[outcome.failedFileCount++];
  slot[0] = '\0';
  AppendText(slot, sizeof(outcome.failedFiles[0]), name);
}

static bool IsComplete(const UninstallOutcome &outcome) {
  return outcome.failedFileCount == 0 && !outcome.keyFailed && !outcome.keyKept && !outcome.shortcutsFailed;
}

bool DescribeOutcome(const UninstallOutcome &outcome, char *out, size_t outSize) {
  if (outSize == 0) return false;
  out[0] = '\0';
  const bool complete = IsComplete(outcome);
  AppendText(
      out, outSize,
      complete ? "Kelvra has been removed from your computer." : "Kelvra could not be removed completely.");
  if (outcome.failedFileCount) {
    AppendText(out, outSize, "\n\nThese files could not be deleted:");
    for (unsigned i = 0; i < outcome.failedFileCount; i++) {
      AppendText(out, outSize, "\n    ");
      AppendText(out, outSize, outcome.failedFiles[i]);
    }
  }
  if (outcome.shortcutsFailed) AppendText(out, outSize, "\n\nThe Start menu shortcuts could not be deleted.");
  if (outcome.keyKept)
    AppendText(out, outSize,
               "\n\nKelvra stays in the list of installed programs, so that you can remove it again"
               " once the files are no longer in use.");
  if (outcome.keyFailed)
    AppendText(out, outSize,
               "\n\nThe entry in the list of installed programs could not be deleted."
               " Removing it may need administrator rights.");
  if (outcome.selfRemovalAtRestart)
    AppendText(out, outSize, "\n\nKELVRA.EXE will be deleted when Windows restarts.");
  if (outcome.userFilesKept)
    AppendText(out, outSize,
               "\n\nFiles that were not installed by Kelvra have been left in the installation folder.");
  return complete;
}

int OutcomeExitCode(const UninstallOutcome &outcome) {
  if (!IsComplete(outcome)) return 1;
  return outcome.selfRemovalAtRestart ? 3010 : 0;
}
