// The DLL search both programs restrict first thing at their start. Windows only.
#pragma once

// DLLs loaded by name come from System32 only, never from the program's or
// the current directory, where a planted copy would run with the program's
// rights: a setup file usually runs from a download folder where anyone may
// have left a DLL of a system name, and the uninstaller runs as an
// administrator. The call is looked up at run time: Windows 7 has it only
// with an update, and there the current directory at least leaves the search.
void RestrictDllSearch();
