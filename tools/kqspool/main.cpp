// kqspool: prints ESC/POS job files through the stand-in print spooler, as an application prints a RAW
// job to "KQT-50 Receipt" on Windows, with the kit's print processor and language monitor in the path.
#include "setup.h"

#include "escpos.h"

#include <windows.h>
#include <winspool.h>

#include "kqwin/control.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace kqspool;
namespace control = kqwin::control;

constexpr char kUsage[] =
    "Usage: kqspool print [options] JOB...\n"
    "       kqspool --help | --version\n"
    "\n"
    "Prints ESC/POS job files (or - for standard input) to the printer \"KQT-50 Receipt\" of the\n"
    "simulated machine, through the spooler, the KQPRINT print processor and the KQMON language\n"
    "monitor, as an application prints a RAW job on Windows. The printer is set up on first use.\n"
    "\n"
    "Options:\n"
    "  --copies N          copies of each job (default 1)\n"
    "  --dpi N             vertical resolution of the printer in dots per inch (default 203)\n"
    "  --out PATH          file or device that receives the port's bytes (- for standard output);\n"
    "                      without it, the port's configured target\n"
    "  --trace-writes PATH one line per write of the print processor: byte count, space, bytes in hex\n"
    "  --no-monitor        send the print processor's output to the port without the language monitor\n"
    "  --help              this text\n"
    "  --version           the version\n"
    "\n"
    "The machine lives in the folder named by KQT50_ROOT (default ~/.kqt50). Exit status 0 when\n"
    "every job printed, 1 when a job failed, 2 for a usage error.\n";

struct Options {
    unsigned copies = 1;
    int dpi = 203;
    std::optional<std::string> out;
    std::optional<std::string> trace;
    bool monitor = true;
    std::vector<std::string> jobs;
};

bool ParseNumber(const char* text, long min, long max, long* value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) {
        return false;
    }
    *value = v;
    return true;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kqspool: %s\nTry 'kqspool --help'.\n", message.c_str());
    return 2;
}

std::string ExecutableDir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return ".";
    }
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/' || path == "-") {
        return path;
    }
    char cwd[4096];
    return getcwd(cwd, sizeof(cwd)) ? std::string(cwd) + "/" + path : path;
}

bool ReadJob(const std::string& name, std::vector<BYTE>* data) {
    if (name == "-") {
        data->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        return false;
    }
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Sets or clears bidirectional mode, which routes a printer's output through its driver's language monitor.
bool SetMonitorRoute(bool on) {
    std::string name = kPrinterName;
    PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE h = nullptr;
    if (!OpenPrinterA(name.data(), &h, &access)) {
        return false;
    }
    DWORD needed = 0;
    GetPrinterA(h, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    bool ok = needed > 0 && GetPrinterA(h, 2, buffer.data(), needed, &needed);
    if (ok) {
        auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
        info->Attributes = on ? (info->Attributes | PRINTER_ATTRIBUTE_ENABLE_BIDI)
                              : (info->Attributes & ~PRINTER_ATTRIBUTE_ENABLE_BIDI);
        ok = SetPrinterA(h, 2, buffer.data(), 0);
    }
    ClosePrinter(h);
    return ok;
}

// The port's configured target, restored when the run ends.
class PortTargetOverride {
  public:
    explicit PortTargetOverride(const std::string& target) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KQT50 Stand-in\\Ports", 0, KEY_READ, &key) == 0) {
            char value[4096];
            DWORD size = sizeof(value) - 1;
            DWORD type = 0;
            if (RegQueryValueExA(key, kPortName, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) == 0 &&
                type == REG_SZ) {
                value[size] = '\0';
                previous_ = std::string(value);
            }
            RegCloseKey(key);
        }
        control::SetPortTarget(kPortName, target);
    }
    ~PortTargetOverride() {
        if (previous_) {
            control::SetPortTarget(kPortName, *previous_);
            return;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KQT50 Stand-in\\Ports", 0, KEY_WRITE, &key) == 0) {
            RegDeleteValueA(key, kPortName);
            RegCloseKey(key);
        }
    }
    PortTargetOverride(const PortTargetOverride&) = delete;
    PortTargetOverride& operator=(const PortTargetOverride&) = delete;

  private:
    std::optional<std::string> previous_;
};

