// The language monitor as the spooler drives it, with a fake port monitor below it. Runs on Linux against
// the stand-in and, as a Windows x64 program, under wine64 against the real KQMON.DLL.
#include "harness.h"
#include "no_access.h"

#include <cstring>


namespace kqmontest {
namespace {

using Bytes = std::vector<BYTE>;

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

TEST_F(MonitorTest, InitializationFillsTheSixOperationsAndNothingElse) {
    PortTable t;
    std::memset(&t, 0xAB, sizeof(t));
    char root[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\KQMON";
    ASSERT_TRUE(init_(root, &t));
    void* entries[13];
    std::memcpy(entries, &t, sizeof(entries));
    for (int i : {0, 1, 8, 9, 10, 11, 12}) {
        EXPECT_EQ(entries[i], nullptr) << "entry " << i;
    }
    for (int i = 2; i <= 7; ++i) {
        EXPECT_NE(entries[i], nullptr) << "entry " << i;
    }
}

TEST_F(MonitorTest, EntryPointAcceptsEveryNotification) {
    using EntryFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
    const auto entry =
        reinterpret_cast<EntryFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllEntryPoint")));
    ASSERT_NE(entry, nullptr);
    for (DWORD reason : {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_EQ(entry(reinterpret_cast<HINSTANCE>(module_), reason, nullptr), TRUE) << "reason " << reason;
    }
}

TEST_F(MonitorTest, InitializationWithoutRootFailsAndLeavesTheTable) {
    char empty[] = "";
    for (LPSTR root : {empty, static_cast<LPSTR>(nullptr)}) {
        PortTable t;
        std::memset(&t, 0x5C, sizeof(t));
        PortTable before = t;
        SetLastError(0);
        EXPECT_FALSE(init_(root, &t));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(std::memcmp(&t, &before, sizeof(t)), 0);
    }
}

TEST_F(MonitorTest, PortMonitorTableIsCheckedAtPortOpen) {
    struct Case {
        const char* missing;
        void (*clear)(PortTable&);
        bool accepted;
    };
    const Case cases[] = {
        {"OpenPort", [](PortTable& t) { t.pfnOpenPort = nullptr; }, false},
        {"StartDocPort", [](PortTable& t) { t.pfnStartDocPort = nullptr; }, false},
        {"WritePort", [](PortTable& t) { t.pfnWritePort = nullptr; }, false},
        {"ReadPort", [](PortTable& t) { t.pfnReadPort = nullptr; }, false},
        {"ClosePort", [](PortTable& t) { t.pfnClosePort = nullptr; }, false},
        {"EndDocPort", [](PortTable& t) { t.pfnEndDocPort = nullptr; }, true},
    };
    for (const Case& c : cases) {
        Fake() = FakePort{};
        PortTable lower = FakeTable();
        c.clear(lower);
        char port[] = "COM1:";
        std::string printer = printer_;
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x77));
        SetLastError(0);
        const BOOL ok = table_.pfnOpenPortEx(port, printer.data(), &h, &lower);
        EXPECT_EQ(ok != FALSE, c.accepted) << "without " << c.missing;
        if (c.accepted) {
            ASSERT_NE(h, nullptr);
            // a port monitor without EndDocPort still ends documents
            PrintDocument(h, 3, {Text("abc")});
            EXPECT_EQ(Fake().written, Text("abc"));
            EXPECT_TRUE(table_.pfnClosePort(h));
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR)) << "without " << c.missing;
            EXPECT_TRUE(Fake().calls.empty());
            EXPECT_EQ(h, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x77)));
        }
    }
    char port[] = "COM1:";
    HANDLE h = nullptr;
    SetLastError(0);
    EXPECT_FALSE(table_.pfnOpenPortEx(port, nullptr, &h, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
}

TEST_F(MonitorTest, FailedPortOpenReportsThePortMonitorsError) {
    Fake().openResult = FALSE;
    Fake().openError = 1234;
    char port[] = "LPT1:";
    std::string printer = printer_;
    HANDLE h = nullptr;
    EXPECT_FALSE(table_.pfnOpenPortEx(port, printer.data(), &h, &lower_));
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(h, nullptr);
    ASSERT_EQ(Fake().calls.size(), 1u);
    EXPECT_EQ(Fake().calls[0], "OpenPort LPT1:");
}

TEST_F(MonitorTest, EveryOperationReachesThePortMonitorWithItsOwnHandle) {
    HANDLE port = OpenPort("COM2:");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port, 42));
    Bytes data = Text("hello");
    DWORD written = 99;
    EXPECT_TRUE(table_.pfnWritePort(port, data.data(), 5, &written));
    EXPECT_EQ(written, 5u);
    Fake().readData = Text("ok");
    BYTE in[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(table_.pfnReadPort(port, in, sizeof(in), &read));
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(std::memcmp(in, "ok", 2), 0);
    EXPECT_TRUE(table_.pfnEndDocPort(port));
    EXPECT_TRUE(table_.pfnClosePort(port));
    const std::vector<std::string> expected = {
        "OpenPort COM2:", "StartDocPort 42 1 " + printer_, "WritePort 5", "ReadPort 8", "EndDocPort", "ClosePort"};
    EXPECT_EQ(Fake().calls, expected);
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, data) << "read data is not captured";
}

