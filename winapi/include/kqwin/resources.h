// The program's resources, as Windows finds them in a program's image. The Linux build compiles the
// program's .rc with windres into a .res file, embeds its bytes and hands them over before main() runs;
// FindResourceA, LoadStringA, LoadIconA and the dialog functions then read them for the program module
// (a null module handle, or GetModuleHandleA(nullptr)).
#pragma once

#include <windows.h>

#include <cstddef>

namespace kqwin {

// `res` is a whole .res file (32-bit resource file format) that stays valid for the life of the process.
KQWIN_API void RegisterProgramResources(const BYTE* res, size_t size);

} // namespace kqwin
