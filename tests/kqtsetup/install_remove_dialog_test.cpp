// The 32-bit installer's install and remove buttons on the stand-in, with the real install media beside the
// program: the kit's whole life by each path (install, print with kqspool, remove, and the machine as it was),
// the failures of both sequences as the user sees them, and the installer started on 64-bit Windows.
#include "kit_life.h"

#include "kit_names.h"
#include "kqwin/test_control.h"
#include "machine.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

namespace kqsetuptest {
namespace {

namespace control = kqwin::control;
namespace fs = std::filesystem;

using InstallRemoveTest = KitLifeTest;

const std::string kPrintKey = "SYSTEM\\CurrentControlSet\\Control\\Print";
const std::string kEnvironments = kPrintKey + "\\Environments\\";

using kqtest::KeyExists;
using kqtest::RegValue;

// The printer's record as GetPrinterA gives it at level 2; false when it cannot be read.
struct PrinterRecord {
    std::string port, driver, processor, datatype;
    DWORD attributes = 0;
};
std::optional<PrinterRecord> ReadPrinter(const char* name) {
    HANDLE h = nullptr;
    if (!OpenPrinterA(const_cast<LPSTR>(name), &h, nullptr)) {
        return std::nullopt;
    }
    DWORD needed = 0;
    GetPrinterA(h, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    std::optional<PrinterRecord> out;
    if (needed != 0 && GetPrinterA(h, 2, buffer.data(), needed, &needed)) {
        const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
        out = PrinterRecord{info->pPortName, info->pDriverName, info->pPrintProcessor, info->pDatatype,
                            info->Attributes};
    }
    ClosePrinter(h);
    return out;
}

// What the user sees of a sequence, recorded as it happens: the progress bar's range and steps, and each text
// of the status line, in order.
std::vector<std::string>* g_seen = nullptr;
WNDPROC g_statusProc = nullptr;
WNDPROC g_progressProc = nullptr;

LRESULT CALLBACK StatusSpy(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_SETTEXT && g_seen) {
        g_seen->push_back(Utf8(reinterpret_cast<const char*>(lp)));
    }
    return CallWindowProcA(g_statusProc, w, message, wp, lp);
}

LRESULT CALLBACK ProgressSpy(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    if (g_seen && message == PBM_SETRANGE) {
        g_seen->push_back("range " + std::to_string(LOWORD(lp)) + "-" + std::to_string(HIWORD(lp)));
    } else if (g_seen && message == PBM_DELTAPOS) {
        g_seen->push_back("+" + std::to_string(static_cast<int>(wp)));
    }
    return CallWindowProcA(g_progressProc, w, message, wp, lp);
}

// Presses `button` of the dialog with the status line and progress bar watched; what they showed.
std::vector<std::string> PressWatched(HWND dialog, int button) {
    std::vector<std::string> seen;
    const HWND status = GetDlgItem(dialog, IDC_STATUS);
    const HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
    g_seen = &seen;
    g_statusProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StatusSpy)));
    g_progressProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ProgressSpy)));
    // the handler as the button's click reaches it, also while the button is disabled
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_statusProc));
    SetWindowLongPtrA(progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_progressProc));
    g_seen = nullptr;
    return seen;
}

TEST_F(InstallRemoveTest, WholeLifeByEachPathLeavesTheMachineAsItWas) {
    for (const Windows& windows : {kWindowsXp, kWindows98}) {
        WholeLife(windows, "spool/drivers/w32x86/3/");
    }
}

// The system's own rundll32, by its full path, with the printer set-up entry's exact parameters; a
// rundll32.exe planted beside the program is never run.
TEST_F(InstallRemoveTest, NtPathStartsTheSystemsRundll32WithTheExactParameters) {
    { std::ofstream(control::HostPath("C:\\Setup\\rundll32.exe")) << "planted"; }
    EXPECT_EQ(InstallAndTakeRundll32Parameters(),
              "PRINTUI.DLL,PrintUIEntry /if /b \"KQT-50 Receipt\" /f \"C:\\Setup\\NT\\KQT50.INF\" /r \"COM1:\" /w /v "
              "\"Windows 2000 or XP\" /m \"KQT-50 Receipt\"");
}