// What one job did, for the summary line.
struct Totals {
    size_t jobs = 0;
    size_t failed = 0;
    uint64_t bytesIn = 0;
    uint64_t writes = 0;
    uint64_t bytesOut = 0;
    uint64_t bandsIn = 0;
    uint64_t imagesOut = 0;
};

// A write that is one whole GS v 0 raster image: the merged page image of the processor.
bool IsPageImage(const BYTE* b, DWORD n) {
    if (n < 8 || b[0] != 0x1D || b[1] != 0x76 || b[2] != 0x30) {
        return false;
    }
    const uint64_t w = b[4] + 256u * b[5];
    const uint64_t h = b[6] + 256u * b[7];
    return n == 8 + w * h;
}

bool PrintJob(const std::string& file, const Options& opt, Totals* totals) {
    totals->jobs++;
    std::vector<BYTE> data;
    if (!ReadJob(file, &data)) {
        std::fprintf(stderr, "kqspool: %s: cannot read the job\n", file.c_str());
        return false;
    }
    std::u16string printer = u"KQT-50 Receipt";
    DEVMODEW devmode{};
    devmode.dmSize = sizeof(devmode);
    devmode.dmFields = 0x100; // DM_COPIES
    devmode.dmCopies = static_cast<short>(opt.copies);
    PRINTER_DEFAULTSW defaults{nullptr, &devmode, PRINTER_ACCESS_USE};
    HANDLE h = nullptr;
    if (!OpenPrinterW(printer.data(), &h, &defaults)) {
        std::fprintf(stderr, "kqspool: cannot open the printer, error %u\n", GetLastError());
        return false;
    }
    const std::string base = file == "-" ? "standard input" : file.substr(file.rfind('/') + 1);
    std::u16string docName(base.begin(), base.end());
    std::u16string datatype = u"RAW";
    DOC_INFO_1W doc{docName.data(), nullptr, datatype.data()};
    const DWORD jobId = StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&doc));
    bool ok = jobId != 0;
    for (size_t at = 0; ok && at < data.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - at, 1u << 20));
        DWORD written = 0;
        ok = WritePrinter(h, data.data() + at, chunk, &written) && written == chunk;
        at += chunk;
    }
    ok = EndDocPrinter(h) && ok;
    ClosePrinter(h);
    const std::optional<control::JobOutcome> outcome = control::LastJobOutcome();
    totals->bytesIn += data.size();
    totals->bandsIn += escpos::CountRasterImages(data);
    if (!ok || !outcome || outcome->jobId != jobId) {
        std::fprintf(stderr, "kqspool: %s: the spooler did not take the job, error %u\n", file.c_str(),
                     GetLastError());
        return false;
    }
    totals->writes += outcome->writes;
    totals->bytesOut += outcome->bytesToPort;
    const bool printed = outcome->processorLoaded && outcome->opened && outcome->printed && !outcome->portFailed;
    if (!printed) {
        std::fprintf(stderr, "kqspool: %s: not printed: %s\n", file.c_str(),
                     outcome->error.empty() ? "the port did not take every byte" : outcome->error.c_str());
    }
    return printed;
}

