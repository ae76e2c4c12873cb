#include "harness.h"

#include <cstdlib>
#include <cstring>
#include <string>

#ifndef _WIN32
#include "kqwin/test_control.h"

#include <filesystem>
#endif

namespace kqmontest {
namespace {

using kqmon::kCapturePath;

BOOL WINAPI FakeOpenPort(LPSTR name, PHANDLE handle) {
    Fake().calls.push_back(std::string("OpenPort ") + (name ? name : "(none)"));
    if (!Fake().openResult) {
        SetLastError(Fake().openError);
        return FALSE;
    }
    *handle = Fake().handle;
    return TRUE;
}

BOOL WINAPI FakeStartDocPort(HANDLE handle, LPSTR printer, DWORD jobId, DWORD level, LPBYTE) {
    Fake().calls.push_back("StartDocPort " + std::to_string(jobId) + " " + std::to_string(level) + " " +
                           (printer ? printer : "") + (handle == Fake().handle ? "" : " wrong-handle"));
    return Fake().startResult;
}

BOOL WINAPI FakeWritePort(HANDLE handle, LPBYTE buffer, DWORD count, LPDWORD written) {
    FakePort& f = Fake();
    int n = 0;
    for (const std::string& c : f.calls) {
        n += c.rfind("WritePort", 0) == 0 ? 1 : 0;
    }
    f.calls.push_back("WritePort " + std::to_string(count) + (handle == f.handle ? "" : " wrong-handle"));
    *written = 0;
    if (n + 1 == f.failWrite) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    const DWORD take = f.writeLimit && f.writeLimit < count ? f.writeLimit : count;
    f.written.insert(f.written.end(), buffer, buffer + take);
    *written = take;
    return TRUE;
}

BOOL WINAPI FakeReadPort(HANDLE, LPBYTE buffer, DWORD size, LPDWORD read) {
    FakePort& f = Fake();
    f.calls.push_back("ReadPort " + std::to_string(size));
    const DWORD n = static_cast<DWORD>(std::min<size_t>(size, f.readData.size()));
    if (n > 0) {
        std::memcpy(buffer, f.readData.data(), n);
    }
    *read = n;
    return TRUE;
}

BOOL WINAPI FakeEndDocPort(HANDLE) {
    Fake().calls.push_back("EndDocPort");
    return TRUE;
}

BOOL WINAPI FakeClosePort(HANDLE) {
    Fake().calls.push_back("ClosePort");
    return TRUE;
}

#ifdef _WIN32
constexpr char kPrinter[] = "KQMON Test Printer";

// A printer the monitor can open, made through Wine's spooler on first use.
bool EnsurePrinter() {
    HANDLE h = nullptr;
    if (OpenPrinterA(const_cast<LPSTR>(kPrinter), &h, nullptr)) {
        ClosePrinter(h);
        return true;
    }
    wchar_t name[] = L"KQMON Test Printer";
    wchar_t driverFile[] = L"wineps.drv";
    wchar_t raw[] = L"RAW";
    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = name;
    driver.pDriverPath = driverFile;
    driver.pDataFile = driverFile;
    driver.pConfigFile = driverFile;
    driver.pDefaultDataType = raw;
    if (!AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver))) {
        return false;
    }
    wchar_t port[] = L"C:\\kqmon-test.out";
    wchar_t processor[] = L"winprint";
    PRINTER_INFO_2W info{};
    info.pPrinterName = name;
    info.pPortName = port;
    info.pDriverName = name;
    info.pPrintProcessor = processor;
    info.pDatatype = raw;
    h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!h) {
        return false;
    }
    ClosePrinter(h);
    return true;
}
#endif

} // namespace

FakePort& Fake() {
    static FakePort fake;
    return fake;
}

PortTable FakeTable() {
    PortTable t{};
    t.pfnOpenPort = FakeOpenPort;
    t.pfnStartDocPort = FakeStartDocPort;
    t.pfnWritePort = FakeWritePort;
    t.pfnReadPort = FakeReadPort;
    t.pfnEndDocPort = FakeEndDocPort;
    t.pfnClosePort = FakeClosePort;
    return t;
}

