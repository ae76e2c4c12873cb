// kqspool: prints ESC/POS job files through the stand-in print spooler, as an application prints a RAW
// job to "KQT-50 Receipt" on Windows, with the kit's print processor and language monitor in the path; or
// checks them on a scratch machine and says what the printer would get.
#include "setup.h"
#include "stops.h"

#include "escpos.h"
#include "hex.h"
#include "preview.h"

#include <windows.h>
#include <winspool.h>

#include "kqwin/control.h"
#include "kqmon.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kqspool;
namespace control = kqwin::control;

// Exit statuses. When jobs end differently, the first of 1, 4, 3 that applies is the status.
constexpr int kAllPrinted = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kPartial = 3;
constexpr int kUnreadable = 4;
constexpr int kInterrupted = 130;

constexpr char kUsageText[] =
    "Usage: kqspool print [options] JOB...\n"
    "       kqspool check [options] JOB...\n"
    "       kqspool --help | --version\n"
    "\n"
    "print: prints ESC/POS job files (or - for standard input) to the printer \"KQT-50 Receipt\" of the\n"
    "simulated machine, through the spooler, the KQPRINT print processor and the KQMON language monitor,\n"
    "as an application prints a RAW job on Windows. The printer is set up on first use. When the print\n"
    "processor stops a copy early, a warning on standard error says where, why, and how many bytes the\n"
    "printer never got. Ctrl-C cancels the job being printed and skips the rest.\n"
    "\n"
    "check: the same print on a scratch machine with a scratch port: nothing reaches your port or the\n"
    "monitor's capture file. One report per job on standard output: the bytes the printer would accept,\n"
    "where and why it would stop, the page images it would get.\n"
    "\n"
    "Options:\n"
    "  --copies N          copies of each job (default 1)\n"
    "  --dpi N             vertical resolution of the printer in dots per inch (default 203)\n"
    "  --out PATH          file or device that receives the port's bytes (- for standard output);\n"
    "                      without it, the port's configured target (print) or a scratch file (check)\n"
    "  --trace-writes PATH one line per write of the print processor: byte count, space, bytes in hex\n"
    "  --no-monitor        send the print processor's output to the port without the language monitor\n"
    "  --preview PNG       also draw what the port received as the KQT-50 prints it, into a PNG image\n"
    "                      (red marks are the preview's own: where the paper is cut, what it cannot draw)\n"
    "  --paper-width DOTS  paper width of the preview in dots, 8 a millimetre (default 576: 72 mm;\n"
    "                      384 for 58 mm paper)\n"
    "  --help              this text\n"
    "  --version           the version\n"
    "\n"
    "The machine lives in the folder named by KQT50_ROOT (default ~/.kqt50).\n"
    "\n"
    "Exit status:\n"
    "  0  every byte of every job was printed (checked: would be printed)\n"
    "  1  a job was not printed, the printer could not be set up, or the preview could not be written\n"
    "  2  usage error\n"
    "  3  printed, but part of a job was not sent: the print processor stopped a copy early\n"
    "  4  a job file could not be read (missing, unreadable, a directory)\n"
    "  130  interrupted by Ctrl-C\n"
    "When jobs end differently, the first of 1, 4, 3 that applies is the status.\n";

struct Options {
    bool check = false;
    unsigned copies = 1;
    int dpi = 203;
    std::optional<std::string> out;
    std::optional<std::string> trace;
    bool monitor = true;
    std::optional<std::string> preview;
    int paperWidth = 576;
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
    return kUsage;
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

// The bytes of a job file, or standard input for "-"; an empty optional and `error` when it cannot be read.
std::optional<std::vector<BYTE>> ReadJob(const std::string& name, std::string* error) {
    const int fd = name == "-" ? STDIN_FILENO : open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        *error = "is a directory, not a job file";
        return std::nullopt;
    }
    std::vector<BYTE> data;
    BYTE chunk[1 << 16];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = std::strerror(errno);
            data.clear();
            break;
        }
        if (n == 0) {
            break;
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    if (fd != STDIN_FILENO) {
        close(fd);
    }
    if (!error->empty()) {
        return std::nullopt;
    }
    return data;
}