int Print(const Options& opt) {
    const std::string root = control::MachineRoot();
    const SetupResult setup = EnsurePrinter(ExecutableDir());
    if (!setup.ok) {
        std::fprintf(stderr, "kqspool: cannot set up the printer: %s\n", setup.error.c_str());
        return 1;
    }
    control::SetPrinterResolution(kPrinterName, opt.dpi);
    const bool viaMonitor = opt.monitor && setup.monitorInstalled;
    if (!SetMonitorRoute(viaMonitor)) {
        std::fprintf(stderr, "kqspool: cannot configure the printer, error %u\n", GetLastError());
        return 1;
    }
    std::optional<PortTargetOverride> override;
    std::string target = control::PortTarget(kPortName);
    if (opt.out) {
        target = Absolute(*opt.out);
        if (target != "-") {
            std::ofstream(target, std::ios::trunc | std::ios::binary); // the port adds every job to it
        }
        override.emplace(target);
    }
    FILE* trace = nullptr;
    if (opt.trace) {
        trace = *opt.trace == "-" ? stdout : std::fopen(opt.trace->c_str(), "w");
        if (!trace) {
            std::fprintf(stderr, "kqspool: %s: %s\n", opt.trace->c_str(), std::strerror(errno));
            return 1;
        }
    }
    Totals totals;
    control::SetWriteObserver([&](const BYTE* bytes, DWORD count, DWORD) {
        if (IsPageImage(bytes, count)) {
            totals.imagesOut++;
        }
        if (!trace) {
            return;
        }
        static const char kHex[] = "0123456789abcdef";
        std::string line = std::to_string(count) + " ";
        line.reserve(line.size() + 2 * size_t(count) + 1);
        for (DWORD i = 0; i < count; ++i) {
            line += kHex[bytes[i] >> 4];
            line += kHex[bytes[i] & 0xF];
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), trace);
    });
    for (const std::string& job : opt.jobs) {
        if (!PrintJob(job, opt, &totals)) {
            totals.failed++;
        }
    }
    control::SetWriteObserver(nullptr);
    if (trace && trace != stdout) {
        std::fclose(trace);
    }
    std::fprintf(stderr,
                 "kqspool: %zu of %zu job(s) printed: %llu bytes in, %llu writes, %llu bytes to %s %s%s; "
                 "%llu band(s) in, %llu page image(s) out; machine %s\n",
                 totals.jobs - totals.failed, opt.jobs.size(), static_cast<unsigned long long>(totals.bytesIn),
                 static_cast<unsigned long long>(totals.writes), static_cast<unsigned long long>(totals.bytesOut),
                 kPortName, target == "-" ? "(standard output)" : target.c_str(),
                 viaMonitor ? " through KQMON (capture c:\\kqt50mon.dat)" : "",
                 static_cast<unsigned long long>(totals.bandsIn), static_cast<unsigned long long>(totals.imagesOut),
                 root.c_str());
    return totals.failed == 0 && totals.jobs == opt.jobs.size() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kqspool %s\n", KQ_VERSION);
        return 0;
    }
    if (argc < 2 || std::strcmp(argv[1], "print") != 0) {
        return UsageError(argc < 2 ? "no command given" : std::string("unknown command '") + argv[1] + "'");
    }
    Options opt;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                return nullptr;
            }
            (void)what;
            return argv[++i];
        };
        long n = 0;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--copies") {
            const char* v = value("N");
            if (!v || !ParseNumber(v, 0, 32767, &n)) {
                return UsageError("--copies needs a number from 0 to 32767");
            }
            opt.copies = static_cast<unsigned>(n);
        } else if (arg == "--dpi") {
            const char* v = value("N");
            if (!v || !ParseNumber(v, 1, 32767, &n)) {
                return UsageError("--dpi needs a number from 1 to 32767");
            }
            opt.dpi = static_cast<int>(n);
        } else if (arg == "--out") {
            const char* v = value("PATH");
            if (!v || !*v) {
                return UsageError("--out needs a path");
            }
            opt.out = v;
        } else if (arg == "--trace-writes") {
            const char* v = value("PATH");
            if (!v || !*v) {
                return UsageError("--trace-writes needs a path");
            }
            opt.trace = v;
        } else if (arg == "--no-monitor") {
            opt.monitor = false;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return UsageError("unknown option '" + arg + "'");
        } else {
            opt.jobs.push_back(arg);
        }
    }
    if (opt.jobs.empty()) {
        return UsageError("no job file given");
    }
    return Print(opt);
}
