// The language monitor as either spooler drives it, with a fake port monitor below it. Runs on Linux
// against the stand-in and, as a Windows x64 program, under wine64 against the real KQMON.DLL. The port
// operations' tests (MonitorTest) run through both entries: InitializeMonitorEx and InitializePrintMonitor2.
#include "harness.h"
#include "no_access.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

namespace kqmontest {
namespace {

TEST_F(Monitor9xTest, InitializationFillsTheSixOperationsAndNothingElse) {
    MONITORA t;
    std::memset(&t, 0xAB, sizeof(t));
    char root[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\KQMON";
    ASSERT_TRUE(init9x_(root, &t));
    void* entries[13];
    std::memcpy(entries, &t, sizeof(entries));
    for (int i : {0, 1, 8, 9, 10, 11, 12}) {
        EXPECT_EQ(entries[i], nullptr) << "entry " << i;
    }
    for (int i = 2; i <= 7; ++i) {
        EXPECT_NE(entries[i], nullptr) << "entry " << i;
    }
}

TEST_F(Monitor9xTest, EntryPointAcceptsEveryNotification) {
    using EntryFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
    const auto entry =
        reinterpret_cast<EntryFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllEntryPoint")));
    ASSERT_NE(entry, nullptr);
    for (DWORD reason : {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_EQ(entry(reinterpret_cast<HINSTANCE>(module_), reason, nullptr), TRUE) << "reason " << reason;
    }
}

TEST_F(Monitor9xTest, InitializationWithoutRootFailsAndLeavesTheTable) {
    char empty[] = "";
    for (LPSTR root : {empty, static_cast<LPSTR>(nullptr)}) {
        MONITORA t;
        std::memset(&t, 0x5C, sizeof(t));
        MONITORA before = t;
        SetLastError(0);
        EXPECT_FALSE(init9x_(root, &t));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(std::memcmp(&t, &before, sizeof(t)), 0);
    }
}

// The table of Windows XP, which every later spooler takes too: through pfnSendRecvBidiDataFromPort.
constexpr size_t kMonitor2SizeXp = offsetof(MONITOR2, pfnSendRecvBidiDataFromPort) + sizeof(void*);

TEST_F(MonitorNtTest, InitializationGivesTheOperationsAndShutdownAtTheSizeOfTheRunningWindows) {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    ASSERT_TRUE(GetVersionExA(&v));
    const bool windows2000 = v.dwMajorVersion == 5 && v.dwMinorVersion == 0;
    EXPECT_EQ(tableNt_->cbSize, windows2000 ? MONITOR2_SIZE_WIN2K : kMonitor2SizeXp);
    // every entry of the table is null but the port operations and Shutdown
    const size_t set[] = {offsetof(MONITOR2, pfnOpenPortEx),  offsetof(MONITOR2, pfnStartDocPort),
                          offsetof(MONITOR2, pfnWritePort),   offsetof(MONITOR2, pfnReadPort),
                          offsetof(MONITOR2, pfnEndDocPort),  offsetof(MONITOR2, pfnClosePort),
                          offsetof(MONITOR2, pfnShutdown)};
    for (size_t at = offsetof(MONITOR2, pfnEnumPorts); at < kMonitor2SizeXp; at += sizeof(void*)) {
        void* entry = nullptr;
        std::memcpy(&entry, reinterpret_cast<const BYTE*>(tableNt_) + at, sizeof(entry));
        EXPECT_EQ(entry != nullptr, std::find(std::begin(set), std::end(set), at) != std::end(set)) << "at " << at;
    }
    // one implementation: the operations that carry no names are the same functions in both tables
    EXPECT_EQ(tableNt_->pfnWritePort, table9x_.pfnWritePort);
    EXPECT_EQ(tableNt_->pfnReadPort, table9x_.pfnReadPort);
    EXPECT_EQ(tableNt_->pfnEndDocPort, table9x_.pfnEndDocPort);
    EXPECT_EQ(tableNt_->pfnClosePort, table9x_.pfnClosePort);
}

TEST_F(MonitorNtTest, InitializationWithoutItsArgumentsFails) {
    MONITORINIT noRoot = MonitorInit();
    noRoot.hckRegistryRoot = nullptr;
    MONITORINIT tooShort = MonitorInit();
    tooShort.cbSize = sizeof(DWORD);
    MONITORINIT good = MonitorInit();
    struct Case {
        const char* what;
        MONITORINIT* init;
        bool withHandle;
    };
    const Case cases[] = {{"no MONITORINIT", nullptr, true},
                          {"no place for the instance", &good, false},
                          {"no registry root", &noRoot, true},
                          {"a MONITORINIT too short for its root", &tooShort, true}};
    for (const Case& c : cases) {
        HANDLE instance = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x99));
        SetLastError(0);
        EXPECT_EQ(initNt_(c.init, c.withHandle ? &instance : nullptr), nullptr) << c.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.what;
        EXPECT_EQ(instance, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x99))) << c.what;
    }
    // one just long enough to hold its registry root will do
    MONITORINIT shortest = MonitorInit();
    shortest.cbSize = offsetof(MONITORINIT, pMonitorReg);
    HANDLE instance = nullptr;
    MONITOR2* table = initNt_(&shortest, &instance);
    ASSERT_NE(table, nullptr);
    table->pfnShutdown(instance);
}