TEST_F(MonitorTest, CaptureHoldsEveryOfferedBufferWhateverThePortDid) {
    HANDLE port = OpenPort();
    ASSERT_TRUE(StartDoc(port, 1));
    Fake().failWrite = 3;  // the third write ("FGH") fails
    Fake().writeLimit = 3; // and the port takes at most 3 bytes at a time
    const Bytes offered[] = {Text("ABCDE"), Text("FGH"), Text("IJ")};
    for (Bytes b : offered) {
        DWORD written = 0;
        table_.pfnWritePort(port, b.data(), static_cast<DWORD>(b.size()), &written);
        if (written > 0 && written < b.size()) { // the spooler offers the rest again
            Bytes rest(b.begin() + written, b.end());
            table_.pfnWritePort(port, rest.data(), static_cast<DWORD>(rest.size()), &written);
        }
    }
    EXPECT_TRUE(table_.pfnEndDocPort(port));
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("ABCDEDEFGHIJ")); // "DE" offered twice, "FGH" refused by the port: all copied
    EXPECT_EQ(Fake().written, Text("ABCDEIJ"));
    table_.pfnClosePort(port);
}

TEST_F(MonitorTest, EachDocumentStartsAnEmptyCapture) {
    HANDLE a = OpenPort("COM1:");
    HANDLE b = OpenPort("COM2:");
    PrintDocument(a, 1, {Text("first document, longer")});
    PrintDocument(b, 2, {Text("second")});
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("second"));
    table_.pfnClosePort(a);
    table_.pfnClosePort(b);
}

TEST_F(MonitorTest, DocumentThatDoesNotStartLeavesTheCaptureAsItWas) {
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
    table_.pfnClosePort(port);
}

TEST_F(MonitorTest, DocumentStartChecksItsArguments) {
    HANDLE port = OpenPort();
    char doc[] = "doc";
    DOC_INFO_1A info{doc, nullptr, nullptr};
    std::string printer = printer_;
    char empty[] = "";
    struct Case {
        HANDLE port;
        LPSTR printer;
        LPBYTE info;
    };
    const Case cases[] = {{nullptr, printer.data(), reinterpret_cast<LPBYTE>(&info)},
                          {port, printer.data(), nullptr},
                          {port, nullptr, reinterpret_cast<LPBYTE>(&info)},
                          {port, empty, reinterpret_cast<LPBYTE>(&info)}};
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(table_.pfnStartDocPort(c.port, c.printer, 1, 1, c.info));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    char unknown[] = "No Such Printer Here";
    EXPECT_FALSE(table_.pfnStartDocPort(port, unknown, 1, 1, reinterpret_cast<LPBYTE>(&info)));
    for (const std::string& call : Fake().calls) {
        EXPECT_EQ(call.rfind("StartDocPort", 0), std::string::npos) << "the port monitor saw " << call;
    }
    table_.pfnClosePort(port);
}

TEST_F(MonitorTest, OverlappingDocumentsOnTwoPortsNeverMixInTheCapture) {
    HANDLE a = OpenPort("COM1:");
    HANDLE b = OpenPort("COM2:");
    ASSERT_TRUE(StartDoc(a, 1));
    ASSERT_TRUE(StartDoc(b, 2)); // prints, without a copy of its own
    Bytes fromA = Text("AAAA");
    Bytes fromB = Text("BBBB");
    DWORD written = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(table_.pfnWritePort(a, fromA.data(), 4, &written));
        EXPECT_TRUE(table_.pfnWritePort(b, fromB.data(), 4, &written));
    }
    EXPECT_TRUE(table_.pfnEndDocPort(b));
    EXPECT_TRUE(table_.pfnEndDocPort(a));
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("AAAAAAAAAAAA"));
    EXPECT_EQ(Fake().written.size(), 24u) << "both documents reached the port whole";
    // once both have ended, the next document is captured again
    PrintDocument(b, 3, {Text("C")});
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("C"));
    table_.pfnClosePort(a);
    table_.pfnClosePort(b);
}

TEST_F(MonitorTest, PortClosedInsideADocumentLeavesNothingOpen) {
    HANDLE a = OpenPort();
    ASSERT_TRUE(StartDoc(a, 1));
    EXPECT_TRUE(table_.pfnClosePort(a)); // no EndDocPort first
    HANDLE b = OpenPort();
    PrintDocument(b, 2, {Text("later")});
    Bytes capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("later")) << "the first document's capture file was left open";
    table_.pfnClosePort(b);
}

TEST_F(MonitorTest, BadPortHandlesAreRejected) {
    HANDLE closed = OpenPort();
    ASSERT_TRUE(table_.pfnClosePort(closed));
    const kqtest::NoAccessPages pages;
    ASSERT_NE(pages.Boundary(), nullptr);
    static BYTE random[sizeof(void*) * 32];
    for (size_t i = 0; i < sizeof(random); ++i) {
        random[i] = static_cast<BYTE>(i * 37 + 11);
    }
    const HANDLE bad[] = {nullptr, closed, static_cast<HANDLE>(random), pages.Boundary(),
                          pages.Boundary() - 4, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10))};
    Bytes data = Text("x");
    for (HANDLE h : bad) {
        DWORD n = 0;
        SetLastError(0);
        EXPECT_FALSE(table_.pfnWritePort(h, data.data(), 1, &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(table_.pfnReadPort(h, data.data(), 1, &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(StartDoc(h, 1));
        // a missing port is a missing argument to StartDocPort, like missing document info
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(h ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER));
        SetLastError(0);
        EXPECT_FALSE(table_.pfnEndDocPort(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(table_.pfnClosePort(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_FALSE(table_.pfnWritePort(nullptr, data.data(), 1, nullptr));
    // nothing of the above reached the port monitor beyond the one port's open and close
    EXPECT_EQ(Fake().calls, (std::vector<std::string>{"OpenPort COM1:", "ClosePort"}));
}

} // namespace
} // namespace kqmontest
