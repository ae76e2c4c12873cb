// Test control of the stand-in Windows, for tests: injected faults and call counts, recordings of what the
// DLLs did (writes, debugger output, message boxes, icon draws, process starts, modal-loop errors), test
// printers and spooled jobs, and driving the headless user32 as a person would. Tools use only
// tool_control.h; product code includes neither.
#pragma once

#include "kqwin/tool_control.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kqwin::control {

// ---- faults, call counts and hooks ---------------------------------------------------------------------

// Calls that can be counted, hooked and broken.
enum class Op {
    ReadPrinter,     // ReadPrinter on a spooled job
    WritePrinter,    // WritePrinter of a print processor (to the port)
    OpenPrinter,     // OpenPrinterW / OpenPrinterA
    StartDocPrinter, // StartDocPrinterW of a print processor (to the port)
    GlobalAlloc,
    CreateDC,
    GetPrinter,      // GetPrinterW / GetPrinterA
    CreateFile,      // CreateFileA
    WriteFile,       // WriteFile
    OpenPort,        // the local port monitor's port operations
    StartDocPort,
    WritePort,
    ReadPort,
    EndDocPort,
    ClosePort,
    EnumPorts,            // EnumPortsA
    EnumPrinters,         // EnumPrintersA
    GetCommConfig,        // GetDefaultCommConfigA
    SetCommConfig,        // SetDefaultCommConfigA
    LoadStringResource,   // LoadStringA (names that are not the generic macros of an ANSI build)
    // The installer's calls. A fault with error 0 fails the call with last error 0, as a test of "failed
    // without a reason" needs; RegCreateKeyEx, which returns its error, fails with ERROR_ACCESS_DENIED then.
    ShellExecuteEx,            // the start fails
    AddPrinterDriver,          // AddPrinterDriverA
    AddMonitor,                // AddMonitorA
    AddPrintProcessor,         // AddPrintProcessorA
    AddPrinter,                // AddPrinterA
    SetPrinter,                // SetPrinterA
    DeletePrinter,             // DeletePrinter
    DeletePrintProcessor,      // DeletePrintProcessorA
    DeleteMonitor,             // DeleteMonitorA
    GetPrintProcessorDirectory, // GetPrintProcessorDirectoryA
    GetSystemDirectory,        // GetSystemDirectoryA
    RegCreateKeyEx,            // RegCreateKeyExA
};
constexpr int kOpCount = 32;

enum class FaultKind {
    Fail,  // the call fails with `error`
    Short, // the call moves only `keep` bytes (reads and writes)
};

struct Fault {
    Op op;
    uint64_t nth;        // 1-based, counted from the last ResetCounters (or machine reset)
    FaultKind kind = FaultKind::Fail;
    DWORD keep = 0;      // bytes moved by a Short call
    DWORD error = 0;     // last error of a failing call (0: a fitting default)
    bool sticky = false; // also break every later call of the op
};

KQWIN_API void InjectFault(const Fault& fault);
KQWIN_API void ClearFaults();
KQWIN_API void ResetCounters();
KQWIN_API uint64_t CallCount(Op op);

// Called on the calling thread at the start of every call of `op`, with its 1-based number.
KQWIN_API void SetCallHook(Op op, std::function<void(uint64_t n)> hook);
// Called on the waiting thread just before a wait on an unsignalled object blocks.
KQWIN_API void SetWaitHook(std::function<void(HANDLE object)> hook);
KQWIN_API void ClearHooks();

// Allocations above this many bytes fail (GlobalAlloc), as a machine with little memory would.
KQWIN_API void SetAllocationLimit(std::optional<size_t> bytes);

// ---- recordings and the spooler for tests --------------------------------------------------------------

// Debugger output (OutputDebugStringA/W), one entry per call, UTF-8.
KQWIN_API std::vector<std::string> DebugOutput();
KQWIN_API void ClearDebugOutput();

// Every WritePrinter that a print processor made, with the bytes it offered and the count accepted.
struct WriteRecord {
    std::vector<BYTE> bytes;
    DWORD accepted = 0;
    BOOL result = FALSE;
};
KQWIN_API void RecordWrites(bool on);
KQWIN_API std::vector<WriteRecord> Writes();
KQWIN_API void ClearWrites();

// Printers for tests, made without the management calls.
struct PrinterSetup {
    std::string name = "Test Printer";
    std::string port = "FILE:";
    std::string driver;         // empty: no driver (no language monitor)
    std::string printProcessor; // empty: jobs stay spooled until run by hand
    DWORD attributes = 0;
    int verticalDpi = 203;
};
KQWIN_API bool AddTestPrinter(const PrinterSetup& setup);
KQWIN_API bool SetPrinterAttributes(const std::string& printer, DWORD attributes);

// Spools a job without running the print processor, as a held job would stay. Returns its job id (0: failed).
KQWIN_API DWORD SpoolJob(const std::string& printer, const std::vector<BYTE>& data,
                         const std::u16string& documentName = u"test job");
// The name a print processor opens to read a job: "<printer>, Job <id>".
KQWIN_API std::u16string JobReadName(const std::string& printer, DWORD jobId);