#ifdef _WIN32
void MonitorTest::SetUp() {
    Fake() = FakePort{};
    DeleteFileA(kCapturePath);
    ASSERT_TRUE(EnsurePrinter()) << "no printer for the monitor, error " << GetLastError();
    printer_ = kPrinter;
    module_ = LoadLibraryA("KQMON.DLL");
    ASSERT_NE(module_, nullptr) << "KQMON.DLL not found beside the test, error " << GetLastError();
    finish();
}
std::vector<std::string> TakeTrace() { return {}; }
bool TraceAvailable() { return false; }
#else
namespace control = kqwin::control;
namespace {
std::string& MachineRoot() {
    static std::string root;
    return root;
}
} // namespace
void MonitorTest::SetUp() {
    Fake() = FakePort{};
    std::string tmpl = (std::filesystem::temp_directory_path() / "kqmon-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    MachineRoot() = tmpl;
    control::ResetMachine(tmpl);
    control::PrinterSetup setup;
    setup.name = "KQMON Test Printer";
    ASSERT_TRUE(control::AddTestPrinter(setup));
    printer_ = setup.name;
    const char* bin = std::getenv("KQ_TEST_BIN");
    ASSERT_NE(bin, nullptr) << "KQ_TEST_BIN names the folder of the built libraries";
    module_ = LoadLibraryA((std::string(bin) + "/libkqmon.so").c_str());
    ASSERT_NE(module_, nullptr);
    finish();
}
std::vector<std::string> TakeTrace() {
    std::vector<std::string> lines = control::DebugOutput();
    control::ClearDebugOutput();
    return lines;
}
bool TraceAvailable() { return true; }
#endif

void MonitorTest::finish() {
    init_ = reinterpret_cast<InitFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "InitializeMonitorEx")));
    ASSERT_NE(init_, nullptr);
    char root[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\KQMON";
    ASSERT_TRUE(init_(root, &table_));
    lower_ = FakeTable();
    TakeTrace();
}

void MonitorTest::TearDown() {
    if (module_) {
        FreeLibrary(module_);
    }
#ifndef _WIN32
    std::error_code ec;
    std::filesystem::remove_all(MachineRoot(), ec);
#endif
}

HANDLE MonitorTest::OpenPort(const char* name) {
    std::string port = name;
    std::string printer = printer_;
    HANDLE h = nullptr;
    EXPECT_TRUE(table_.pfnOpenPortEx(port.data(), printer.data(), &h, &lower_));
    return h;
}

BOOL MonitorTest::StartDoc(HANDLE port, DWORD jobId) {
    std::string printer = printer_;
    char doc[] = "doc";
    char raw[] = "RAW";
    DOC_INFO_1A info{doc, nullptr, raw};
    return table_.pfnStartDocPort(port, printer.data(), jobId, 1, reinterpret_cast<LPBYTE>(&info));
}

void MonitorTest::PrintDocument(HANDLE port, DWORD jobId, const std::vector<std::vector<BYTE>>& writes) {
    ASSERT_TRUE(StartDoc(port, jobId));
    for (std::vector<BYTE> w : writes) {
        DWORD written = 0;
        table_.pfnWritePort(port, w.data(), static_cast<DWORD>(w.size()), &written);
    }
    EXPECT_TRUE(table_.pfnEndDocPort(port));
}

bool MonitorTest::ReadCapture(std::vector<BYTE>* bytes) {
    bytes->clear();
    HANDLE f = CreateFileA(kCapturePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    BYTE buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got > 0) {
        bytes->insert(bytes->end(), buf, buf + got);
    }
    CloseHandle(f);
    return true;
}

void MonitorTest::WriteCapture(const std::vector<BYTE>& bytes) {
    HANDLE f = CreateFileA(kCapturePath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

} // namespace kqmontest