// The printer's attributes, changed for the run and put back when it ends.
class PrinterAttributes {
  public:
    // Clears `bits` (bidirectional mode routes output through the driver's language monitor).
    explicit PrinterAttributes(DWORD clear) {
        if (Access(&saved_, nullptr)) {
            const DWORD changed = saved_ & ~clear;
            ok_ = Access(nullptr, &changed);
        }
    }
    ~PrinterAttributes() {
        if (ok_) {
            Access(nullptr, &saved_);
        }
    }
    PrinterAttributes(const PrinterAttributes&) = delete;
    PrinterAttributes& operator=(const PrinterAttributes&) = delete;
    bool ok() const { return ok_; }

  private:
    // Reads the attributes of the printer's level-2 record into `read`, or writes `write` into it.
    static bool Access(DWORD* read, const DWORD* write) {
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
            if (read) {
                *read = info->Attributes;
            }
            if (write) {
                info->Attributes = *write;
                ok = SetPrinterA(h, 2, buffer.data(), 0);
            }
        }
        ClosePrinter(h);
        return ok;
    }
    DWORD saved_ = 0;
    bool ok_ = false;
};

// The port's configured target, restored when the run ends.
class PortTargetOverride {
  public:
    explicit PortTargetOverride(const std::string& target) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, control::kPortTargetKey, 0, KEY_READ, &key) == 0) {
            char value[4096];
            DWORD size = sizeof(value) - 1;
            DWORD type = 0;
            if (RegQueryValueExA(key, kPortName, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) ==
                    0 &&
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
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, control::kPortTargetKey, 0, KEY_WRITE, &key) == 0) {
            RegDeleteValueA(key, kPortName);
            RegCloseKey(key);
        }
    }
    PortTargetOverride(const PortTargetOverride&) = delete;
    PortTargetOverride& operator=(const PortTargetOverride&) = delete;

  private:
    std::optional<std::string> previous_;
};

// The spooler's write observer for as long as the scope lives.
class WriteObserverScope {
  public:
    explicit WriteObserverScope(std::function<void(const BYTE*, DWORD, DWORD)> observer) {
        control::SetWriteObserver(std::move(observer));
    }
    ~WriteObserverScope() { control::SetWriteObserver(nullptr); }
    WriteObserverScope(const WriteObserverScope&) = delete;
    WriteObserverScope& operator=(const WriteObserverScope&) = delete;
};

// A machine of its own in a temporary folder, removed when the scope ends.
class ScratchMachine {
  public:
    ScratchMachine() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kqspool-check-XXXXXX").string();
        if (mkdtemp(tmpl.data())) {
            dir_ = tmpl;
            control::ResetMachine(dir_);
        }
    }
    ~ScratchMachine() {
        std::error_code ec;
        if (!dir_.empty()) {
            std::filesystem::remove_all(dir_, ec);
        }
    }
    ScratchMachine(const ScratchMachine&) = delete;
    ScratchMachine& operator=(const ScratchMachine&) = delete;
    bool ok() const { return !dir_.empty(); }

  private:
    std::string dir_;
};

// Ctrl-C: the first cancels the job that prints (or is about to) and skips the rest; a second one ends the
// program.
class InterruptWatch {
  public:
    InterruptWatch() {
        if (pipe(fds_) != 0) {
            fds_[0] = fds_[1] = -1;
            return;
        }
        writeEnd() = fds_[1];
        struct sigaction sa {};
        sa.sa_handler = [](int) {
            const char c = 'c';
            [[maybe_unused]] const ssize_t n = write(writeEnd(), &c, 1);
            std::signal(SIGINT, SIG_DFL);
        };
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, &previous_);
        watcher_ = std::thread([this] { Watch(); });
    }
    ~InterruptWatch() {
        if (fds_[1] < 0) {
            return;
        }
        sigaction(SIGINT, &previous_, nullptr);
        const char quit = 'q';
        [[maybe_unused]] const ssize_t n = write(fds_[1], &quit, 1);
        watcher_.join();
        close(fds_[0]);
        close(fds_[1]);
    }
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
    bool interrupted() const { return interrupted_; }

  private:
    static int& writeEnd() {
        static int fd = -1; // the signal handler's only way to the watcher
        return fd;
    }
    void Watch() {
        for (;;) {
            // Once interrupted, a job still being spooled is cancelled as soon as its processor runs.
            pollfd p{fds_[0], POLLIN, 0};
            if (poll(&p, 1, interrupted_ ? 10 : -1) > 0) {
                char c = 0;
                if (read(fds_[0], &c, 1) != 1 || c != 'c') {
                    return;
                }
                interrupted_ = true;
            }
            if (interrupted_) {
                control::CancelRunningJob();
            }
        }
    }
    int fds_[2] = {-1, -1};
    struct sigaction previous_ {};
    std::atomic<bool> interrupted_{false};
    std::thread watcher_;
};

