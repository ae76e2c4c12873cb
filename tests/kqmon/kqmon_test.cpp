// The language monitor on the Linux stand-in: its trace lines, the safety of the capture path, handles it
// must not leak, and documents printed through the spooler with the monitor in the path, on each Windows
// the stand-in plays.
#include "harness.h"
#include "machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kqmontest {
namespace {

using kqtest::FileBytes;
namespace control = kqwin::control;
using Lines = std::vector<std::string>;

void WriteFileBytes(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST_P(MonitorTest, TraceLinesOfADocument) {
    HANDLE port = OpenPort();
    PrintDocument(port, 9, {Text("abc"), Text("de")});
    BYTE in[4];
    DWORD read = 0;
    Read(port, in, sizeof(in), &read);
    ClosePort(port);
    const Lines expected = {"KQMonOpenPortEx()\n",          "KQMonOpenPortEx() ok?1\n",
                            "KQMonStartDocPort(level:1)\n", "KQMonStartDocPort() ok?1\n",
                            "KQMonWritePort() 3 bytes\n",   "KQMonWritePort() 2 bytes\n",
                            "KQMonEndDocPort() \n",         "KQMonReadPort()\n",
                            "KQMonClosePort()\n"};
    EXPECT_EQ(TakeTrace(), expected);
}

TEST_F(Monitor9xTest, TraceOfInitialization) {
    char root[] = "";
    MONITORA t{};
    init9x_(root, &t);
    EXPECT_EQ(TakeTrace(), Lines{"InitializePrintMonitor()\n"});
    char named[] = "SYSTEM\\Monitors\\KQMON";
    init9x_(named, &t);
    EXPECT_EQ(TakeTrace(), Lines{"InitializePrintMonitor(SYSTEM\\Monitors\\KQMON)\n"});
}

TEST_P(MonitorTest, TraceLinesOfFailures) {
    HANDLE h = nullptr;
    OpenPortEx("COM3:", &h, false);
    EXPECT_EQ(TakeTrace(), (Lines{"KQMonOpenPortEx()\n", "Kqmon: Invalid port monitors passed to OpenPortEx\n",
                                  "KQMonOpenPortEx() ok?0\n"}));
    Fake().openResult = FALSE;
    OpenPortEx("COM3:", &h);
    EXPECT_EQ(TakeTrace(),
              (Lines{"KQMonOpenPortEx()\n", "kqmon: OpenPort COM3: : Failed\n", "KQMonOpenPortEx() ok?0\n"}));
    Fake().openResult = TRUE;
    h = OpenPort();
    TakeTrace();
    StartDocAs(h, "Nowhere", 4);
    EXPECT_EQ(TakeTrace(), (Lines{"KQMonStartDocPort(level:1)\n",
                                  "kqmon: OpenPrinter failed for Nowhere last error 1801\n",
                                  "KQMonStartDocPort() ok?0\n"}));
    StartDocAs(h, "Nowhere", 4, false);
    EXPECT_EQ(TakeTrace(), Lines{"KQMonStartDocPort(level:1)\n"});
    ClosePort(h);
}

// Names reach the trace in the machine's code page (949), whichever form the spooler passed them in.
TEST_P(MonitorTest, TraceShowsNamesInTheMachinesCodePage) {
    const char receipt[] = "\xbf\xb5\xbc\xf6\xc1\xf5"; // "영수증" in code page 949
    const char port[] = "\xc6\xf7\xc6\xae:";             // "포트:"
    Fake().openResult = FALSE;
    HANDLE h = nullptr;
    OpenPortEx(port, &h);
    Fake().openResult = TRUE;
    h = OpenPort();
    StartDocAs(h, receipt, 1);
    ClosePort(h);
    const Lines trace = TakeTrace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "kqmon: OpenPort 포트: : Failed\n"), trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "kqmon: OpenPrinter failed for 영수증 last error 1801\n"),
              trace.end());
}

TEST_F(MonitorNtTest, TraceShowsTheFirst255CharactersOfALongName) {
    HANDLE h = OpenPort();
    TakeTrace();
    StartDocAs(h, std::string(300, 'P').c_str(), 1);
    ClosePort(h);
    EXPECT_EQ(TakeTrace().at(1), "kqmon: OpenPrinter failed for " + std::string(255, 'P') + " last error 1801\n");
}