TEST_F(MonitorNtTest, EachInitializationIsAnInstanceOfItsOwnUntilShutdown) {
    MONITORINIT init = MonitorInit();
    HANDLE second = nullptr;
    MONITOR2* table = initNt_(&init, &second);
    ASSERT_NE(table, nullptr);
    EXPECT_NE(second, instance_);
    EXPECT_NE(table, tableNt_);
    // a port opened through one instance's table works while the other instance ends
    HANDLE port = OpenPort();
    table->pfnShutdown(second);
    PrintDocument(port, 4, {Text("still")});
    EXPECT_EQ(Fake().written, Text("still"));
    EXPECT_TRUE(ClosePort(port));
    // handles that are no instance are ignored
    const kqtest::NoAccessPages pages;
    for (HANDLE bogus : {static_cast<HANDLE>(nullptr), second, static_cast<HANDLE>(pages.Boundary())}) {
        tableNt_->pfnShutdown(bogus);
    }
}

TEST_F(MonitorNtTest, PortMonitorTableMustReachAsFarAsClosePort) {
    const DWORD reach = offsetof(MONITOR2, pfnClosePort) + sizeof(void*);
    SetLowerTableSize(reach - 1);
    HANDLE h = nullptr;
    SetLastError(0);
    EXPECT_FALSE(OpenPortEx("COM1:", &h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
    EXPECT_EQ(h, nullptr);
    EXPECT_TRUE(Fake().calls.empty());
    SetLowerTableSize(reach); // a port monitor of any size that holds the port operations will do
    h = OpenPort();
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ClosePort(h));
}

TEST_F(MonitorNtTest, PortTakesItsDocumentsFromTheSpoolerThatOpenedIt) {
    HANDLE port = OpenPort();
    ASSERT_NE(port, nullptr);
    std::string printer = printer_;
    char doc[] = "doc";
    DOC_INFO_1A info{doc, nullptr, nullptr};
    SetLastError(0);
    EXPECT_FALSE(table9x_.pfnStartDocPort(port, printer.data(), 1, 1, reinterpret_cast<LPBYTE>(&info)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(ClosePort(port));
    EXPECT_EQ(Fake().calls, (std::vector<std::string>{"OpenPort COM1:", "ClosePort"}));
}

TEST_P(MonitorTest, PortMonitorTableIsCheckedAtPortOpen) {
    struct Case {
        LowerEntry missing;
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {LowerEntry::OpenPort, "OpenPort", false},   {LowerEntry::StartDocPort, "StartDocPort", false},
        {LowerEntry::WritePort, "WritePort", false}, {LowerEntry::ReadPort, "ReadPort", false},
        {LowerEntry::ClosePort, "ClosePort", false}, {LowerEntry::EndDocPort, "EndDocPort", true},
    };
    for (const Case& c : cases) {
        Fake() = FakePort{};
        RestoreLowerEntries();
        RemoveLowerEntry(c.missing);
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x77));
        SetLastError(0);
        const BOOL ok = OpenPortEx("COM1:", &h);
        EXPECT_EQ(ok != FALSE, c.accepted) << "without " << c.name;
        if (c.accepted) {
            ASSERT_NE(h, nullptr);
            // a port monitor without EndDocPort still ends documents
            PrintDocument(h, 3, {Text("abc")});
            EXPECT_EQ(Fake().written, Text("abc"));
            EXPECT_TRUE(ClosePort(h));
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR)) << "without " << c.name;
            EXPECT_TRUE(Fake().calls.empty());
            EXPECT_EQ(h, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x77)));
        }
    }
    HANDLE h = nullptr;
    SetLastError(0);
    EXPECT_FALSE(OpenPortEx("COM1:", &h, false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
    // nowhere to put the port's handle: nothing is opened
    Fake() = FakePort{};
    RestoreLowerEntries();
    SetLastError(0);
    EXPECT_FALSE(OpenPortEx("COM1:", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(Fake().calls.empty());
}

TEST_P(MonitorTest, FailedPortOpenReportsThePortMonitorsError) {
    Fake().openResult = FALSE;
    Fake().openError = 1234;
    HANDLE h = nullptr;
    EXPECT_FALSE(OpenPortEx("LPT1:", &h));
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(Fake().calls, (std::vector<std::string>{"OpenPort LPT1:"}));
}

TEST_P(MonitorTest, EveryOperationReachesThePortMonitorWithItsOwnHandle) {
    HANDLE port = OpenPort("COM2:");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port, 42));
    const Bytes data = Text("hello");
    DWORD written = 99;
    EXPECT_TRUE(Write(port, data, &written));
    EXPECT_EQ(written, 5u);
    Fake().readData = Text("ok");
    BYTE in[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(Read(port, in, sizeof(in), &read));
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(std::memcmp(in, "ok", 2), 0);
    EXPECT_TRUE(EndDoc(port));
    EXPECT_TRUE(ClosePort(port));
    // the NT port monitor's OpenPort also gets its own instance handle (else "wrong-instance")
    const std::vector<std::string> expected = {
        "OpenPort COM2:", "StartDocPort 42 1 " + printer_, "WritePort 5", "ReadPort 8", "EndDocPort", "ClosePort"};
    EXPECT_EQ(Fake().calls, expected);
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, data) << "read data is not captured";
}

TEST_P(MonitorTest, CaptureHoldsEveryOfferedBufferWhateverThePortDid) {
    HANDLE port = OpenPort();
    ASSERT_TRUE(StartDoc(port, 1));
    Fake().failWrite = 3;  // the third write ("FGH") fails
    Fake().writeLimit = 3; // and the port takes at most 3 bytes at a time
    for (const Bytes& b : {Text("ABCDE"), Text("FGH"), Text("IJ")}) {
        DWORD written = 0;
        Write(port, b, &written);
        if (written > 0 && written < b.size()) { // the spooler offers the rest again
            Write(port, Bytes(b.begin() + written, b.end()), &written);
        }
    }
    EXPECT_TRUE(EndDoc(port));
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("ABCDEDEFGHIJ")); // "DE" offered twice, "FGH" refused by the port: all copied
    EXPECT_EQ(Fake().written, Text("ABCDEIJ"));
    ClosePort(port);
}

