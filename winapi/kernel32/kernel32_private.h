// kernel32's own: the program's module, and the debugger output that the loader writes to as well.
#pragma once

#include "machine.h"

#include <string>

namespace kqwin {

// The program's module handle: the classic image base, which no handle of the table can be.
inline HMODULE ProgramModule() { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000)); }
inline bool IsProgramModule(HMODULE m) { return m == nullptr || m == ProgramModule(); }

// Hands a line to the debugger output, as OutputDebugStringA does.
void DebugOutputLine(const std::string& utf8);

} // namespace kqwin
