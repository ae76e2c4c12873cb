// The machine under the stand-in's DLLs, as Wine's ntdll and wineserver are under its DLLs: the machine's
// folder and registry hive, the handle table and the kernel objects that more than one DLL makes, the
// Windows folders and path helpers, the ANSI code page and one ASCII case fold, the Windows version, the
// local ports, the programs the machine runs, what a reset forgets, and the points where test control
// breaks calls. Every DLL folder includes this header and its own private header; a DLL reaches another
// DLL only through the Windows calls of the include/ headers.
#pragma once

#include <windows.h>

#include "kqwin/test_control.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kqwin {

// ---- kernel objects behind handles -------------------------------------------------------------

enum class ObjType { Event, File, Printer, Dc, Key, Module, Window, Menu, Icon, Bitmap, FindFile, Process, Inf };

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

// A device context: gdi32 makes them for printers, user32 for painting a window.
struct DcObj : Object {
    DcObj() : Object(ObjType::Dc) {}
    int logPixelsX = 203;
    int logPixelsY = 203;
};

// A process that shell32 started; it has always ended (programs run to their end inside their start).
struct ProcessObj : Object {
    explicit ProcessObj(DWORD code) : Object(ObjType::Process), exitCode(code) {}
    const DWORD exitCode;
};

// ---- the machine: its folder, loading and resetting it -----------------------------------------

// Loads the current machine once: makes its folder, reads its registry hive and gives a machine whose hive
// did not exist yet what a clean Windows has. Hive() and RootFolder() load it themselves.
void LoadMachine();
// The current machine's folder (KQT50_ROOT, a per-user default, or what ResetMachine named).
std::string RootFolder();
// Gives a fresh machine rundll32, the printer class INF with Unidrv's files and the print processor
// "winprint", as a clean Windows has them for setup.
void SeedFreshMachine();

// What a part of the stand-in forgets when test control resets the machine: a static ResetHook in the
// part's own file names its reset function.
class ResetHook {
  public:
    explicit ResetHook(void (*reset)());
};

// ---- the registry hive ---------------------------------------------------------------------------

// The registry, kept in one text file below the machine's folder and written back after every change.
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
// The current machine's hive (loaded on first use). Paths start with the root key: "HKLM\\SOFTWARE\\...".
Registry& Hive();

// Keys that several DLLs read.
inline constexpr char kPrintKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print";
// The local port monitor's ports, one value per port name, as Windows keeps them.
inline constexpr char kPortsKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

// ---- Windows folders and paths -------------------------------------------------------------------

inline std::string WindowsDirectory() { return "C:\\WINDOWS"; }
inline std::string SystemDirectory() { return "C:\\WINDOWS\\SYSTEM32"; }
inline std::string InfDirectory() { return "C:\\WINDOWS\\INF"; }
inline constexpr char kRundll32Path[] = "C:\\WINDOWS\\SYSTEM32\\rundll32.exe";

// Maps a Windows path to a host path: "X:\a\b" -> "<root>/x/a/b" (lower case, as the simulated disk is
// case-insensitive); a path that already starts with '/' is a host path and is kept.
std::string MapPath(std::string_view windowsPath);
// Makes a host folder and the folders above it.
bool MakeDirs(const std::string& hostDir);
// `rest` below `folder` with "." and ".." resolved, never above the drive; a rest with a drive is taken whole.
std::string JoinPath(const std::string& folder, const std::string& rest);
// A path made full against `base`: "X:\..." as it is, "\..." on base's drive, anything else below base.
std::string FullPath(const std::string& path, const std::string& base);
// The folder a path lies in ("C:\" for a file at the root of the drive).
std::string FolderOf(const std::string& path);
// The running program's folder, as GetModuleFileNameA names the program; the last error is left alone.
std::string ProgramFolder();
enum class PathKind { Missing, File, Folder };
// What a Windows path names on the simulated disk; the last error is left alone.
PathKind KindOf(const std::string& windowsPath);

// ---- the Windows version ---------------------------------------------------------------------------

