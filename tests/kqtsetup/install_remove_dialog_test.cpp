// The install and remove buttons on the stand-in, with the real install media beside the program: the
// kit's whole life by each path (install, print with kqspool, remove, and the machine as it was), and the
// failures of both sequences as the user sees them.
#include "dialog_harness.h"

#include "escpos.h"
#include "kqmon.h"
#include "kqwin/test_control.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace kqsetuptest {
namespace {

namespace control = kqwin::control;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

constexpr char kProgram[] = "C:\\Setup\\KqtSetup.exe";

std::string Bin() {
    const char* bin = std::getenv("KQ_TEST_BIN");
    return bin ? bin : "";
}

std::string ReadHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Every file of the machine with its content, and its registry, keyed by path.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            files[fs::relative(e.path(), root).string()] = ReadHost(e.path().string());
        }
    }
    return files;
}

// The lines of `text` that `other` lacks.
Strings Lines(const std::string& text, const std::string& other) {
    std::istringstream in(text);
    Strings out;
    for (std::string line; std::getline(in, line);) {
        if (other.find(line + "\n") == std::string::npos) {
            out.push_back(line);
        }
    }
    return out;
}

class InstallRemoveTest : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        ASSERT_FALSE(Bin().empty());
        Arrange();
    }

    // A machine with the setup folder as the build lays it out (the program, the two libraries, the media),
    // a COM and an LPT port, the COM port's settings stored.
    void Arrange() {
        const std::string setup = control::HostPath("C:\\Setup");
        fs::create_directories(setup);
        // the simulated disk keeps names in lower case
        const fs::path media = std::string(KQ_SOURCE_DIR) + "/media";
        for (const auto& e : fs::recursive_directory_iterator(media)) {
            std::string name = fs::relative(e.path(), media).string();
            for (char& c : name) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            if (e.is_directory()) {
                fs::create_directories(setup + "/" + name);
            } else {
                fs::copy_file(e.path(), setup + "/" + name);
            }
        }
        fs::copy_file(Bin() + "/libkqprint.so", setup + "/kqprint.dll");
        fs::copy_file(Bin() + "/libkqmon.so", setup + "/kqmon.dll");
        control::SetProgramPath(kProgram);
        SetPorts({"COM1:", "LPT1:"});
        // the port's settings are the machine's: stored before, so that writing them back changes nothing
        StoreDcb("COM1", MakeDcb(9600, 8, NOPARITY, ONESTOPBIT, kBinary));
    }

    // Runs the dialog and presses `button` once it is up.
    INT_PTR Press(int button) {
        return RunSetupDialog({[button](HWND dialog) {
            SendMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
        }});
    }

    Strings BoxTexts() const {
        Strings out;
        for (const Box& b : Boxes()) {
            out.push_back(b.text);
        }
        return out;
    }

    // kqspool prints the bundled receipt through the installed printer, as its own process would; what it
    // says on standard error goes to `err`.
    int PrintSample(std::string* err) {
        const std::string errFile = Root() + "/kqspool.err";
        const pid_t pid = fork();
        if (pid == 0) {
            if (!freopen(errFile.c_str(), "w", stderr)) {
                _exit(126);
            }
            setenv("KQT50_ROOT", control::MachineRoot().c_str(), 1);
            const std::string program = Bin() + "/kqspool";
            const std::string job = std::string(KQ_SOURCE_DIR) + "/samples/receipt.prn";
            execl(program.c_str(), program.c_str(), "print", job.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        control::ResetMachine(control::MachineRoot()); // the printing process changed the machine's files
        *err = ReadHost(errFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(InstallRemoveTest, WholeLifeByEachPathLeavesTheMachineAsItWas) {
    struct Path {
        const char* name;
        DWORD platform;
        const char* monitorEntry; // how that Windows' spooler calls the monitor
    };
    for (const Path& path : {Path{"NT", VER_PLATFORM_WIN32_NT, "InitializePrintMonitor2"},
                             Path{"98/ME", VER_PLATFORM_WIN32_WINDOWS, "InitializeMonitorEx"}}) {
        SCOPED_TRACE(path.name);
        const std::string root = Root() + "/" + (path.platform == VER_PLATFORM_WIN32_NT ? "nt" : "9x");
        fs::create_directories(root);
        control::ResetMachine(root);
        Arrange();
        control::SetWindowsVersion(path.platform, path.platform == VER_PLATFORM_WIN32_NT ? 5 : 4, 10);
        control::ClearMessageBoxes();
        const auto before = Snapshot(root);

        EXPECT_EQ(Press(IDC_INSTALL), IDOK);
        EXPECT_EQ(BoxTexts(), Strings{String(IDS_INSTALL_OK)});

        std::string printed;
        ASSERT_EQ(PrintSample(&printed), 0) << printed;
        EXPECT_NE(printed.find(std::string("through KQMON via ") + path.monitorEntry), std::string::npos) << printed;
        const std::string port = ReadHost(control::PortTarget("COM1:"));
        const escpos::Bytes out(port.begin(), port.end());
        EXPECT_EQ(escpos::CountRasterImages(out), 1u) << "the page's bands merged into one image";
        const std::string capturePath = control::HostPath(kqmon::kCapturePath);
        // the job went through the language monitor: its driver names the monitor that the kit registered
        EXPECT_FALSE(port.empty());
        EXPECT_EQ(ReadHost(capturePath), port) << "the monitor's copy is not the port's bytes";

        control::ClearMessageBoxes();
        EXPECT_EQ(Press(IDC_REMOVE), IDOK);
        EXPECT_EQ(BoxTexts(), Strings{String(IDS_REMOVE_OK)});

        auto after = Snapshot(root);
        // What printing made, and the driver's files, which removal leaves: it deletes the driver's key only.
        for (auto it = after.begin(); it != after.end();) {
            const std::string& name = it->first;
            const bool printed =
                name == fs::relative(capturePath, root).string() || name.rfind("ports/", 0) == 0;
            const bool driverFile = name.find("spool/drivers/w32x86/3/") != std::string::npos;
            it = (printed || (driverFile && !before.count(name))) ? after.erase(it) : std::next(it);
        }
        for (const auto& [name, content] : before) {
            EXPECT_TRUE(after.count(name)) << name << " is gone";
            if (after.count(name) && name.find("registry") != std::string::npos) {
                EXPECT_EQ(Lines(after[name], content), Strings{}) << "registry lines left behind";
                EXPECT_EQ(Lines(content, after[name]), Strings{}) << "registry lines gone";
            }
        }
        for (const auto& [name, content] : after) {
            EXPECT_TRUE(before.count(name)) << name << " was left behind";
        }
    }
}

// The system's own rundll32, by its full path, with the printer set-up entry's exact parameters; a
// rundll32.exe planted beside the program is never run.
TEST_F(InstallRemoveTest, NtPathStartsTheSystemsRundll32WithTheExactParameters) {
    { std::ofstream(control::HostPath("C:\\Setup\\rundll32.exe")) << "planted"; }
    control::ClearProcessStarts();
    EXPECT_EQ(Press(IDC_INSTALL), IDOK);
    const std::vector<control::ProcessStart> starts = control::ProcessStarts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].file, "C:\\WINDOWS\\SYSTEM32\\rundll32.exe");
    EXPECT_EQ(starts[0].parameters,
              "PRINTUI.DLL,PrintUIEntry /if /b \"KQT-50 Receipt\" /f \"C:\\Setup\\NT\\KQT50.INF\" /r \"COM1:\" /w /v "
              "\"Windows 2000 or XP\" /m \"KQT-50 Receipt\"");
    EXPECT_EQ(starts[0].verb, "open");
    EXPECT_EQ(starts[0].mask, 0x140u);
}

// What goes wrong in the install, and what the user sees of it.
TEST_F(InstallRemoveTest, InstallFailuresAsTheUserSeesThem) {
    struct Case {
        const char* what;
        DWORD platform;
        std::function<void()> arrange;
        INT_PTR result;
        std::vector<UINT> boxes;
        bool printer; // a printer of the model is there afterwards
    };
    const Case cases[] = {
        {"no INF beside the program", VER_PLATFORM_WIN32_NT,
         [] { fs::remove_all(control::HostPath("C:\\Setup\\NT")); }, IDCANCEL, {IDS_INF_NOT_FOUND}, false},
        {"rundll32 ends with a nonzero exit code", VER_PLATFORM_WIN32_NT, [] { control::ForceNextRundll32Exit(5); },
         IDCANCEL, {IDS_SYSTEM_ERROR}, false},
        {"the driver cannot be added, no error given", VER_PLATFORM_WIN32_WINDOWS,
         [] { control::InjectFault({control::Op::AddPrinterDriver, 1, control::FaultKind::Fail, 0, 0}); }, IDCANCEL,
         {IDS_SYSTEM_ERROR}, false},
        {"the printer cannot be added, no error given", VER_PLATFORM_WIN32_WINDOWS,
         [] { control::InjectFault({control::Op::AddPrinter, 1, control::FaultKind::Fail, 0, 0}); }, IDCANCEL,
         {IDS_SYSTEM_ERROR}, false},
        {"the properties cannot be set", VER_PLATFORM_WIN32_NT,
         [] { control::InjectFault({control::Op::SetPrinter, 1, control::FaultKind::Fail, 0, 5}); }, IDCANCEL,
         {IDS_SET_PROPERTIES_FAILED, IDS_SYSTEM_ERROR}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        static int machine = 0;
        const std::string root = Root() + "/case" + std::to_string(++machine);
        fs::create_directories(root);
        control::ResetMachine(root);
        Arrange();
        control::SetWindowsVersion(c.platform, c.platform == VER_PLATFORM_WIN32_NT ? 5 : 4, 10);
        c.arrange();
        control::ResetCounters();
        bool cancelled = false;
        EXPECT_EQ(RunSetupDialog({[](HWND d) { SendMessageA(GetDlgItem(d, IDC_INSTALL), BM_CLICK, 0, 0); }},
                                 &cancelled),
                  c.result);
        // the INF check leaves the dialog open (the harness cancels it); the sequences close it themselves
        EXPECT_EQ(cancelled, c.boxes.front() == IDS_INF_NOT_FOUND);
        Strings want;
        for (UINT id : c.boxes) {
            want.push_back(String(id));
        }
        EXPECT_EQ(BoxTexts(), want);
        CStringArray printers;
        EXPECT_EQ(CSetupDlg().FindInstalledPrinters(printers) != FALSE, c.printer);
        control::ClearFaults();
        control::ClearMessageBoxes();
    }
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