// A write that is one whole GS v 0 raster image: the merged page image of the processor. Its size in dots.
std::optional<std::pair<uint64_t, uint64_t>> PageImage(const BYTE* b, DWORD n) {
    if (n < 8 || b[0] != 0x1D || b[1] != 0x76 || b[2] != 0x30) {
        return std::nullopt;
    }
    const uint64_t w = b[4] + 256u * b[5];
    const uint64_t h = b[6] + 256u * b[7];
    if (n != 8 + w * h) {
        return std::nullopt;
    }
    return std::make_pair(w * 8, h);
}

enum class JobState { Printed, Partial, Failed, Unreadable, Empty, Skipped };

struct JobResult {
    JobState state = JobState::Failed;
    uint64_t bytesIn = 0;
    uint64_t writes = 0;
    uint64_t bytesOut = 0;
    uint64_t bandsIn = 0;
    std::vector<PassStop> passes;
    unsigned passesWanted = 0;
    std::vector<std::pair<uint64_t, uint64_t>> images; // page images: width and height in dots
    std::string error;                                 // why it was not printed
    bool viaMonitor = false;                           // the output went through a language monitor
};

std::string JobName(const std::string& file) {
    return file == "-" ? "standard input" : file;
}

// "copy 1 of 1", "copies 2 to 3 of 3"
std::string Copies(size_t first, size_t last, size_t of) {
    return first == last ? "copy " + std::to_string(first + 1) + " of " + std::to_string(of)
                         : "copies " + std::to_string(first + 1) + " to " + std::to_string(last + 1) +
                               " of " + std::to_string(of);
}

// One warning per run of copies that stopped at the same place for the same reason.
void WarnStops(const std::string& file, const JobResult& r) {
    for (size_t i = 0; i < r.passes.size();) {
        size_t j = i;
        while (j + 1 < r.passes.size() && r.passes[j + 1].offset == r.passes[i].offset &&
               r.passes[j + 1].reason == r.passes[i].reason && r.passes[j + 1].whole == r.passes[i].whole) {
            ++j;
        }
        const PassStop& stop = r.passes[i];
        if (!stop.whole) {
            std::fprintf(stderr,
                         "kqspool: warning: %s, %s: stopped at byte %s of %s: %s; the printer never got %s "
                         "byte(s)\n",
                         JobName(file).c_str(), Copies(i, j, r.passesWanted).c_str(),
                         Thousands(stop.offset).c_str(), Thousands(r.bytesIn).c_str(), stop.reason.c_str(),
                         Thousands(stop.notSent).c_str());
        }
        i = j + 1;
    }
    if (r.passes.size() < r.passesWanted && r.state == JobState::Partial) {
        std::fprintf(stderr, "kqspool: warning: %s, %s: not printed: cancelled\n", JobName(file).c_str(),
                     Copies(r.passes.size(), r.passesWanted - 1, r.passesWanted).c_str());
    }
}

// The report of `kqspool check` for one job.
void ReportCheck(const std::string& file, const JobResult& r) {
    const std::string name = JobName(file);
    if (r.state == JobState::Unreadable || r.state == JobState::Failed || r.state == JobState::Skipped) {
        std::printf("%s: not checked: %s\n", name.c_str(), r.error.c_str());
        return;
    }
    if (r.state == JobState::Empty) {
        std::printf("%s: empty: nothing to print\n", name.c_str());
        return;
    }
    const PassStop first = r.passes.empty() ? PassStop{} : r.passes.front();
    if (first.whole) {
        std::printf("%s: %s bytes, all accepted\n", name.c_str(), Thousands(r.bytesIn).c_str());
    } else {
        std::printf("%s: %s bytes, %s accepted, %s never sent\n", name.c_str(), Thousands(r.bytesIn).c_str(),
                    Thousands(first.offset).c_str(), Thousands(first.notSent).c_str());
    }
    for (size_t i = 0; i < r.passes.size(); ++i) {
        const PassStop& stop = r.passes[i];
        if (!stop.whole) {
            std::printf("  %s stops at byte %s: %s\n", Copies(i, i, r.passesWanted).c_str(),
                        Thousands(stop.offset).c_str(), stop.reason.c_str());
        }
    }
    std::string images = r.images.empty() ? "none" : std::to_string(r.images.size()) + ":";
    for (const auto& [w, h] : r.images) {
        images += " " + Thousands(w) + "x" + Thousands(h);
    }
    std::printf("  page images: %s%s\n", images.c_str(), r.images.empty() ? "" : " dots");
    std::printf("  the printer would get %s bytes in %s writes\n", Thousands(r.bytesOut).c_str(),
                Thousands(r.writes).c_str());
}