// While a scope lives, handles opened on the printer by name write to its port, as the handles of a print
// processor do while the spooler runs it. Lets tests call the print processor's entry points directly.
// When the scope ends the job is deleted, as the spooler deletes a job it has run.
class KQWIN_API DespoolScope {
  public:
    DespoolScope(const std::string& printer, DWORD jobId);
    ~DespoolScope();
    DespoolScope(const DespoolScope&) = delete;
    DespoolScope& operator=(const DespoolScope&) = delete;

  private:
    std::string printer_;
};

// Printer handles open now (OpenPrinterW/A, AddPrinterA, not yet closed), for leak checks.
KQWIN_API size_t OpenPrinterHandles();
// Files open now (CreateFileA, not yet closed).
KQWIN_API size_t OpenFileHandles();
// Blocks of GlobalAlloc that GlobalFree has not taken back yet, in the whole process.
KQWIN_API long LiveGlobalBlocks();

// ---- the headless user32, the program, ports and serial configurations --------------------------------

// Message boxes. MessageBoxA shows nothing: it records the box, lets each timer of the thread that is armed
// when the box opens fire once (the box is a window of class "#32770" meanwhile, so a timer can find it and
// end it with a WM_COMMAND of a button id, as on Windows), and otherwise returns the answer of the callback;
// without one, IDOK for MB_OK and the box's first button otherwise.
struct MessageBoxRecord {
    HWND owner = nullptr;
    std::string text;    // the bytes the program passed (ANSI, code page 949)
    std::string caption; // likewise; the system's caption when the program passed none
    UINT type = 0;
    int answer = 0;      // what MessageBoxA returned
};
KQWIN_API std::vector<MessageBoxRecord> MessageBoxes();
KQWIN_API void ClearMessageBoxes();
KQWIN_API void SetMessageBoxAnswer(std::function<int(const MessageBoxRecord& box)> answer);

// DrawIcon calls on the device context of a window (BeginPaint), in order.
struct IconDraw {
    HWND window = nullptr;
    int x = 0;
    int y = 0;
    HICON icon = nullptr;
};
KQWIN_API std::vector<IconDraw> IconDraws();
KQWIN_API void ClearIconDraws();

// A modal loop that had nothing left that could ever happen: no posted message, no window to paint, no timer.
// It ended its dialog with -1 (a GetMessageA in that state returns WM_QUIT); what it said is kept here, and
// printed to standard error.
KQWIN_API std::vector<std::string> ModalLoopErrors();
KQWIN_API void ClearModalLoopErrors();

// The user picks item `index` of a drop-down combo box: it is selected and the parent gets WM_COMMAND with
// CBN_SELCHANGE, as after a click. False (and nothing happens) for a disabled or hidden combo box, a window
// that is not one, or an index outside the list.
KQWIN_API bool PickComboItem(HWND combo, int index);
// The user chooses the item `id` of a window's system menu: WM_SYSCOMMAND with the id is posted to the
// window. False when the menu has no such item or it is disabled.
KQWIN_API bool ChooseSystemMenuItem(HWND window, UINT id);

// The local ports (values of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports), replacing the list;
// the same as writing that key with the registry calls.
KQWIN_API void SetPorts(const std::vector<std::string>& names);
// The program's file on the simulated disk, for GetModuleFileNameA (default "C:\KQT50\KqtSetup.exe").
KQWIN_API void SetProgramPath(const std::string& windowsPath);

// The default configuration stored for a serial port ("COM1"), as GetDefaultCommConfigA returns it: a
// COMMCONFIG with its provider data. Any size is kept as given (also more than 1024 bytes).
KQWIN_API void SetCommConfigBytes(const std::string& port, const std::vector<BYTE>& bytes);
// Nothing when the port has no stored configuration (it then has the default one).
KQWIN_API std::optional<std::vector<BYTE>> CommConfigBytes(const std::string& port);
// The configuration of a port with nothing stored.
KQWIN_API std::vector<BYTE> DefaultCommConfigBytes();

// ---- the shell: processes that ShellExecuteExA started ---------------------------------------------------

// One start by ShellExecuteExA. The machine's own rundll32 ("C:\WINDOWS\SYSTEM32\rundll32.exe") runs
// PrintUIEntry and InstallHinfSection for real; any other program runs doing nothing and exits with 0.
struct ProcessStart {
    std::string file;       // the Windows path found for lpFile
    std::string verb;       // as passed (empty for none)
    std::string parameters;
    std::string directory;
    int show = 0;
    ULONG mask = 0;
    HWND window = nullptr;
    DWORD exitCode = 0;
};
KQWIN_API std::vector<ProcessStart> ProcessStarts();
KQWIN_API void ClearProcessStarts();
// The next run of the machine's rundll32 exits with `exitCode` at once, without reading its command line. (It
// otherwise exits with 0, as Windows' does: this is for a caller's handling of an exit code it never gets.)
KQWIN_API void ForceNextRundll32Exit(DWORD exitCode);

} // namespace kqwin::control