TEST_P(MonitorTest, NoMemoryForThePortRecord) {
    control::InjectFault({control::Op::GlobalAlloc, 1});
    HANDLE h = nullptr;
    EXPECT_FALSE(OpenPortEx("COM1:", &h));
    EXPECT_EQ(TakeTrace(), (Lines{"KQMonOpenPortEx()\n", "Kqmon: no mem\n"}));
    EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(MonitorNtTest, NoMemoryForTheInstance) {
    control::InjectFault({control::Op::GlobalAlloc, 1, control::FaultKind::Fail, 0, ERROR_NOT_ENOUGH_MEMORY});
    MONITORINIT init = MonitorInit();
    HANDLE instance = nullptr;
    SetLastError(0);
    EXPECT_EQ(initNt_(&init, &instance), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(instance, nullptr);
    EXPECT_EQ(TakeTrace(), (Lines{"InitializePrintMonitor()\n", "Kqmon: no mem\n"}));
}

TEST_P(MonitorTest, PrinterHandlesAreClosedOnEveryPath) {
    const long blocks = control::LiveGlobalBlocks();
    const size_t before = control::OpenPrinterHandles();
    HANDLE port = OpenPort();
    Fake().startResult = FALSE;
    EXPECT_FALSE(StartDoc(port, 1));
    EXPECT_EQ(control::OpenPrinterHandles(), before) << "the printer handle of a document that did not start";
    Fake().startResult = TRUE;
    ASSERT_TRUE(StartDoc(port, 2));
    EXPECT_EQ(control::OpenPrinterHandles(), before + 1);
    ASSERT_TRUE(StartDoc(port, 3)); // a document that never ended is tidied by the next one
    EXPECT_EQ(control::OpenPrinterHandles(), before + 1);
    EXPECT_TRUE(EndDoc(port));
    EXPECT_EQ(control::OpenPrinterHandles(), before);
    ASSERT_TRUE(StartDoc(port, 4));
    EXPECT_TRUE(ClosePort(port));
    EXPECT_EQ(control::OpenPrinterHandles(), before);
    EXPECT_EQ(control::OpenFileHandles(), 0u);
    EXPECT_EQ(control::LiveGlobalBlocks(), blocks) << "the port's record";
}

// Shutdown frees its own instance, and nothing for a handle that is none.
TEST_F(MonitorNtTest, ShutdownFreesTheInstanceItIsGiven) {
    const long before = control::LiveGlobalBlocks();
    MONITORINIT init = MonitorInit();
    HANDLE instance = nullptr;
    MONITOR2* table = initNt_(&init, &instance);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(control::LiveGlobalBlocks(), before + 1);
    HANDLE port = OpenPort();
    ASSERT_NE(port, nullptr);
    for (HANDLE other : {static_cast<HANDLE>(nullptr), port, static_cast<HANDLE>(&init)}) {
        table->pfnShutdown(other);
    }
    EXPECT_EQ(control::LiveGlobalBlocks(), before + 2) << "an instance and a port record";
    table->pfnShutdown(instance);
    EXPECT_EQ(control::LiveGlobalBlocks(), before + 1);
    tableNt_->pfnShutdown(instance); // a second time (the table went with it): nothing is freed twice
    EXPECT_EQ(control::LiveGlobalBlocks(), before + 1);
    EXPECT_TRUE(ClosePort(port));
    EXPECT_EQ(control::LiveGlobalBlocks(), before);
}

class CapturePathTest : public MonitorTest {
  protected:
    void SetUp() override {
        MonitorTest::SetUp();
        std::filesystem::create_directories(std::filesystem::path(CapturePath()).parent_path());
    }
    std::string CapturePath() { return control::HostPath(kqmon::kCapturePath); }
    std::string Elsewhere() { return control::HostPath("c:\\secret.txt"); }
};
INSTANTIATE_TEST_SUITE_P(Entries, CapturePathTest, ::testing::Values(Entry::Spooler9x, Entry::SpoolerNt),
                         EntryName);

TEST_P(CapturePathTest, LinkAtTheCapturePathIsNotFollowed) {
    WriteFileBytes(Elsewhere(), "keep me");
    ASSERT_EQ(symlink(Elsewhere().c_str(), CapturePath().c_str()), 0);
    HANDLE port = OpenPort();
    PrintDocument(port, 1, {Text("printed anyway")});
    EXPECT_EQ(FileBytes(Elsewhere()), Text("keep me"));
    EXPECT_EQ(Fake().written, Text("printed anyway"));
    struct stat st{};
    ASSERT_EQ(lstat(CapturePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ClosePort(port);
}

TEST_P(CapturePathTest, FileWithAnotherNameIsNotWritten) {
    WriteFileBytes(Elsewhere(), "keep me too");
    ASSERT_EQ(link(Elsewhere().c_str(), CapturePath().c_str()), 0);
    HANDLE port = OpenPort();
    PrintDocument(port, 1, {Text("printed anyway")});
    EXPECT_EQ(FileBytes(Elsewhere()), Text("keep me too"));
    EXPECT_EQ(Fake().written, Text("printed anyway"));
    ClosePort(port);
    // once the extra name is gone the capture works again
    ASSERT_EQ(unlink(Elsewhere().c_str()), 0);
    port = OpenPort();
    PrintDocument(port, 2, {Text("now captured")});
    EXPECT_EQ(FileBytes(CapturePath()), Text("now captured"));
    ClosePort(port);
}

TEST_P(CapturePathTest, CaptureThatCannotBeWrittenDoesNotStopTheDocument) {
    HANDLE port = OpenPort();
    control::InjectFault({control::Op::CreateFile, 1});
    PrintDocument(port, 1, {Text("one")});
    EXPECT_EQ(control::CallCount(control::Op::WriteFile), 0u) << "a copy was written without a capture file";
    control::ClearFaults();
    ASSERT_TRUE(StartDoc(port, 2));
    control::InjectFault({control::Op::WriteFile, 1, control::FaultKind::Fail, 0, 0, true});
    DWORD written = 0;
    SetLastError(0);
    EXPECT_TRUE(Write(port, Text("two"), &written));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(GetLastError(), 0u) << "the failed copy changed the port's last error";
    EXPECT_TRUE(EndDoc(port));
    EXPECT_EQ(Fake().written, Text("onetwo"));
    ClosePort(port);
}

// Documents printed by an application through the spooler, the print processor and the monitor.
class SpoolerWithMonitorTest : public kqtest::MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(kqtest::InstallKitPrinter("COM1:"));
    }

    // A fresh machine that runs the given Windows, with the kit's printer and `monitorLibrary` as the
    // monitor's file.
    void NewMachine(const std::string& name, DWORD platform, DWORD major, DWORD minor,
                    const char* monitorLibrary) {
        const std::string root = Root() + "/" + name;
        std::filesystem::create_directories(root);
        control::ResetMachine(root);
        control::SetWindowsVersion(platform, major, minor);
        ASSERT_NO_FATAL_FAILURE(kqtest::InstallKitPrinter("COM1:", monitorLibrary));
    }

    bool Print(const Bytes& job) {
        std::u16string name = u"Receipt";
        HANDLE h = nullptr;
        if (!OpenPrinterW(name.data(), &h, nullptr)) {
            return false;
        }
        std::u16string doc = u"job";
        DOC_INFO_1W info{doc.data(), nullptr, nullptr};
        DWORD written = 0;
        const bool ok = StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&info)) &&
                        WritePrinter(h, const_cast<BYTE*>(job.data()), static_cast<DWORD>(job.size()), &written) &&
                        EndDocPrinter(h);
        ClosePrinter(h);
        const auto outcome = control::LastJobOutcome();
        return ok && outcome && outcome->printed && outcome->viaMonitor;
    }
};