JobResult PrintJob(const std::string& file, const Options& opt,
                   std::vector<std::pair<uint64_t, uint64_t>>* images) {
    JobResult r;
    std::string error;
    const std::optional<std::vector<BYTE>> data = ReadJob(file, &error);
    if (!data) {
        r.error = "cannot read: " + error;
        std::fprintf(stderr, "kqspool: %s: %s\n", JobName(file).c_str(), r.error.c_str());
        r.state = JobState::Unreadable;
        return r;
    }
    if (data->empty()) {
        // nothing is spooled: the port and the capture file stay as they are
        std::fprintf(stderr, "kqspool: warning: %s is empty: nothing printed\n", JobName(file).c_str());
        r.state = JobState::Empty;
        return r;
    }
    const std::string name = kPrinterName;
    std::u16string printer(name.begin(), name.end());
    DEVMODEW devmode{};
    devmode.dmSize = sizeof(devmode);
    devmode.dmFields = DM_COPIES;
    devmode.dmCopies = static_cast<short>(opt.copies);
    PRINTER_DEFAULTSW defaults{nullptr, &devmode, PRINTER_ACCESS_USE};
    HANDLE h = nullptr;
    if (!OpenPrinterW(printer.data(), &h, &defaults)) {
        r.error = "cannot open the printer, error " + std::to_string(GetLastError());
        std::fprintf(stderr, "kqspool: %s\n", r.error.c_str());
        return r;
    }
    const std::string base = file == "-" ? "standard input" : file.substr(file.rfind('/') + 1);
    std::u16string docName(base.begin(), base.end());
    std::u16string datatype = u"RAW";
    DOC_INFO_1W doc{docName.data(), nullptr, datatype.data()};
    const DWORD jobId = StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&doc));
    bool ok = jobId != 0;
    for (size_t at = 0; ok && at < data->size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data->size() - at, 1u << 20));
        DWORD written = 0;
        ok = WritePrinter(h, const_cast<BYTE*>(data->data()) + at, chunk, &written) && written == chunk;
        at += chunk;
    }
    images->clear();
    ok = EndDocPrinter(h) && ok;
    ClosePrinter(h);
    r.images = *images;
    const std::optional<control::JobOutcome> outcome = control::LastJobOutcome();
    r.bytesIn = data->size();
    r.bandsIn = escpos::CountRasterImages(*data);
    if (!ok || !outcome || outcome->jobId != jobId) {
        r.error = "the spooler did not take the job, error " + std::to_string(GetLastError());
        std::fprintf(stderr, "kqspool: %s: %s\n", JobName(file).c_str(), r.error.c_str());
        return r;
    }
    r.writes = outcome->writes;
    r.bytesOut = outcome->bytesToPort;
    r.viaMonitor = outcome->viaMonitor;
    r.passesWanted = opt.copies;
    for (const control::JobOutcome::PassRead& read : outcome->passReads) {
        r.passes.push_back(
            ExplainPass(*data, {read.position, read.reachedEnd, outcome->cancelled, outcome->portFailed}));
    }
    const bool printed =
        outcome->processorLoaded && outcome->opened && outcome->printed && !outcome->portFailed;
    if (!printed) {
        r.error = outcome->error.empty() ? "the port did not take every byte" : outcome->error;
        std::fprintf(stderr, "kqspool: %s: not printed: %s\n", JobName(file).c_str(), r.error.c_str());
        return r;
    }
    const bool whole =
        r.passes.size() == r.passesWanted &&
        std::all_of(r.passes.begin(), r.passes.end(), [](const PassStop& p) { return p.whole; });
    r.state = whole ? JobState::Printed : JobState::Partial;
    return r;
}

