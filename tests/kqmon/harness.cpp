#include "harness.h"

#include <algorithm>
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
using WideText = std::basic_string<WCHAR>;

std::string Narrow(LPCWSTR s) {
    if (!s) {
        return "(none)";
    }
    char buffer[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, s, -1, buffer, sizeof(buffer) - 1, nullptr, nullptr);
    return buffer;
}

WideText Widen(const char* s) {
    WCHAR buffer[1024] = {};
    MultiByteToWideChar(CP_ACP, 0, s, -1, buffer, 1023);
    return buffer;
}

BOOL Open(const std::string& name, PHANDLE handle, const std::string& note = "") {
    Fake().calls.push_back("OpenPort " + name + note);
    if (!Fake().openResult) {
        SetLastError(Fake().openError);
        return FALSE;
    }
    *handle = Fake().handle;
    return TRUE;
}

BOOL Start(HANDLE handle, const std::string& printer, DWORD jobId, DWORD level) {
    Fake().calls.push_back("StartDocPort " + std::to_string(jobId) + " " + std::to_string(level) + " " + printer +
                           (handle == Fake().handle ? "" : " wrong-handle"));
    return Fake().startResult;
}

BOOL WINAPI FakeOpenPort(LPSTR name, PHANDLE handle) { return Open(name ? name : "(none)", handle); }

BOOL WINAPI FakeOpenPort2(HANDLE instance, LPWSTR name, PHANDLE handle) {
    return Open(Narrow(name), handle, instance == Fake().instance ? "" : " wrong-instance");
}

BOOL WINAPI FakeStartDocPort(HANDLE handle, LPSTR printer, DWORD jobId, DWORD level, LPBYTE) {
    return Start(handle, printer ? printer : "", jobId, level);
}

BOOL WINAPI FakeStartDocPort2(HANDLE handle, LPWSTR printer, DWORD jobId, DWORD level, LPBYTE) {
    return Start(handle, printer ? Narrow(printer) : "", jobId, level);
}

BOOL WINAPI FakeWritePort(HANDLE handle, LPBYTE buffer, DWORD count, LPDWORD written) {
    FakePort& f = Fake();
    const auto n = std::count_if(f.calls.begin(), f.calls.end(),
                                 [](const std::string& c) { return c.rfind("WritePort", 0) == 0; });
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

MONITORA FakeTable9x() {
    MONITORA t{};
    t.pfnOpenPort = FakeOpenPort;
    t.pfnStartDocPort = FakeStartDocPort;
    t.pfnWritePort = FakeWritePort;
    t.pfnReadPort = FakeReadPort;
    t.pfnEndDocPort = FakeEndDocPort;
    t.pfnClosePort = FakeClosePort;
    return t;
}

MONITOR2 FakeTableNt() {
    MONITOR2 t{};
    t.cbSize = sizeof(MONITOR2);
    t.pfnOpenPort = FakeOpenPort2;
    t.pfnStartDocPort = FakeStartDocPort2;
    t.pfnWritePort = FakeWritePort;
    t.pfnReadPort = FakeReadPort;
    t.pfnEndDocPort = FakeEndDocPort;
    t.pfnClosePort = FakeClosePort;
    return t;
}

template <class Table> void Remove(Table& t, LowerEntry which) {
    switch (which) {
    case LowerEntry::OpenPort:
        t.pfnOpenPort = nullptr;
        break;
    case LowerEntry::StartDocPort:
        t.pfnStartDocPort = nullptr;
        break;
    case LowerEntry::WritePort:
        t.pfnWritePort = nullptr;
        break;
    case LowerEntry::ReadPort:
        t.pfnReadPort = nullptr;
        break;
    case LowerEntry::EndDocPort:
        t.pfnEndDocPort = nullptr;
        break;
    case LowerEntry::ClosePort:
        t.pfnClosePort = nullptr;
        break;
    }
}

// Stands for the registry key that the NT spoolers open for a monitor; the monitor keeps no settings.
const HKEYMONITOR kRegistryRoot = reinterpret_cast<HKEYMONITOR>(static_cast<uintptr_t>(0x4e7));

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

std::string EntryName(const ::testing::TestParamInfo<Entry>& info) {
    return info.param == Entry::Spooler9x ? "InitializeMonitorEx" : "InitializePrintMonitor2";
}

// Every test of MonitorTest runs through both spoolers' entries.
INSTANTIATE_TEST_SUITE_P(Entries, MonitorTest, ::testing::Values(Entry::Spooler9x, Entry::SpoolerNt), EntryName);

FakePort& Fake() {
    static FakePort fake;
    return fake;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

#ifdef _WIN32
void MonitorHarness::SetUp() {
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
void MonitorHarness::SetUp() {
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

MONITORINIT MonitorHarness::MonitorInit() {
    MONITORINIT init{};
    init.cbSize = sizeof(init);
    init.hckRegistryRoot = kRegistryRoot;
    init.bLocal = TRUE;
    return init;
}

void MonitorHarness::finish() {
    init9x_ = reinterpret_cast<Init9xFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, kqmon::kEntry9x)));
    initNt_ = reinterpret_cast<InitNtFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, kqmon::kEntryNt)));
    ASSERT_NE(init9x_, nullptr);
    ASSERT_NE(initNt_, nullptr);
    char root[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\KQMON";
    ASSERT_TRUE(init9x_(root, &table9x_));
    MONITORINIT init = MonitorInit();
    tableNt_ = initNt_(&init, &instance_);
    ASSERT_NE(tableNt_, nullptr);
    RestoreLowerEntries();
    TakeTrace();
#ifndef _WIN32
    kqwin::control::ResetCounters(); // a test's faults count from here, not from the set-up's calls
#endif
}

