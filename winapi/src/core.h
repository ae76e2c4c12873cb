// Internals shared by the parts of the stand-in Windows that have not moved to their DLL's folder yet.
#pragma once

#include "machine.h"

#include <winspool.h>

#include "winsplp_ansi.h"

#include <condition_variable>
#include <functional>

namespace kqwin {

void ResetFaultsAndHooks();
void DebugOutputLine(const std::string& utf8);
void ResetDebugOutput();

// ---- spooler --------------------------------------------------------------------------------------

std::string PrinterKey(const std::string& printer);
// A printer's vertical resolution, for CreateDCW; 0 when there is no such printer.
int PrinterVerticalDpi(const std::string& printer);
void ResetSpooler();

// The 13-entry port function table that port monitors and language monitors exchange (8-bit names).
using PortMonitorTable = MONITORA;

// The local port monitor: FILE:, COMn: and LPTn: to the host files or devices configured for them.
PortMonitorTable* LocalPortMonitor();
// Opens the local port monitor on an explicit output file (a document's pOutputFile).
BOOL LocalPortOpenFile(const std::string& hostPath, PHANDLE handle);

// ---- user32, resources, serial configurations ------------------------------------------------------

// Forgets every window, timer, queued message and recording of the headless user32, the program path and
// the version that tests set.
void ResetUser32();
void ResetProgramSettings();

// ---- shell ------------------------------------------------------------------------------------------

// Forgets the process starts, the current directory and a forced rundll32 exit.
void ResetShell();
// A process ShellExecuteExA started (it has always ended: processes run to their end inside the call).
bool IsProcessHandle(HANDLE h);

// Modules
template <class Fn> Fn ProcAddress(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
HMODULE LoadModule(const std::string& hostPath, const std::string& name);

} // namespace kqwin
