// The 32-bit installer's install and remove buttons on the stand-in, with the real install media beside the
// program: the kit's whole life by each path (install, print with kqspool, remove, and the machine as it was),
// the failures of both sequences as the user sees them, and the installer started on 64-bit Windows.
#include "kit_life.h"

#include "kit_names.h"
#include "kqwin/test_control.h"
#include "machine.h"

#include <filesystem>
#include <fstream>

namespace kqsetuptest {
namespace {

namespace control = kqwin::control;
namespace fs = std::filesystem;

using InstallRemoveTest = KitLifeTest;

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
        control::ClearFaults();
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

} // namespace
} // namespace kqsetuptest
