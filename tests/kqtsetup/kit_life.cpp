#include "kit_life.h"

#include "escpos.h"
#include "kqmon.h"
#include "kqwin/test_control.h"
#include "machine.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kqsetuptest {
namespace {

namespace control = kqwin::control;
namespace fs = std::filesystem;

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

} // namespace

void RenameModelIn(const std::string& infPath, const std::string& section) {
    const std::string inf = control::HostPath(infPath);
    std::string text = ReadHost(inf);
    const std::string line = "[" + section + "]\n\"KQT-50 Receipt\"";
    const size_t at = text.find(line);
    ASSERT_NE(at, std::string::npos) << line;
    text.insert(at + line.size() - 1, " 2");
    std::ofstream(inf, std::ios::binary | std::ios::trunc) << text;
}

void KitLifeTest::SetUp() {
    DialogTest::SetUp();
    ASSERT_FALSE(Bin().empty());
    ASSERT_NO_FATAL_FAILURE(Arrange());
}

void KitLifeTest::Arrange() {
    ASSERT_NO_FATAL_FAILURE(kqtest::StageKit(kKitFolder));
    control::SetProgramPath(kProgram);
    SetPorts({"COM1:", "LPT1:"});
    // the port's settings are the machine's: stored before, so that writing them back changes nothing
    StoreDcb("COM1", MakeDcb(9600, 8, NOPARITY, ONESTOPBIT, kBinary));
}

void KitLifeTest::FreshMachine(const std::string& name, const Windows& windows) {
    const std::string root = Root() + "/" + name;
    fs::create_directories(root);
    control::ResetMachine(root);
    ASSERT_NO_FATAL_FAILURE(Arrange());
    control::SetWindowsVersion(windows.platform, windows.major, windows.minor, windows.architecture);
    control::ClearMessageBoxes();
}

INT_PTR KitLifeTest::Press(int button) {
    return RunSetupDialog(
        {[button](HWND dialog) { SendMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0); }});
}

std::string KitLifeTest::InstallAndTakeRundll32Parameters() {
    control::ClearProcessStarts();
    EXPECT_EQ(Press(IDC_INSTALL), IDOK);
    const std::vector<control::ProcessStart> starts = control::ProcessStarts();
    EXPECT_EQ(starts.size(), 1u);
    if (starts.empty()) {
        return {};
    }
    EXPECT_EQ(starts[0].file, "C:\\WINDOWS\\SYSTEM32\\rundll32.exe");
    EXPECT_EQ(starts[0].verb, "open");
    EXPECT_EQ(starts[0].mask, 0x140u);
    return starts[0].parameters;
}

Strings KitLifeTest::BoxTexts() const {
    Strings out;
    for (const Box& b : Boxes()) {
        out.push_back(b.text);
    }
    return out;
}

int KitLifeTest::PrintSample(std::string* err) {
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

Snapshot KitLifeTest::TakeSnapshot() {
    const std::string root = control::MachineRoot();
    Snapshot files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            files[fs::relative(e.path(), root).string()] = ReadHost(e.path().string());
        }
    }
    return files;
}

void KitLifeTest::ExpectMachineAsBefore(const Snapshot& before, const std::string& driverFolder) {
    const std::string root = control::MachineRoot();
    const std::string capture = fs::relative(control::HostPath(kqmon::kCapturePath), root).string();
    Snapshot after = TakeSnapshot();
    for (auto it = after.begin(); it != after.end();) {
        const std::string& name = it->first;
        const bool printed = name == capture || name.rfind("ports/", 0) == 0;
        const bool driverFile = !driverFolder.empty() && name.find(driverFolder) != std::string::npos;
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

void KitLifeTest::WholeLife(const Windows& windows, const std::string& driverFolder) {
    SCOPED_TRACE(windows.name);
    ASSERT_NO_FATAL_FAILURE(FreshMachine(windows.name, windows));
    const Snapshot before = TakeSnapshot();

    EXPECT_EQ(Press(IDC_INSTALL), IDOK);
    EXPECT_EQ(BoxTexts(), Strings{String(IDS_INSTALL_OK)});

    std::string said;
    ASSERT_EQ(PrintSample(&said), 0) << said;
    // how that Windows' spooler calls the monitor
    const char* entry = windows.platform == VER_PLATFORM_WIN32_NT ? "InitializePrintMonitor2" : "InitializeMonitorEx";
    EXPECT_NE(said.find(std::string("through KQMON via ") + entry), std::string::npos) << said;
    const std::string port = ReadHost(control::PortTarget("COM1:"));
    const escpos::Bytes out(port.begin(), port.end());
    EXPECT_EQ(escpos::CountRasterImages(out), 1u) << "the page's bands merged into one image";
    // the job went through the language monitor: its driver names the monitor that the kit registered
    EXPECT_FALSE(port.empty());
    EXPECT_EQ(ReadHost(control::HostPath(kqmon::kCapturePath)), port)
        << "the monitor's copy is not the port's bytes";

    control::ClearMessageBoxes();
    EXPECT_EQ(Press(IDC_REMOVE), IDOK);
    EXPECT_EQ(BoxTexts(), Strings{String(IDS_REMOVE_OK)});
    ExpectMachineAsBefore(before, driverFolder);
}

} // namespace kqsetuptest