// What goes wrong in the install, and what the user sees of it. PrintUIEntry returns nothing and rundll32 ends
// with 0 whatever it did: a failed install from the NT media shows in the tail, where the printer cannot be
// opened. A nonzero exit code, which Windows' rundll32 does not give, still ends the install at once.
TEST_F(InstallRemoveTest, InstallFailuresAsTheUserSeesThem) {
    struct Case {
        const char* what;
        Windows windows;
        std::function<void()> arrange;
        INT_PTR result;
        std::vector<UINT> boxes;
        UINT status; // the status line afterwards
        bool printer; // a printer of the model is there afterwards
    };
    const Case cases[] = {
        {"no INF beside the program", kWindowsXp, [] { fs::remove_all(control::HostPath("C:\\Setup\\NT")); },
         IDCANCEL, {IDS_INF_NOT_FOUND}, IDS_CLICK_INSTALL, false},
        {"PrintUIEntry finds no model for this Windows", kWindowsXp, [] { RenameModelIn("C:\\Setup\\NT\\KQT50.INF", "Velmora.NTx86"); },
         IDCANCEL, {IDS_CANNOT_OPEN_PRINTER, IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, false},
        {"PrintUIEntry misses a DLL of the kit",
         kWindowsXp, [] { fs::remove(control::HostPath("C:\\Setup\\NT\\i386\\KQMON.DLL")); }, IDCANCEL,
         {IDS_CANNOT_OPEN_PRINTER, IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, false},
        {"PrintUIEntry cannot add the driver", kWindowsXp,
         [] { control::InjectFault({control::Op::AddPrinterDriver, 1, control::FaultKind::Fail, 0, 5}); }, IDCANCEL,
         {IDS_CANNOT_OPEN_PRINTER, IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, false},
        {"rundll32 cannot be started", kWindowsXp,
         [] { control::InjectFault({control::Op::ShellExecuteEx, 1, control::FaultKind::Fail, 0, 2}); }, IDCANCEL,
         {IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, false},
        {"rundll32 ends with a nonzero exit code", kWindowsXp, [] { control::ForceNextRundll32Exit(5); }, IDCANCEL,
         {IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, false},
        {"the driver cannot be added, no error given", kWindows98,
         [] { control::InjectFault({control::Op::AddPrinterDriver, 1, control::FaultKind::Fail, 0, 0}); }, IDCANCEL,
         {IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, false},
        {"the printer cannot be added, no error given", kWindows98,
         [] { control::InjectFault({control::Op::AddPrinter, 1, control::FaultKind::Fail, 0, 0}); }, IDCANCEL,
         {IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, false},
        {"the properties cannot be set", kWindowsXp,
         [] { control::InjectFault({control::Op::SetPrinter, 1, control::FaultKind::Fail, 0, 5}); }, IDCANCEL,
         {IDS_SET_PROPERTIES_FAILED, IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, true},
        // the tail, after a printer that the Windows 98 path added
        {"the tail cannot open the printer", kWindows98,
         [] { control::InjectFault({control::Op::OpenPrinter, 2, control::FaultKind::Fail, 0, 5}); }, IDCANCEL,
         {IDS_CANNOT_OPEN_PRINTER, IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, true},
        {"no buffer for the printer record", kWindows98,
         [] {
             control::SetCallHook(control::Op::GetPrinter, [](uint64_t n) {
                 if (n == 1) {
                     FailNthBuffer(1); // the buffer of the size that this call asks for
                 }
             });
         },
         IDCANCEL, {IDS_OUT_OF_MEMORY, IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, true},
        {"the printer record cannot be read", kWindows98,
         [] { control::InjectFault({control::Op::GetPrinter, 2, control::FaultKind::Fail, 0, 5}); }, IDCANCEL,
         {IDS_SYSTEM_ERROR}, IDS_STEP_FAILED, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshMachine("case" + std::to_string(i), c.windows));
        ASSERT_NO_FATAL_FAILURE(c.arrange());
        control::ResetCounters();
        bool cancelled = false;
        std::string status;
        EXPECT_EQ(RunSetupDialog({[&](HWND d) {
                                     SendMessageA(GetDlgItem(d, IDC_INSTALL), BM_CLICK, 0, 0);
                                     status = Text(d, IDC_STATUS);
                                 }},
                                 &cancelled),
                  c.result);
        // the INF check leaves the dialog open (the harness cancels it); the sequences close it themselves
        EXPECT_EQ(cancelled, c.boxes.front() == IDS_INF_NOT_FOUND);
        Strings want;
        for (UINT id : c.boxes) {
            want.push_back(String(id));
        }
        EXPECT_EQ(BoxTexts(), want);
        EXPECT_EQ(status, String(c.status));
        CStringArray printers;
        EXPECT_EQ(CSetupDlg().FindInstalledPrinters(printers) != FALSE, c.printer);
        EXPECT_EQ(control::OpenPrinterHandles(), 0u);
        control::ClearFaults();
        control::ClearHooks();
        FailNthBuffer(0);
    }
}

// The 32-bit installer on 64-bit Windows installs nothing itself: it starts the kit's 64-bit installer by its
// full path and ends, or says that there is none; on 32-bit Windows, and on Windows 2000, which has no
// IsWow64Process, its dialog opens as always. The program is a 32-bit image here, as the built one is.
TEST_F(InstallRemoveTest, On64BitWindowsThe32BitInstallerHandsOverOrRefuses) {
    const Windows windows2000{"Windows 2000", VER_PLATFORM_WIN32_NT, 5, 0, PROCESSOR_ARCHITECTURE_INTEL};
    struct Case {
        Windows windows;
        bool setup64; // the 64-bit installer lies in the kit folder
        bool handedOver;
        std::vector<UINT> boxes;
        bool dialog;
    };
    const Case cases[] = {
        {kWindows7X64, true, true, {}, false},
        {kWindows7X64, false, false, {IDS_NO_64BIT_SETUP}, false},
        {kWindowsXp, true, false, {}, true},
        {windows2000, true, false, {}, true},
    };
    const std::string setup64 = std::string(kKitFolder) + "\\" + kqkit::kSetup64File;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.windows.name) + (c.setup64 ? ", with KqtSetup64.exe" : ", without KqtSetup64.exe"));
        ASSERT_NO_FATAL_FAILURE(FreshMachine("machine" + std::to_string(i), c.windows));
        kqtest::WriteImageHeaders(kProgram, IMAGE_FILE_MACHINE_I386);
        if (c.setup64) {
            kqtest::WriteImageHeaders(setup64, IMAGE_FILE_MACHINE_AMD64);
        }
        const Snapshot before = TakeSnapshot();
        control::ClearProcessStarts();
        BOOL started = TRUE;
        bool cancelled = false;
        Drive([&] { return static_cast<INT_PTR>(started = App().InitInstance()); },
              [] { return AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr; }, {}, &cancelled);
        EXPECT_FALSE(started) << "the application ends without a message loop";
        EXPECT_EQ(cancelled, c.dialog) << "the dialog opened, and was cancelled";
        const auto starts = control::ProcessStarts();
        ASSERT_EQ(starts.size(), c.handedOver ? 1u : 0u);
        if (c.handedOver) {
            EXPECT_EQ(starts[0].file, setup64);
            EXPECT_EQ(starts[0].verb, "open");
            EXPECT_EQ(starts[0].directory, kKitFolder);
            EXPECT_EQ(starts[0].parameters, "");
        }
        Strings want;
        for (UINT id : c.boxes) {
            want.push_back(String(id));
        }
        EXPECT_EQ(BoxTexts(), want);
        ExpectMachineAsBefore(before, "");
    }
    EXPECT_NE(String(IDS_NO_64BIT_SETUP).find(kqkit::kSetup64File), std::string::npos) << "the message names it";
}

// Two printers of the model: the first cannot be deleted, so the second is not tried, message 111 shows
// twice, the print processor and monitor are still removed, and the spooler's keys stay.
TEST_F(InstallRemoveTest, RemoveStopsAtAPrinterThatCannotBeDeleted) {
    EXPECT_EQ(Press(IDC_INSTALL), IDOK);
    AddPrinters({"KQT-50 Receipt 2"});
    control::ClearMessageBoxes();
    control::InjectFault({control::Op::DeletePrinter, 1, control::FaultKind::Fail, 0, 5});
    control::ResetCounters();
    EXPECT_EQ(Press(IDC_REMOVE), IDOK);
    EXPECT_EQ(control::CallCount(control::Op::DeletePrinter), 1u);
    EXPECT_EQ(BoxTexts(), (Strings{String(IDS_CANNOT_REMOVE), String(IDS_CANNOT_REMOVE)}));
    EXPECT_GE(control::CallCount(control::Op::DeletePrintProcessor), 1u);
    EXPECT_EQ(control::CallCount(control::Op::DeleteMonitor), 1u);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\"
                            "Version-3\\KQT-50 Receipt",
                            0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Without a printer of the model, remove changes nothing the user can see and the dialog stays open.
TEST_F(InstallRemoveTest, RemoveWithNothingInstalledDoesNothingVisible) {
    bool cancelled = false;
    std::string status;
    RunSetupDialog({[&](HWND d) {
                        status = Text(d, IDC_STATUS);
                        SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_REMOVE, BN_CLICKED),
                                     reinterpret_cast<LPARAM>(GetDlgItem(d, IDC_REMOVE)));
                    },
                    [&](HWND d) { EXPECT_EQ(Text(d, IDC_STATUS), status); }},
                   &cancelled);
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(Boxes().empty());
}


// Each sequence sets the bar's range once and then, step by step, moves the bar by one and shows the step's
// text. The wait cursor is on while it works, and off again, with the cursor from before back, on every way
// out.
TEST_F(InstallRemoveTest, SequencesShowTheirStepsAndEndTheWaitCursorOnEveryWayOut) {
    const auto fail = [](control::Op op, uint64_t nth = 1) {
        return [op, nth] { control::InjectFault({op, nth, control::FaultKind::Fail, 0, 5}); };
    };
    const auto nothing = [] {};
    struct Case {
        const char* what;
        Windows windows;
        bool installed; // the kit is installed first
        std::function<void()> arrange;
        int button;
        std::vector<UINT> steps;
        control::Op busy; // a call that the sequence makes while the wait cursor must be on
    };
    const Case cases[] = {
        {"install on Windows XP", kWindowsXp, false, nothing, IDC_INSTALL,
         {IDS_STEP_PORT, IDS_STEP_COPYING, IDS_STEP_PROPERTIES, IDS_STEP_DONE}, control::Op::ShellExecuteEx},
        {"install on Windows 98", kWindows98, false, nothing, IDC_INSTALL,
         {IDS_STEP_PORT, IDS_STEP_COPYING, IDS_STEP_COPYING, IDS_STEP_PROPERTIES, IDS_STEP_DONE},
         control::Op::AddPrinter},
        {"install on Windows XP, rundll32 fails", kWindowsXp, false, [] { control::ForceNextRundll32Exit(5); },
         IDC_INSTALL, {IDS_STEP_PORT, IDS_STEP_COPYING, IDS_STEP_FAILED}, control::Op::ShellExecuteEx},
        {"install on Windows 98, no driver", kWindows98, false, fail(control::Op::AddPrinterDriver), IDC_INSTALL,
         {IDS_STEP_PORT, IDS_STEP_COPYING, IDS_STEP_COPYING, IDS_STEP_FAILED}, control::Op::AddPrinterDriver},
        {"install on Windows 98, the tail fails", kWindows98, false, fail(control::Op::OpenPrinter, 2), IDC_INSTALL,
         {IDS_STEP_PORT, IDS_STEP_COPYING, IDS_STEP_COPYING, IDS_STEP_PROPERTIES, IDS_STEP_FAILED},
         control::Op::AddPrinter},
        {"remove", kWindowsXp, true, nothing, IDC_REMOVE,
         {IDS_STEP_REMOVE_PRINTER, IDS_STEP_REMOVE_PROCESSOR, IDS_STEP_REMOVE_MONITOR, IDS_STEP_REMOVED},
         control::Op::DeleteMonitor},
        {"remove, the printer stays", kWindowsXp, true, fail(control::Op::DeletePrinter), IDC_REMOVE,
         {IDS_STEP_REMOVE_PRINTER, IDS_STEP_REMOVE_PROCESSOR, IDS_STEP_REMOVE_MONITOR, IDS_STEP_FAILED},
         control::Op::DeletePrinter},
        {"remove with nothing installed", kWindowsXp, false, nothing, IDC_REMOVE, {}, control::Op::EnumPrinters},
    };
    const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshMachine("case" + std::to_string(i), c.windows));
        if (c.installed) {
            ASSERT_EQ(Press(IDC_INSTALL), IDOK);
        }
        c.arrange();
        control::ResetCounters();
        std::vector<HCURSOR> busyCursors;
        std::vector<std::string> seen;
        int position = 0;
        HCURSOR cursorAfter = nullptr;
        RunSetupDialog({[&](HWND d) {
            SetCursor(arrow);
            control::SetCallHook(c.busy, [&](uint64_t) { busyCursors.push_back(GetCursor()); });
            seen = PressWatched(d, c.button);
            control::ClearHooks();
            position = static_cast<int>(SendDlgItemMessageA(d, IDC_PROGRESS, PBM_GETPOS, 0, 0));
            cursorAfter = GetCursor();
        }});
        control::ClearHooks();
        control::ClearFaults();
        std::vector<std::string> want;
        if (!c.steps.empty()) {
            want.push_back("range 1-4");
        }
        for (UINT id : c.steps) {
            want.push_back("+1");
            want.push_back(String(id));
        }
        EXPECT_EQ(seen, want);
        if (!c.steps.empty()) {
            EXPECT_EQ(position, std::min<int>(1 + static_cast<int>(c.steps.size()), 4)) << "the bar stops at its end";
        }
        EXPECT_FALSE(busyCursors.empty());
        EXPECT_EQ(busyCursors, std::vector<HCURSOR>(busyCursors.size(), wait)) << "the wait cursor is on";
        EXPECT_EQ(cursorAfter, arrow) << "the cursor from before is back";
    }
}

// With no port chosen, install says so, puts the focus on the port list and writes nothing; the dialog stays
// open.
TEST_F(InstallRemoveTest, InstallWithoutAPortSaysSoAndWritesNothing) {
    const Snapshot before = TakeSnapshot();
    control::ClearProcessStarts();
    bool cancelled = false;
    std::vector<std::string> seen;
    bool portFocused = false;
    RunSetupDialog({[&](HWND d) {
                        SendDlgItemMessageA(d, IDC_PORT, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
                        SetFocus(GetDlgItem(d, IDCANCEL));
                        seen = PressWatched(d, IDC_INSTALL);
                        portFocused = GetFocus() == GetDlgItem(d, IDC_PORT);
                    },
                    [](HWND d) { EXPECT_TRUE(IsWindowVisible(d)); }},
                   &cancelled);
    EXPECT_TRUE(cancelled) << "the dialog closed";
    EXPECT_EQ(BoxTexts(), Strings{String(IDS_SELECT_PORT)});
    EXPECT_TRUE(portFocused);
    EXPECT_EQ(seen, std::vector<std::string>{}) << "no progress, no status";
    EXPECT_TRUE(control::ProcessStarts().empty());
    ExpectMachineAsBefore(before, "");
}

// The installed printer prints through KQPRINT, with 0x800 and 0x1000 added to the attributes it had and none
// taken away. On Windows 98 the driver, monitor and print processor are registered as the kit names them, the
// driver where Windows 98 keeps it; removal takes them all again, the driver through the spooler.
TEST_F(InstallRemoveTest, InstalledPrinterAndTheWindows98RegistrationsFieldByField) {
    const DWORD had = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS;
    const std::string driver = kEnvironments + "Windows 4.0\\Drivers\\KQT-50 Receipt";
    const std::string monitor = kPrintKey + "\\Monitors\\ZIDERIVAR";
    const std::string processor = kEnvironments + "Windows 4.0\\Print Processors\\KQPRINT";
    for (const Windows& windows : {kWindowsXp, kWindows98}) {
        SCOPED_TRACE(windows.name);
        ASSERT_NO_FATAL_FAILURE(FreshMachine(windows.name, windows));
        // the printer has bits of its own by the time the tail reads it
        bool marked = false;
        control::SetCallHook(control::Op::GetPrinter, [&](uint64_t) {
            marked = marked || control::SetPrinterAttributes(kqkit::kPrinterName, had);
        });
        EXPECT_EQ(Press(IDC_INSTALL), IDOK);
        control::ClearHooks();
        EXPECT_TRUE(marked);
        const std::optional<PrinterRecord> printer = ReadPrinter(kqkit::kPrinterName);
        ASSERT_TRUE(printer.has_value());
        EXPECT_EQ(printer->processor, "KQPRINT");
        EXPECT_EQ(printer->attributes, had | PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_RAW_ONLY);
        EXPECT_EQ(printer->port, "COM1:");
        EXPECT_EQ(printer->driver, kqkit::kPrinterName);
        EXPECT_EQ(printer->datatype, "RAW");

        if (windows.platform != VER_PLATFORM_WIN32_NT) {
            const std::pair<const char*, const char*> values[] = {
                {"Driver", "kqt50.drv"},   {"Data File", "kqt50.drv"},
                {"Configuration File", "kqt50.drv"}, {"Help File", "UNIDRV.HLP"},
                {"Dependent Files", "UNIDRV.DLL|UNIDRV.HLP|ICONLIB.DLL"}, {"Monitor", "ZIDERIVAR"},
                {"Datatype", "RAW"},
            };
            for (const auto& [name, value] : values) {
                EXPECT_EQ(RegValue(driver, name), value) << name;
            }
            EXPECT_FALSE(KeyExists(kEnvironments + "Windows 4.0\\Drivers\\Version-0\\KQT-50 Receipt"));
            EXPECT_EQ(RegValue(monitor, "Driver"), "KQMON.DLL");
            EXPECT_EQ(RegValue(processor, "Driver"), "KQPRINT.DLL");
        }

        control::ResetCounters();
        EXPECT_EQ(Press(IDC_REMOVE), IDOK);
        EXPECT_EQ(control::CallCount(control::Op::DeletePrinterDriver), 1u);
        for (const std::string& key : {driver, monitor, processor}) {
            EXPECT_FALSE(KeyExists(key)) << key;
        }
    }
}

// What goes wrong in the removal, and what the user sees of it.
TEST_F(InstallRemoveTest, RemoveFailuresAsTheUserSeesThem) {
    const std::string driverKey = kEnvironments + "Windows NT x86\\Drivers\\Version-3\\KQT-50 Receipt";
    const std::string processorFile = "C:\\WINDOWS\\System32\\spool\\PRTPROCS\\W32X86\\KQPRINT.DLL";
    const std::string monitorFile = "C:\\WINDOWS\\SYSTEM32\\KQMON.DLL";
    const auto fail = [](control::Op op, DWORD error, bool sticky) {
        return [=] { control::InjectFault({op, 1, control::FaultKind::Fail, 0, error, sticky}); };
    };
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::vector<UINT> boxes;
        UINT status;
        bool printersGo;    // every printer of the model is deleted, in the order of the list
        uint64_t keyOpens;  // the clean-up's keys opened
        bool keysStay;      // the driver's key is still there afterwards
        bool processorFile; // KQPRINT.DLL is still there afterwards
        bool monitorFile;   // KQMON.DLL is still there afterwards
    };
    const Case cases[] = {
        {"two printers of the model", [] {}, {IDS_REMOVE_OK}, IDS_STEP_REMOVED, true, 3, false, false, false},
        // the printer keeps using the print processor, which therefore stays
        {"the first printer cannot be opened", fail(control::Op::OpenPrinter, 5, false),
         {IDS_CANNOT_OPEN_PRINTER, IDS_CANNOT_REMOVE}, IDS_STEP_FAILED, false, 0, true, true, false},
        {"the first key cannot be opened", fail(control::Op::RegOpenKeyEx, ERROR_ACCESS_DENIED, false),
         {IDS_REMOVE_OK}, IDS_STEP_REMOVED, true, 1, true, false, false},
        {"the print processor is gone already",
         fail(control::Op::DeletePrintProcessor, ERROR_UNKNOWN_PRINTPROCESSOR, true), {IDS_REMOVE_OK},
         IDS_STEP_REMOVED, true, 3, false, true, false},
        {"the monitor is gone already", fail(control::Op::DeleteMonitor, ERROR_UNKNOWN_PRINT_MONITOR, false),
         {IDS_REMOVE_OK}, IDS_STEP_REMOVED, true, 3, false, false, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshMachine("case" + std::to_string(i), kWindowsXp));
        ASSERT_EQ(Press(IDC_INSTALL), IDOK);
        AddPrinters({"KQT-50 Receipt 2"});
        CStringArray list;
        ASSERT_TRUE(CSetupDlg().FindInstalledPrinters(list));
        ASSERT_EQ(list.GetSize(), 2);
        control::ClearMessageBoxes();
        c.arrange();
        control::ResetCounters();
        // the printer that each deletion takes is the first one left
        Strings deleted;
        control::SetCallHook(control::Op::DeletePrinter, [&](uint64_t) {
            CStringArray left;
            CSetupDlg().FindInstalledPrinters(left);
            deleted.push_back(left.GetSize() > 0 ? static_cast<LPCSTR>(left[0]) : "");
        });
        std::string status;
        EXPECT_EQ(RunSetupDialog({[&](HWND d) {
                      PressWatched(d, IDC_REMOVE);
                      status = Text(d, IDC_STATUS);
                  }}),
                  IDOK);
        control::ClearHooks();
        control::ClearFaults();
        Strings want;
        for (UINT id : c.boxes) {
            want.push_back(String(id));
        }
        EXPECT_EQ(BoxTexts(), want);
        EXPECT_EQ(status, String(c.status));
        EXPECT_EQ(deleted, c.printersGo ? (Strings{static_cast<LPCSTR>(list[0]), static_cast<LPCSTR>(list[1])})
                                        : Strings{});
        CStringArray left;
        EXPECT_EQ(CSetupDlg().FindInstalledPrinters(left) == FALSE, c.printersGo);
        EXPECT_EQ(control::CallCount(control::Op::RegOpenKeyEx), c.keyOpens);
        EXPECT_EQ(KeyExists(driverKey), c.keysStay);
        EXPECT_EQ(fs::exists(control::HostPath(processorFile)), c.processorFile);
        EXPECT_EQ(fs::exists(control::HostPath(monitorFile)), c.monitorFile);
    }
}

// Removal opens the spooler's keys and never makes one: a machine without them still lacks them afterwards.
TEST_F(InstallRemoveTest, RemovalMakesNoSpoolerKeyThatTheMachineLacks) {
    AddPrinters({"KQT-50 Receipt"});
    // Windows 98's RegDeleteKeyA takes a key with everything below it
    control::SetWindowsVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, PROCESSOR_ARCHITECTURE_INTEL);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kEnvironments + "Windows NT x86").c_str()), ERROR_SUCCESS);
    control::SetWindowsVersion(kWindowsXp.platform, kWindowsXp.major, kWindowsXp.minor, kWindowsXp.architecture);
    EXPECT_EQ(Press(IDC_REMOVE), IDOK);
    EXPECT_EQ(BoxTexts(), Strings{String(IDS_REMOVE_OK)});
    EXPECT_FALSE(KeyExists(kEnvironments + "Windows NT x86"));
    EXPECT_FALSE(KeyExists(kPrintKey + "\\Monitors\\ZIDERIVAR"));
}

} // namespace
} // namespace kqsetuptest
