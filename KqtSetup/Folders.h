// The folders the installer works from: its own, where the kit lies, and the system's.
#pragma once

#include <afx.h>

// The folder of the program, without its last backslash.
CString ProgramFolder();
// The system directory, where the system's own programs (rundll32.exe) lie.
CString SystemFolder();