int Status(const std::vector<JobResult>& results, bool interrupted) {
    auto any = [&](JobState s) {
        return std::any_of(results.begin(), results.end(), [s](const JobResult& r) { return r.state == s; });
    };
    if (interrupted) {
        return kInterrupted;
    }
    if (any(JobState::Failed)) {
        return kFailed;
    }
    if (any(JobState::Unreadable)) {
        return kUnreadable;
    }
    return any(JobState::Partial) ? kPartial : kAllPrinted;
}

// The preview's file: removed again unless a picture was written into it.
class PreviewFile {
  public:
    explicit PreviewFile(std::string path) : path_(std::move(path)), file_(std::fopen(path_.c_str(), "wb")) {}
    ~PreviewFile() {
        if (file_ && std::fclose(file_) == 0 && kept_) {
            return;
        }
        if (file_) {
            std::remove(path_.c_str());
        }
    }
    PreviewFile(const PreviewFile&) = delete;
    PreviewFile& operator=(const PreviewFile&) = delete;
    FILE* get() const { return file_; }
    void Keep() { kept_ = true; }

  private:
    std::string path_;
    FILE* file_;
    bool kept_ = false;
};

// Draws what the port received into the open preview file; its warnings go to standard error.
bool WritePreview(const std::vector<BYTE>& received, const Options& opt, FILE* file) {
    const preview::Fonts fonts = preview::Fonts::Load();
    const preview::Preview drawn = preview::Render(received, fonts, {opt.paperWidth, opt.dpi});
    for (const std::string& warning : drawn.warnings) {
        std::fprintf(stderr, "kqspool: warning: preview: %s\n", warning.c_str());
    }
    std::string error;
    if (!preview::WritePng(drawn.picture, file, &error)) {
        std::fprintf(stderr, "kqspool: %s: cannot write the preview: %s\n", opt.preview->c_str(),
                     error.c_str());
        return false;
    }
    std::fprintf(stderr, "kqspool: preview %s: %d x %d dots (%.1f x %.1f mm)\n", opt.preview->c_str(),
                 drawn.picture.width, drawn.picture.height, drawn.picture.width / 8.0,
                 drawn.picture.height * 25.4 / opt.dpi);
    return true;
}

