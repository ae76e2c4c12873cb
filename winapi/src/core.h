// Internals shared by the parts of the stand-in Windows.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "kqwin/test_control.h"
#include "winsplp_ansi.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kqwin {

// ---- kernel objects behind handles -------------------------------------------------------------

enum class ObjType { Event, File, Printer, Dc, Key, Module, Window, Menu, Icon, Bitmap, FindFile, Process };

struct Object {
    explicit Object(ObjType t) : type(t) {}
    virtual ~Object() = default;
    const ObjType type;
};

// Handles are slot numbers with a generation, so a stale or random value is told apart from a live one
// in constant time, however many handles are open.
class HandleTable {
  public:
    HANDLE Add(std::shared_ptr<Object> obj);
    std::shared_ptr<Object> Get(HANDLE h, ObjType type);
    std::shared_ptr<Object> Remove(HANDLE h, ObjType type);
    size_t Count(ObjType type);

  private:
    struct Slot {
        std::shared_ptr<Object> obj;
        uint32_t generation = 0;
    };
    bool Decode(HANDLE h, size_t* index, uint32_t* generation) const;
    std::mutex mutex_;
    std::vector<Slot> slots_;
    std::vector<size_t> free_;
};
HandleTable& Handles();

template <class T> std::shared_ptr<T> GetObject(HANDLE h, ObjType type) {
    return std::static_pointer_cast<T>(Handles().Get(h, type));
}

// ---- faults, counters and hooks ------------------------------------------------------------------

struct FaultDecision {
    DWORD keep = 0;
    DWORD error = 0;
    bool fail = false;
    bool shorten = false;
};
// Counts a call of `op`, runs its hook and tells whether a fault was armed for it.
FaultDecision CheckFault(control::Op op);
// Runs the wait hook (if any) before a wait blocks.
void NotifyWaitBlocking(HANDLE object);
bool AllocationAllowed(size_t bytes);
void ResetFaultsAndHooks();

// ---- text ----------------------------------------------------------------------------------------

std::string Utf16ToUtf8(std::u16string_view s);
std::u16string Utf8ToUtf16(std::string_view s);
// The machine's ANSI code page is 949; these convert between it and UTF-16.
std::u16string AnsiToUtf16(std::string_view s);
std::string Utf16ToAnsi(std::u16string_view s);
std::u16string WideOrEmpty(LPCWSTR s);
std::string AnsiOrEmpty(LPCSTR s);
inline char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
std::string LowerAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b); // ASCII letters only, without copies

// ---- machine, files ------------------------------------------------------------------------------

std::string Root();
// Maps a Windows path to a host path: "X:\a\b" -> "<root>/x/a/b" (lower case, as the simulated disk is
// case-insensitive); a path that already starts with '/' is a host path and is kept.
std::string MapPath(std::string_view windowsPath);
bool MakeDirs(const std::string& hostDir);
void DebugOutputLine(const std::string& utf8);
void ResetDebugOutput();

// ---- registry --------------------------------------------------------------------------------------

// The registry is kept in one text file below the machine root and written back after every change.
class Registry {
  public:
    struct Value {
        std::string name;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    void Load(const std::string& file);
    bool KeyExists(const std::string& path);
    bool CreateKey(const std::string& path, bool* created);
    LONG DeleteKey(const std::string& path); // fails when the key has subkeys
    void DeleteTree(const std::string& path);
    std::vector<std::string> SubKeys(const std::string& path);
    bool SetValue(const std::string& path, const std::string& name, DWORD type, const BYTE* data, size_t size);
    bool GetValue(const std::string& path, const std::string& name, Value* out);
    bool DeleteValue(const std::string& path, const std::string& name);

    std::string GetString(const std::string& path, const std::string& name);
    DWORD GetDword(const std::string& path, const std::string& name, DWORD fallback);
    // All values of a key at once (none when there is no such key), and readings of such a list: one look-up
    // for a record of many values.
    std::optional<std::vector<Value>> GetValues(const std::string& path);
    static std::string StringIn(const std::vector<Value>& values, std::string_view name);
    static DWORD DwordIn(const std::vector<Value>& values, std::string_view name, DWORD fallback);
    void SetString(const std::string& path, const std::string& name, const std::string& value);
    void SetDword(const std::string& path, const std::string& name, DWORD value);

  private:
    struct Key {
        std::string path;  // as created (case kept)
        std::string lower; // the path in lower case: keys are found and ordered by it
        std::vector<Value> values;
    };
    void Sort();
    Key* Find(const std::string& path);
    void Save();
    std::mutex mutex_;
    std::string file_;
    std::vector<Key> keys_; // sorted by lower-case path
};
Registry& Reg();

// ---- GDI ------------------------------------------------------------------------------------------

struct DcObj : Object {
    DcObj() : Object(ObjType::Dc) {}
    int logPixelsX = 203;
    int logPixelsY = 203;
};

// ---- spooler --------------------------------------------------------------------------------------

// Registry paths of the spooler's registrations.
extern const char* const kPrintKey; // SYSTEM\CurrentControlSet\Control\Print
// Where port targets are configured: control::kPortTargetKey as this registry names it.
std::string StandInPortKey();
std::string PrinterKey(const std::string& printer);
// A printer's vertical resolution, for CreateDCW; 0 when there is no such printer.
int PrinterVerticalDpi(const std::string& printer);
bool PrinterExists(const std::string& printer);
void ResetSpooler();

// The 13-entry port function table that port monitors and language monitors exchange (8-bit names).
using PortMonitorTable = MONITORA;

// The local port monitor: FILE:, COMn: and LPTn: to the host files or devices configured for them.
PortMonitorTable* LocalPortMonitor();
// Opens the local port monitor on an explicit output file (a document's pOutputFile).
BOOL LocalPortOpenFile(const std::string& hostPath, PHANDLE handle);
std::vector<std::string> LocalPortNames();

// ---- user32, resources, serial configurations ------------------------------------------------------

// Where Windows keeps the local port monitor's ports: one value per port name.
extern const char* const kPortsKey; // HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports
// Forgets every window, timer, queued message and recording of the headless user32, the program path and
// the version that tests set.
void ResetUser32();
void ResetProgramSettings();

// ---- shell ------------------------------------------------------------------------------------------

// Gives a machine whose registry file did not exist yet what a clean Windows has for setup: rundll32,
// the printer class INF with Unidrv's files, the print processor "winprint".
void SeedFreshMachine();
// Forgets the process starts, the current directory and a forced rundll32 exit.
void ResetShell();
// A process ShellExecuteExA started (it has always ended: processes run to their end inside the call).
bool IsProcessHandle(HANDLE h);

// Modules
template <class Fn> Fn ProcAddress(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
HMODULE LoadModule(const std::string& hostPath, const std::string& name);
std::string FindModuleFile(const std::string& fileName, const std::vector<std::string>& searchDirs);

} // namespace kqwin