TEST_P(MonitorTest, EachDocumentStartsAnEmptyCapture) {
    HANDLE a = OpenPort("COM1:");
    HANDLE b = OpenPort("COM2:");
    PrintDocument(a, 1, {Text("first document, longer")});
    PrintDocument(b, 2, {Text("second")});
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("second"));
    ClosePort(a);
    ClosePort(b);
}

TEST_P(MonitorTest, DocumentThatDoesNotStartLeavesTheCaptureAsItWas) {
    WriteCapture(Text("earlier"));
    HANDLE port = OpenPort();
    Fake().startResult = FALSE;
    EXPECT_FALSE(StartDoc(port, 5));
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("earlier"));
    // the port is still usable for the next document
    Fake().startResult = TRUE;
    PrintDocument(port, 6, {Text("next")});
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("next"));
    ClosePort(port);
}

TEST_P(MonitorTest, DocumentStartChecksItsArguments) {
    HANDLE port = OpenPort();
    struct Case {
        HANDLE port;
        const char* printer;
        bool withInfo;
    };
    const Case cases[] = {{nullptr, printer_.c_str(), true},
                          {port, printer_.c_str(), false},
                          {port, nullptr, true},
                          {port, "", true}};
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(StartDocAs(c.port, c.printer, 1, c.withInfo));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_FALSE(StartDocAs(port, "No Such Printer Here", 1));
    for (const std::string& call : Fake().calls) {
        EXPECT_EQ(call.rfind("StartDocPort", 0), std::string::npos) << "the port monitor saw " << call;
    }
    ClosePort(port);
}