int Run(const Options& opt) {
    // Opened before printing, so that a path it cannot write costs no paper.
    std::optional<PreviewFile> previewFile;
    if (opt.preview) {
        previewFile.emplace(*opt.preview);
        if (!previewFile->get()) {
            std::fprintf(stderr, "kqspool: %s: cannot write the preview: %s\n", opt.preview->c_str(),
                         std::strerror(errno));
            return kFailed;
        }
    }
    std::optional<ScratchMachine> scratch;
    if (opt.check) {
        scratch.emplace();
        if (!scratch->ok()) {
            std::fprintf(stderr, "kqspool: cannot make a scratch machine: %s\n", std::strerror(errno));
            return kFailed;
        }
    }
    const std::string root = control::MachineRoot();
    const SetupResult setup = EnsurePrinter(ExecutableDir());
    if (!setup.ok) {
        std::fprintf(stderr, "kqspool: cannot set up the printer: %s\n", setup.error.c_str());
        return kFailed;
    }
    control::SetPrinterResolution(kPrinterName, opt.dpi);
    std::optional<PrinterAttributes> bypass;
    if (!opt.monitor) {
        bypass.emplace(PRINTER_ATTRIBUTE_ENABLE_BIDI);
        if (!bypass->ok()) {
            std::fprintf(stderr, "kqspool: cannot configure the printer, error %u\n", GetLastError());
            return kFailed;
        }
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
            return kFailed;
        }
    }
    std::vector<std::pair<uint64_t, uint64_t>> images;
    std::vector<BYTE> received; // what the port took, for the preview
    std::vector<JobResult> results;
    bool interrupted = false;
    {
        const WriteObserverScope observe([&](const BYTE* bytes, DWORD count, DWORD accepted) {
            if (const auto image = PageImage(bytes, count)) {
                images.push_back(*image);
            }
            if (opt.preview) {
                received.insert(received.end(), bytes, bytes + std::min(count, accepted));
            }
            if (!trace) {
                return;
            }
            std::string line = std::to_string(count) + " ";
            kqkit::AppendHex(line, std::span(bytes, count));
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), trace);
        });
        const InterruptWatch interrupt;
        for (const std::string& job : opt.jobs) {
            if (interrupt.interrupted()) {
                std::fprintf(stderr, "kqspool: %s: not printed: cancelled\n", JobName(job).c_str());
                JobResult& skipped = results.emplace_back();
                skipped.state = JobState::Skipped;
                skipped.error = "cancelled";
                continue;
            }
            results.push_back(PrintJob(job, opt, &images));
            WarnStops(job, results.back());
            if (opt.check) {
                ReportCheck(job, results.back());
            }
        }
        if (trace && trace != stdout) {
            std::fclose(trace);
        }
        interrupted = interrupt.interrupted();
    }
    JobResult totals;
    bool viaMonitor = false;
    size_t printed = 0;
    size_t partly = 0;
    for (const JobResult& r : results) {
        printed += r.state == JobState::Printed || r.state == JobState::Partial || r.state == JobState::Empty;
        partly += r.state == JobState::Partial;
        viaMonitor = viaMonitor || r.viaMonitor;
        totals.bytesIn += r.bytesIn;
        totals.writes += r.writes;
        totals.bytesOut += r.bytesOut;
        totals.bandsIn += r.bandsIn;
        totals.images.insert(totals.images.end(), r.images.begin(), r.images.end());
    }
    const std::string part = partly ? " (" + std::to_string(partly) + " in part)" : "";
    const std::string throughMonitor =
        std::string(" through ") + kMonitorName + " (capture " + kqmon::kCapturePath + ")";
    std::fprintf(stderr,
                 "kqspool: %zu of %zu job(s) %s%s: %llu bytes in, %llu writes, %llu bytes to %s %s%s; "
                 "%llu band(s) in, %zu page image(s) out; machine %s\n",
                 printed, opt.jobs.size(), opt.check ? "checked" : "printed", part.c_str(),
                 static_cast<unsigned long long>(totals.bytesIn),
                 static_cast<unsigned long long>(totals.writes),
                 static_cast<unsigned long long>(totals.bytesOut), kPortName,
                 opt.check && !opt.out ? "(scratch)"
                 : target == "-"       ? "(standard output)"
                                       : target.c_str(),
                 viaMonitor && !opt.check ? throughMonitor.c_str() : "",
                 static_cast<unsigned long long>(totals.bandsIn), totals.images.size(),
                 opt.check ? "(scratch)" : root.c_str());
    if (previewFile) {
        if (!WritePreview(received, opt, previewFile->get())) {
            return kFailed;
        }
        previewFile->Keep();
    }
    return Status(results, interrupted);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsageText, stdout);
        return kAllPrinted;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kqspool %s\n", KQ_VERSION);
        return kAllPrinted;
    }
    if (argc < 2 || (std::strcmp(argv[1], "print") != 0 && std::strcmp(argv[1], "check") != 0)) {
        return UsageError(argc < 2 ? "no command given" : std::string("unknown command '") + argv[1] + "'");
    }
    Options opt;
    opt.check = std::strcmp(argv[1], "check") == 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        long n = 0;
        if (arg == "--help") {
            std::fputs(kUsageText, stdout);
            return kAllPrinted;
        } else if (arg == "--copies") {
            const char* v = value();
            if (!v || !ParseNumber(v, 0, 32767, &n)) {
                return UsageError("--copies needs a number from 0 to 32767");
            }
            opt.copies = static_cast<unsigned>(n);
        } else if (arg == "--dpi") {
            const char* v = value();
            if (!v || !ParseNumber(v, 1, 32767, &n)) {
                return UsageError("--dpi needs a number from 1 to 32767");
            }
            opt.dpi = static_cast<int>(n);
        } else if (arg == "--out") {
            const char* v = value();
            if (!v || !*v) {
                return UsageError("--out needs a path");
            }
            opt.out = v;
        } else if (arg == "--trace-writes") {
            const char* v = value();
            if (!v || !*v) {
                return UsageError("--trace-writes needs a path");
            }
            opt.trace = v;
        } else if (arg == "--preview") {
            const char* v = value();
            if (!v || !*v) {
                return UsageError("--preview needs a path");
            }
            opt.preview = v;
        } else if (arg == "--paper-width") {
            const char* v = value();
            if (!v || !ParseNumber(v, 8, 4096, &n)) {
                return UsageError("--paper-width needs a number of dots from 8 to 4096");
            }
            opt.paperWidth = static_cast<int>(n);
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
    return Run(opt);
}