void MonitorHarness::RestoreLowerEntries() {
    lower9x_ = FakeTable9x();
    lowerNt_ = FakeTableNt();
}

void MonitorHarness::SetLowerTableSize(DWORD cbSize) { lowerNt_.cbSize = cbSize; }

void MonitorHarness::TearDown() {
    if (tableNt_ && tableNt_->pfnShutdown) {
        tableNt_->pfnShutdown(instance_);
    }
    if (module_) {
        FreeLibrary(module_);
    }
#ifndef _WIN32
    std::error_code ec;
    std::filesystem::remove_all(MachineRoot(), ec);
#endif
}

void MonitorHarness::RemoveLowerEntry(LowerEntry which) {
    Remove(lower9x_, which);
    Remove(lowerNt_, which);
}

BOOL MonitorHarness::OpenPortEx(const char* name, HANDLE* port, bool withTable) {
    if (entry() == Entry::Spooler9x) {
        std::string portName = name;
        std::string printer = printer_;
        return table9x_.pfnOpenPortEx(portName.data(), printer.data(), port, withTable ? &lower9x_ : nullptr);
    }
    WideText portName = Widen(name);
    WideText printer = Widen(printer_.c_str());
    return tableNt_->pfnOpenPortEx(instance_, Fake().instance, portName.data(), printer.data(), port,
                                   withTable ? &lowerNt_ : nullptr);
}

HANDLE MonitorHarness::OpenPort(const char* name) {
    HANDLE h = nullptr;
    EXPECT_TRUE(OpenPortEx(name, &h));
    return h;
}

BOOL MonitorHarness::StartDocAs(HANDLE port, const char* printer, DWORD jobId, bool withInfo) {
    if (entry() == Entry::Spooler9x) {
        std::string name = printer ? printer : "";
        char doc[] = "doc";
        char raw[] = "RAW";
        DOC_INFO_1A info{doc, nullptr, raw};
        return table9x_.pfnStartDocPort(port, printer ? name.data() : nullptr, jobId, 1,
                                        withInfo ? reinterpret_cast<LPBYTE>(&info) : nullptr);
    }
    WideText name = Widen(printer ? printer : "");
    WideText doc = Widen("doc");
    WideText raw = Widen("RAW");
    DOC_INFO_1W info{doc.data(), nullptr, raw.data()};
    return tableNt_->pfnStartDocPort(port, printer ? name.data() : nullptr, jobId, 1,
                                     withInfo ? reinterpret_cast<LPBYTE>(&info) : nullptr);
}

BOOL MonitorHarness::StartDoc(HANDLE port, DWORD jobId) { return StartDocAs(port, printer_.c_str(), jobId); }

BOOL MonitorHarness::Write(HANDLE port, Bytes bytes, DWORD* written) {
    const auto write = entry() == Entry::Spooler9x ? table9x_.pfnWritePort : tableNt_->pfnWritePort;
    return write(port, bytes.data(), static_cast<DWORD>(bytes.size()), written);
}

BOOL MonitorHarness::Read(HANDLE port, BYTE* buffer, DWORD size, DWORD* read) {
    return (entry() == Entry::Spooler9x ? table9x_.pfnReadPort : tableNt_->pfnReadPort)(port, buffer, size, read);
}

BOOL MonitorHarness::EndDoc(HANDLE port) {
    return (entry() == Entry::Spooler9x ? table9x_.pfnEndDocPort : tableNt_->pfnEndDocPort)(port);
}

BOOL MonitorHarness::ClosePort(HANDLE port) {
    return (entry() == Entry::Spooler9x ? table9x_.pfnClosePort : tableNt_->pfnClosePort)(port);
}

void MonitorHarness::PrintDocument(HANDLE port, DWORD jobId, const std::vector<Bytes>& writes) {
    ASSERT_TRUE(StartDoc(port, jobId));
    for (const Bytes& w : writes) {
        DWORD written = 0;
        Write(port, w, &written);
    }
    EXPECT_TRUE(EndDoc(port));
}

bool MonitorHarness::ReadCapture(Bytes* bytes) {
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

void MonitorHarness::WriteCapture(const Bytes& bytes) {
    HANDLE f = CreateFileA(kCapturePath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

} // namespace kqmontest
