// The language monitor on the Linux stand-in: its trace lines, the safety of the capture path, handles it
// must not leak, and documents printed through the spooler with the monitor in the path.
#include "harness.h"
#include "machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kqmontest {
namespace {

using kqtest::Bytes;
using kqtest::FileBytes;
namespace control = kqwin::control;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void WriteFileBytes(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST_F(MonitorTest, TraceLinesOfADocument) {
    HANDLE port = OpenPort();
    PrintDocument(port, 9, {Text("abc"), Text("de")});
    BYTE in[4];
    DWORD read = 0;
    table_.pfnReadPort(port, in, sizeof(in), &read);
    table_.pfnClosePort(port);
    const std::vector<std::string> expected = {
        "KQMonOpenPortEx()\n",          "KQMonOpenPortEx() ok?1\n",   "KQMonStartDocPort(level:1)\n",
        "KQMonStartDocPort() ok?1\n",   "KQMonWritePort() 3 bytes\n", "KQMonWritePort() 2 bytes\n",
        "KQMonEndDocPort() \n",         "KQMonReadPort()\n",          "KQMonClosePort()\n"};
    EXPECT_EQ(TakeTrace(), expected);
}

TEST_F(MonitorTest, TraceLinesOfFailures) {
    char root[] = "";
    PortTable t{};
    init_(root, &t);
    EXPECT_EQ(TakeTrace(), (std::vector<std::string>{"InitializePrintMonitor()\n"}));

    char port[] = "COM3:";
    std::string printer = printer_;
    HANDLE h = nullptr;
    table_.pfnOpenPortEx(port, printer.data(), &h, nullptr);
    EXPECT_EQ(TakeTrace(), (std::vector<std::string>{"KQMonOpenPortEx()\n",
                                                     "Kqmon: Invalid port monitors passed to OpenPortEx\n",
                                                     "KQMonOpenPortEx() ok?0\n"}));
    Fake().openResult = FALSE;
    table_.pfnOpenPortEx(port, printer.data(), &h, &lower_);
    EXPECT_EQ(TakeTrace(), (std::vector<std::string>{"KQMonOpenPortEx()\n", "kqmon: OpenPort COM3: : Failed\n",
                                                     "KQMonOpenPortEx() ok?0\n"}));
    Fake().openResult = TRUE;
    h = OpenPort();
    TakeTrace();
    char unknown[] = "Nowhere";
    char doc[] = "d";
    DOC_INFO_1A info{doc, nullptr, nullptr};
    table_.pfnStartDocPort(h, unknown, 4, 1, reinterpret_cast<LPBYTE>(&info));
    EXPECT_EQ(TakeTrace(), (std::vector<std::string>{"KQMonStartDocPort(level:1)\n",
                                                     "kqmon: OpenPrinter failed for Nowhere last error 1801\n",
                                                     "KQMonStartDocPort() ok?0\n"}));
    table_.pfnStartDocPort(h, unknown, 4, 1, nullptr);
    EXPECT_EQ(TakeTrace(), (std::vector<std::string>{"KQMonStartDocPort(level:1)\n"}));
    table_.pfnClosePort(h);
}

TEST_F(MonitorTest, NoMemoryForThePortRecord) {
    control::InjectFault({control::Op::GlobalAlloc, 1});
    char port[] = "COM1:";
    std::string printer = printer_;
    HANDLE h = nullptr;
    EXPECT_FALSE(table_.pfnOpenPortEx(port, printer.data(), &h, &lower_));
    EXPECT_EQ(TakeTrace(), (std::vector<std::string>{"KQMonOpenPortEx()\n", "Kqmon: no mem\n"}));
    EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(MonitorTest, PrinterHandlesAreClosedOnEveryPath) {
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
    EXPECT_TRUE(table_.pfnEndDocPort(port));
    EXPECT_EQ(control::OpenPrinterHandles(), before);
    ASSERT_TRUE(StartDoc(port, 4));
    EXPECT_TRUE(table_.pfnClosePort(port));
    EXPECT_EQ(control::OpenPrinterHandles(), before);
    EXPECT_EQ(control::OpenFileHandles(), 0u);
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

TEST_F(CapturePathTest, LinkAtTheCapturePathIsNotFollowed) {
    WriteFileBytes(Elsewhere(), "keep me");
    ASSERT_EQ(symlink(Elsewhere().c_str(), CapturePath().c_str()), 0);
    HANDLE port = OpenPort();
    PrintDocument(port, 1, {Text("printed anyway")});
    EXPECT_EQ(FileBytes(Elsewhere()), Text("keep me"));
    EXPECT_EQ(Fake().written, Text("printed anyway"));
    struct stat st{};
    ASSERT_EQ(lstat(CapturePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    table_.pfnClosePort(port);
}

TEST_F(CapturePathTest, FileWithAnotherNameIsNotWritten) {
    WriteFileBytes(Elsewhere(), "keep me too");
    ASSERT_EQ(link(Elsewhere().c_str(), CapturePath().c_str()), 0);
    HANDLE port = OpenPort();
    PrintDocument(port, 1, {Text("printed anyway")});
    EXPECT_EQ(FileBytes(Elsewhere()), Text("keep me too"));
    EXPECT_EQ(Fake().written, Text("printed anyway"));
    table_.pfnClosePort(port);
    // once the extra name is gone the capture works again
    ASSERT_EQ(unlink(Elsewhere().c_str()), 0);
    port = OpenPort();
    PrintDocument(port, 2, {Text("now captured")});
    EXPECT_EQ(FileBytes(CapturePath()), Text("now captured"));
    table_.pfnClosePort(port);
}

TEST_F(CapturePathTest, CaptureThatCannotBeWrittenDoesNotStopTheDocument) {
    HANDLE port = OpenPort();
    control::InjectFault({control::Op::CreateFile, 1});
    PrintDocument(port, 1, {Text("one")});
    control::ClearFaults();
    ASSERT_TRUE(StartDoc(port, 2));
    control::InjectFault({control::Op::WriteFile, 1, control::FaultKind::Fail, 0, 0, true});
    Bytes b = Text("two");
    DWORD written = 0;
    SetLastError(0);
    EXPECT_TRUE(table_.pfnWritePort(port, b.data(), 3, &written));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(GetLastError(), 0u) << "the failed copy changed the port's last error";
    EXPECT_TRUE(table_.pfnEndDocPort(port));
    EXPECT_EQ(Fake().written, Text("onetwo"));
    table_.pfnClosePort(port);
}

// Documents printed by an application through the spooler, the print processor and the monitor.
class SpoolerWithMonitorTest : public kqtest::MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(kqtest::InstallKitPrinter("COM1:"));
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

} // namespace
} // namespace kqmontest