TEST_F(SpoolerWithMonitorTest, CaptureEqualsWhatThePortWasOffered) {
    const Bytes job = kqtest::Concat({Text(std::string(600, 'x')), kqtest::B({0x1B, 0x40}), Text("end\n")});
    // the port takes each write in parts of 100 bytes; the spooler offers the rest again
    control::InjectFault({control::Op::WritePort, 1, control::FaultKind::Short, 100, 0, true});
    ASSERT_TRUE(Print(job));
    const Bytes port = FileBytes(control::PortTarget("COM1:"));
    const Bytes capture = FileBytes(control::HostPath(kqmon::kCapturePath));
    EXPECT_EQ(port, job);
    // every re-offered remainder was copied again: 256 as 256+156+56, ...
    size_t expected = 0;
    for (const control::WriteRecord& w : control::Writes()) {
        for (size_t left = w.bytes.size(); left > 0; left -= std::min<size_t>(left, 100)) {
            expected += left;
        }
    }
    EXPECT_EQ(capture.size(), expected);
    EXPECT_EQ(Bytes(capture.begin(), capture.begin() + 256), Bytes(job.begin(), job.begin() + 256));
}

TEST_F(SpoolerWithMonitorTest, SecondJobReplacesTheCapture) {
    ASSERT_TRUE(Print(Text("first job with more bytes")));
    ASSERT_TRUE(Print(Text("second")));
    EXPECT_EQ(FileBytes(control::HostPath(kqmon::kCapturePath)), Text("second"));
    EXPECT_EQ(FileBytes(control::PortTarget("COM1:")), Text("first job with more bytessecond"));
}