struct WindowsVersion {
    DWORD platform = VER_PLATFORM_WIN32_NT;
    DWORD major = 5;
    DWORD minor = 1;
    WORD architecture = PROCESSOR_ARCHITECTURE_INTEL; // of the processor; Windows 98 and ME are x86 only
};
// What the machine runs (32-bit Windows XP unless test control set another); kept in the hive, so that every
// process on the machine sees the same Windows.
WindowsVersion MachineVersion();
// Windows 98 or ME (a platform other than NT).
bool Windows9x();
// The machine's processor architecture: PROCESSOR_ARCHITECTURE_INTEL or PROCESSOR_ARCHITECTURE_AMD64.
WORD NativeArchitecture();
// The machine's processor as INF files name it in their decorations: "x86" or "amd64" (".x86",
// ".NTamd64", ...).
inline const char* InfPlatform() {
    return NativeArchitecture() == PROCESSOR_ARCHITECTURE_AMD64 ? "amd64" : "x86";
}
// What a module file is built for. A PE image is what the Machine field of its file header says (x86, x64, or
// PROCESSOR_ARCHITECTURE_UNKNOWN for any other machine); anything else, such as the Linux build's ELF
// libraries that play the kit's DLLs here, counts as built for the machine it lies on. The last error is left
// alone.
WORD ModuleArchitecture(const std::string& windowsPath);

// ---- the local ports ---------------------------------------------------------------------------------

// The ports of the local port monitor (the values of kPortsKey; the ports of a fresh installation when the
// key is missing).
std::vector<std::string> LocalPortNames();
// The key (below the root key) where the stand-in keeps the host file or device of each port.
std::string PortTargetKey();
// The host file or device a port's bytes go to ("-": standard output).
std::string PortTargetOf(const std::string& port);
// The program's own sink for a port, when it serves the port itself; null otherwise.
std::shared_ptr<const control::PortSink> PortSinkOf(const std::string& port);

// ---- programs the machine runs ---------------------------------------------------------------------

// A program of the machine that does real work when started (its rundll32): it runs to its end inside the
// start and gives its exit code. A static ProgramRegistration in the program's own file names it.
using ProgramMain = DWORD (*)(const std::string& parameters);
class ProgramRegistration {
  public:
    ProgramRegistration(const char* windowsPath, ProgramMain main);
};
// Runs a program file of the machine: a registered program does its work; any other exits with 0 at once.
DWORD RunProgram(const std::string& windowsPath, const std::string& parameters);

// ---- text: the ANSI code page (949), UTF-8 and UTF-16, one ASCII case fold -----------------------

std::string Utf16ToUtf8(std::u16string_view s);
std::u16string Utf8ToUtf16(std::string_view s);
std::u16string AnsiToUtf16(std::string_view s);
std::string Utf16ToAnsi(std::u16string_view s);
std::u16string WideOrEmpty(LPCWSTR s);
std::string AnsiOrEmpty(LPCSTR s);
// Code page 949 is double-byte: a lead byte and the byte after it are one character.
constexpr bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
// Bytes of the character at p (1 or 2); a lead byte before the terminating zero stands alone.
inline size_t AnsiCharBytes(const unsigned char* p) { return (IsLeadByte(p[0]) && p[1] != 0) ? 2 : 1; }
// Upper-cases the single-byte letters of up to n bytes of ANSI text, up to its zero, leaving double-byte
// characters whole; gives the bytes it went through.
size_t AnsiUpperInPlace(unsigned char* p, size_t n);

// The one ASCII case fold of the stand-in: letters A-Z and a-z only, in any character type.
template <class C> constexpr C AsciiLower(C c) {
    return (c >= C('A') && c <= C('Z')) ? static_cast<C>(c - C('A') + C('a')) : c;
}
template <class C> constexpr C AsciiUpper(C c) {
    return (c >= C('a') && c <= C('z')) ? static_cast<C>(c - C('a') + C('A')) : c;
}
std::string LowerAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b); // ASCII letters only, without copies

// ---- test control's points in the DLLs (kept by control/faults.cpp) -----------------------------

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

} // namespace kqwin