TEST_P(MonitorTest, OverlappingDocumentsOnTwoPortsNeverMixInTheCapture) {
    HANDLE a = OpenPort("COM1:");
    HANDLE b = OpenPort("COM2:");
    ASSERT_TRUE(StartDoc(a, 1));
    ASSERT_TRUE(StartDoc(b, 2)); // prints, without a copy of its own
    DWORD written = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Write(a, Text("AAAA"), &written));
        EXPECT_TRUE(Write(b, Text("BBBB"), &written));
    }
    EXPECT_TRUE(EndDoc(b));
    EXPECT_TRUE(EndDoc(a));
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("AAAAAAAAAAAA"));
    EXPECT_EQ(Fake().written.size(), 24u) << "both documents reached the port whole";
    // once both have ended, the next document is captured again
    PrintDocument(b, 3, {Text("C")});
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("C"));
    ClosePort(a);
    ClosePort(b);
}

TEST_P(MonitorTest, PortClosedInsideADocumentLeavesNothingOpen) {
    HANDLE a = OpenPort();
    ASSERT_TRUE(StartDoc(a, 1));
    EXPECT_TRUE(ClosePort(a)); // no EndDocPort first
    HANDLE b = OpenPort();
    PrintDocument(b, 2, {Text("later")});
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("later")) << "the first document's capture file was left open";
    ClosePort(b);
}

TEST_P(MonitorTest, BadPortHandlesAreRejected) {
    HANDLE closed = OpenPort();
    ASSERT_TRUE(ClosePort(closed));
    const kqtest::NoAccessPages pages;
    ASSERT_NE(pages.Boundary(), nullptr);
    static BYTE random[sizeof(void*) * 32];
    for (size_t i = 0; i < sizeof(random); ++i) {
        random[i] = static_cast<BYTE>(i * 37 + 11);
    }
    const HANDLE bad[] = {nullptr, closed, static_cast<HANDLE>(random), pages.Boundary(),
                          pages.Boundary() - 4, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10))};
    for (HANDLE h : bad) {
        BYTE data[1] = {'x'};
        DWORD n = 0;
        SetLastError(0);
        EXPECT_FALSE(Write(h, Text("x"), &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(Read(h, data, 1, &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(StartDoc(h, 1));
        // a missing port is a missing argument to StartDocPort, like missing document info
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(h ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER));
        SetLastError(0);
        EXPECT_FALSE(EndDoc(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(ClosePort(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    BYTE data[1] = {'x'};
    EXPECT_FALSE(table9x_.pfnWritePort(nullptr, data, 1, nullptr));
    // nothing of the above reached the port monitor beyond the one port's open and close
    EXPECT_EQ(Fake().calls, (std::vector<std::string>{"OpenPort COM1:", "ClosePort"}));
}

} // namespace
} // namespace kqmontest