// The spooler calls the monitor as the Windows it plays would: 98/ME through InitializeMonitorEx with 8-bit
// names, 2000 and later through InitializePrintMonitor2 (Windows 2000 taking its shorter MONITOR2). The
// monitor as it was before its NT entry (libkqmon_8bit.so: InitializeMonitorEx alone) is called with UTF-16
// names there, reads "Receipt" as "R", and no job gets past its document start.
TEST_F(SpoolerWithMonitorTest, EachWindowsCallsTheMonitorThroughItsOwnEntry) {
    struct Case {
        const char* name;
        DWORD platform, major, minor;
        const char* library;
        const char* entry;
        bool prints;
    };
    constexpr DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;
    constexpr DWORD kNt = VER_PLATFORM_WIN32_NT;
    const Case cases[] = {
        {"98", k9x, 4, 10, "libkqmon.so", "InitializeMonitorEx", true},
        {"me", k9x, 4, 90, "libkqmon.so", "InitializeMonitorEx", true},
        {"2000", kNt, 5, 0, "libkqmon.so", "InitializePrintMonitor2", true},
        {"xp", kNt, 5, 1, "libkqmon.so", "InitializePrintMonitor2", true},
        {"98-8bit", k9x, 4, 10, "libkqmon_8bit.so", "InitializeMonitorEx", true},
        {"xp-8bit", kNt, 5, 1, "libkqmon_8bit.so", "InitializeMonitorEx", false},
    };
    const Bytes job = Text("\x1b@receipt\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(NewMachine(c.name, c.platform, c.major, c.minor, c.library));
        control::ClearDebugOutput();
        EXPECT_EQ(Print(job), c.prints);
        const std::optional<control::JobOutcome> outcome = control::LastJobOutcome();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->monitorEntry, c.entry);
        const Bytes port = FileBytes(control::PortTarget("COM1:"));
        if (c.prints) {
            EXPECT_EQ(port, job);
            EXPECT_EQ(FileBytes(control::HostPath(kqmon::kCapturePath)), port);
        } else {
            EXPECT_TRUE(port.empty());
            EXPECT_TRUE(outcome->portFailed);
            const Lines trace = control::DebugOutput();
            EXPECT_NE(std::find(trace.begin(), trace.end(), "kqmon: OpenPrinter failed for R last error 1801\n"),
                      trace.end());
        }
    }
}

// The spooler starts a monitor when it is added and ends it when it is deleted, as Wine's does (the wine64
// test wine_monitor_test sees the same lines there).
TEST_F(SpoolerWithMonitorTest, MonitorLivesFromItsAddingToItsDeletion) {
    // SetUp added the monitor
    EXPECT_EQ(control::DebugOutput(), Lines{"InitializePrintMonitor()\n"});
    control::ClearDebugOutput();
    char monitor[] = "KQMON";
    ASSERT_TRUE(DeleteMonitorA(nullptr, nullptr, monitor));
    EXPECT_EQ(control::DebugOutput(), Lines{"KQMonShutdown()\n"});
    char env[] = "Windows 4.0";
    char dll[] = "KQMON.DLL";
    MONITOR_INFO_2A info{monitor, env, dll};
    control::ClearDebugOutput();
    ASSERT_TRUE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
    EXPECT_EQ(control::DebugOutput(), Lines{"InitializePrintMonitor()\n"});
    control::ClearDebugOutput();
    ASSERT_TRUE(Print(Text("a"))); // the monitor started at AddMonitorA prints, without a second start
    const Lines printed = control::DebugOutput();
    EXPECT_NE(std::find(printed.begin(), printed.end(), "KQMonOpenPortEx()\n"), printed.end());
    EXPECT_EQ(std::find(printed.begin(), printed.end(), "InitializePrintMonitor()\n"), printed.end());
    control::ClearDebugOutput();
    ASSERT_TRUE(DeleteMonitorA(nullptr, nullptr, monitor));
    EXPECT_EQ(control::DebugOutput(), Lines{"KQMonShutdown()\n"});
}

// A monitor that cannot start is not added, and leaves no registration behind.
TEST_F(SpoolerWithMonitorTest, MonitorThatCannotStartIsRefused) {
    char name[] = "Second";
    char env[] = "Windows 4.0";
    char missing[] = "NOSUCH.DLL";
    MONITOR_INFO_2A noFile{name, env, missing};
    SetLastError(0);
    EXPECT_FALSE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&noFile)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    char processor[] = "KQPRINT.DLL"; // a library without a monitor's entry
    char ppDir[MAX_PATH];
    DWORD needed = 0;
    ASSERT_TRUE(GetPrintProcessorDirectoryA(nullptr, env, 1, reinterpret_cast<LPBYTE>(ppDir), sizeof(ppDir), &needed));
    ASSERT_TRUE(CopyFileA((std::string(ppDir) + "\\KQPRINT.DLL").c_str(), "C:\\WINDOWS\\SYSTEM32\\KQPRINT.DLL", FALSE));
    MONITOR_INFO_2A noEntry{name, env, processor};
    SetLastError(0);
    EXPECT_FALSE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&noEntry)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Second", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
}

} // namespace
} // namespace kqmontest
