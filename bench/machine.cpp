#include "machine.h"

#include <winspool.h>
#include <winsplp.h>

#include <dlfcn.h>

#include "kqwin/test_control.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace kqbench {
namespace {

namespace control = kqwin::control;

constexpr char kEnvironment[] = "Windows 4.0";

struct Installed {
    const char* printer;
    const char* port;
    const char* name;
    const char* file;
    const char* library;
};

constexpr Installed kInstalled[] = {
    {"KQT-50 Receipt", "BENCH1:", "KQPRINT", "KQPRINT.DLL", KQBENCH_KQPRINT},
    {"Bare Pass-through", "BENCH2:", "KQBARE", "KQBARE.DLL", KQBENCH_BARE},
};

std::string g_root;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "kqbench: %s (error %lu)\n", what.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    std::exit(2);
}

std::vector<char> Text(std::string_view s) {
    std::vector<char> v(s.begin(), s.end());
    v.push_back('\0');
    return v;
}

} // namespace

const char* ProcessorName(Processor processor) {
    return processor == Processor::Kqprint ? "kqprint" : "bare";
}

void SetUpMachine() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kqbench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        Fail("cannot make a machine folder");
    }
    g_root = tmpl;
    control::ResetMachine(g_root);
    char dir[MAX_PATH];
    DWORD needed = 0;
    auto env = Text(kEnvironment);
    if (!GetPrintProcessorDirectoryA(nullptr, env.data(), 1, reinterpret_cast<LPBYTE>(dir), sizeof(dir),
                                     &needed)) {
        Fail("GetPrintProcessorDirectoryA failed");
    }
    for (const Installed& p : kInstalled) {
        if (!CopyFileA(p.library, (std::string(dir) + "\\" + p.file).c_str(), FALSE)) {
            Fail(std::string("cannot copy ") + p.library);
        }
        auto file = Text(p.file);
        auto name = Text(p.name);
        if (!AddPrintProcessorA(nullptr, env.data(), file.data(), name.data())) {
            Fail(std::string("AddPrintProcessorA ") + p.name);
        }
        control::PrinterSetup setup;
        setup.name = p.printer;
        setup.port = p.port;
        setup.printProcessor = p.name;
        if (!control::AddTestPrinter(setup)) {
            Fail(std::string("cannot add the printer ") + p.printer);
        }
        // The processors are measured, not the device: the port's bytes go nowhere.
        control::SetPortTarget(p.port, "/dev/null");
    }
}

void TearDownMachine() {
    if (!g_root.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(g_root, ignored);
        g_root.clear();
    }
}

struct Printer::State {
    const Installed* installed = nullptr;
    HANDLE app = nullptr; // the application's handle, for Despool
    // the processor's entry points, from its library
    void* library = nullptr;
    HANDLE(WINAPI* open)(LPWSTR, PPRINTPROCESSOROPENDATA) = nullptr;
    BOOL(WINAPI* print)(HANDLE, LPWSTR) = nullptr;
    BOOL(WINAPI* close)(HANDLE) = nullptr;
    // the spooled job
    DWORD jobId = 0;
    std::unique_ptr<control::DespoolScope> scope;
    bool printed = false;
    bool processed = false; // the last job ran through Process (not Despool)
};

Printer::Printer(Processor processor) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.installed = &kInstalled[processor == Processor::Kqprint ? 0 : 1];
    auto name = Text(s.installed->printer);
    if (!OpenPrinterA(name.data(), &s.app, nullptr)) {
        Fail(std::string("cannot open the printer ") + name.data());
    }
    s.library = dlopen(s.installed->library, RTLD_NOW | RTLD_LOCAL);
    if (!s.library) {
        Fail(std::string("cannot load ") + s.installed->library + ": " + dlerror());
    }
    s.open = reinterpret_cast<decltype(s.open)>(dlsym(s.library, "OpenPrintProcessor"));
    s.print = reinterpret_cast<decltype(s.print)>(dlsym(s.library, "PrintDocumentOnPrintProcessor"));
    s.close = reinterpret_cast<decltype(s.close)>(dlsym(s.library, "ClosePrintProcessor"));
    if (!s.open || !s.print || !s.close) {
        Fail(std::string("entry points missing from ") + s.installed->library);
    }
}

Printer::~Printer() {
    Finish();
    ClosePrinter(state_->app);
    dlclose(state_->library);
}

void Printer::Spool(const std::vector<uint8_t>& job) {
    State& s = *state_;
    Finish();
    s.jobId = control::SpoolJob(s.installed->printer, job, u"benchmark job");
    if (!s.jobId) {
        Fail("cannot spool the job");
    }
    s.scope = std::make_unique<control::DespoolScope>(s.installed->printer, s.jobId);
    control::ClearDebugOutput(); // the processors' debugger lines would pile up over many jobs
}

int64_t Printer::Process() {
    State& s = *state_;
    std::u16string portName =
        std::u16string(s.installed->port, s.installed->port + std::strlen(s.installed->port)) + u", Port";
    std::u16string printer(s.installed->printer, s.installed->printer + std::strlen(s.installed->printer));
    std::u16string datatype = u"RAW";
    std::u16string parameters = u"COPIES=1;";
    std::u16string document = u"benchmark job";
    std::u16string readName = control::JobReadName(s.installed->printer, s.jobId);
    PRINTPROCESSOROPENDATA od{};
    od.pDatatype = datatype.data();
    od.pParameters = parameters.data();
    od.pDocumentName = document.data();
    od.JobId = s.jobId;
    od.pPrinterName = printer.data();

    const auto start = std::chrono::steady_clock::now();
    const HANDLE h = s.open(portName.data(), &od);
    const BOOL printed = h ? s.print(h, readName.data()) : FALSE;
    if (h) {
        s.close(h);
    }
    const auto stop = std::chrono::steady_clock::now();
    s.printed = printed != FALSE;
    s.processed = true;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(stop - start).count();
}

void Printer::Finish() {
    state_->scope.reset(); // the job is deleted; its outcome becomes the last one
}

int64_t Printer::Despool(const std::vector<uint8_t>& job) {
    State& s = *state_;
    Finish();
    WCHAR document[] = TEXT("benchmark job");
    WCHAR raw[] = TEXT("RAW");
    DOC_INFO_1W info{document, nullptr, raw};
    if (!StartDocPrinterW(s.app, 1, reinterpret_cast<LPBYTE>(&info))) {
        Fail("StartDocPrinterW failed");
    }
    DWORD written = 0;
    if (!WritePrinter(s.app, const_cast<uint8_t*>(job.data()), static_cast<DWORD>(job.size()), &written) ||
        written != job.size()) {
        Fail("spooling the job failed");
    }
    control::ClearDebugOutput();
    const auto start = std::chrono::steady_clock::now();
    const BOOL ended = EndDocPrinter(s.app);
    const auto stop = std::chrono::steady_clock::now();
    if (!ended) {
        Fail("EndDocPrinter failed");
    }
    s.processed = false;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(stop - start).count();
}

Outcome Printer::LastOutcome() const {
    Outcome o;
    if (const auto last = control::LastJobOutcome()) {
        o.printed = state_->processed ? state_->printed : last->printed != FALSE;
        o.writes = last->writes;
        o.bytesOffered = last->bytesOffered;
        o.error = last->error;
    }
    return o;
}

} // namespace kqbench
