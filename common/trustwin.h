// The facts the trust decisions need, asked of Windows; and the one way the
// setup and the uninstaller open a log.
#pragma once

#include <windows.h>

#include "trust.h"

OwnerKind OwnerOfObject(HANDLE object, int objectType);  // objectType: an SE_OBJECT_TYPE
bool ProcessIsElevated();

// Opens path for appending, or returns INVALID_HANDLE_VALUE. A path that
// passes through a link anywhere, a file with a second name, or, when
// elevated, a file an account that is not an administrator owns, is
// refused: *refusal then says why (else it is null and the error is
// GetLastError's).
HANDLE OpenLogForAppend(const char *path, const char **refusal);
