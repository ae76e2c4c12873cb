// The printer application's speed and memory, beside Debian's LPrint 1.1. Run by bench/run.sh (its
// --benchmark_filter=kqapp part); see bench/README.md.
//
//   BM_Convert/<dither>/<rows>   the raster step alone: rows of 8-bit grey (a receipt: text, bars, a photo)
//                                into GS v 0 bands, per row, from 100 to 100,000 rows
//   BM_PrintJob/<app>/<rows>     IPP Print-Job of a 576-dot-wide PWG raster receipt (sgray_8, 203 dpi) to the
//                                last byte at the device: the server started apart, its printer on a network
//                                port served by the benchmark, which answers status requests as a KQT-50
//                                does; kqapp through the stand-in spooler and the kit's print processor,
//                                LPrint with its ZPL driver, on paper as long as the receipt (LPrint's
//                                longest is 39.6 in, 8,040 rows: it prints no more of a longer one).
//                                Counters: bytes at the device, the server's resident memory above its idle
//                                size while printing, the server's processor time per job
#include "receipt.h"

#include <benchmark/benchmark.h>
#include <cups/cups.h>
#include <cups/raster.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kWidth = 576;

// Row `y` of a receipt: lines of text, a bar code, a photo band with tones, blank paper between.
void ReceiptRow(int y, uint8_t* row) {
    const int band = (y / 24) % 40;
    std::memset(row, 255, kWidth);
    if (band < 20 && y % 24 < 17) { // text
        for (int x = 24; x < kWidth - 24; ++x) {
            row[x] = ((x / 12 + y / 24) % 5 != 0 && x % 12 < 9 && (x * 7 + y) % 3 != 0) ? 0 : 255;
        }
    } else if (band < 24) { // bars
        for (int x = 48; x < kWidth - 48; ++x) {
            row[x] = ((x / 4) % 3 == 0) ? 0 : 255;
        }
    } else if (band < 32) { // a photo: tones
        for (int x = 0; x < kWidth; ++x) {
            row[x] = uint8_t((x * 255 / kWidth + y) & 0xFF);
        }
    }
}

// ---- the raster step alone --------------------------------------------------------------------------

void BM_Convert(benchmark::State& state) {
    const auto dither = static_cast<kqapp::Dither>(state.range(0));
    const int rows = int(state.range(1));
    std::vector<uint8_t> lines(size_t(kWidth) * 960); // a repeating stretch of receipt
    for (int y = 0; y < 960; ++y) {
        ReceiptRow(y, lines.data() + size_t(y) * kWidth);
    }
    uint64_t out = 0;
    for (auto _ : state) {
        kqapp::PageFormat format;
        format.width = kWidth;
        format.height = rows;
        format.maxRows = rows;
        format.dither = dither;
        kqapp::PageConverter page(format, [&](const uint8_t*, size_t n) {
            out += n;
            return true;
        });
        for (int y = 0; y < rows; ++y) {
            page.Line(lines.data() + size_t(y % 960) * kWidth);
        }
        page.Finish();
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["ns_per_row"] = benchmark::Counter(double(state.iterations()) * rows,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Convert)
    ->ArgNames({"dither", "rows"})
    ->ArgsProduct({{int(kqapp::Dither::Threshold), int(kqapp::Dither::ByContent), int(kqapp::Dither::Diffusion)},
                   {100, 1000, 10000, 100000}})
    ->Unit(benchmark::kMicrosecond);

// ---- a server and a printer of the benchmark's own ------------------------------------------------------

std::string ProgramDir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    return n > 0 ? std::filesystem::path(std::string(buf, size_t(n))).parent_path().string() : ".";
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// A network printer on a port of its own: it takes every byte it is sent, answers each DLE EOT n (n 1 to
// 4, wherever it stands, as the KQT-50 finds it) with "all is well", and says when a connection that
// brought a job has ended. An answer too many would tell the application its job was taken before it was.
class Printer {
  public:
    Printer() : port_(FreePort()) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port_));
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        listen(listener_, 8);
        thread_ = std::thread([this] { Serve(); });
    }
    ~Printer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    int port() const { return port_; }
    // Waits for a connection that brought at least `min` bytes to end; its bytes, or 0 after `wait`.
    uint64_t WaitForJob(uint64_t min, std::chrono::seconds wait) {
        const auto until = Clock::now() + wait;
        while (Clock::now() < until) {
            {
                std::lock_guard lock(mutex_);
                for (size_t i = 0; i < ended_.size(); ++i) {
                    if (ended_[i] >= min) {
                        const uint64_t n = ended_[i];
                        ended_.clear();
                        return n;
                    }
                }
            }
            std::this_thread::sleep_for(1ms);
        }
        return 0;
    }

  private:
    void Serve() {
        struct Conn {
            int fd;
            uint64_t bytes = 0;
            int held = 0; // of a real-time request begun: 1 after DLE, 2 after DLE EOT, 3 after DLE ENQ
        };
        std::vector<Conn> conns;
        while (!stop_) {
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            for (const Conn& c : conns) {
                fds.push_back({c.fd, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), 20) <= 0) {
                continue;
            }
            if (fds[0].revents & POLLIN) {
                const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                const int one = 1; // a printer answers at once, as the virtual KQT-50 does
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
                conns.push_back({fd});
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                    continue;
                }
                Conn& c = conns[i - 1];
                uint8_t buf[1 << 16];
                const ssize_t n = recv(c.fd, buf, sizeof(buf), 0);
                if (n <= 0) {
                    std::lock_guard lock(mutex_);
                    ended_.push_back(c.bytes);
                    close(c.fd);
                    c.fd = -1;
                    continue;
                }
                c.bytes += uint64_t(n);
                for (ssize_t k = 0; k < n; ++k) {
                    const uint8_t b = buf[k];
                    if (c.held >= 2) { // the request's last byte: DLE EOT 1 to 4 is answered
                        if (c.held == 2 && b >= 1 && b <= 4) {
                            const uint8_t ready = 0x12; // on line, no cause to stop, paper present
                            send(c.fd, &ready, 1, MSG_NOSIGNAL);
                        }
                        c.held = 0;
                    } else if (c.held == 1 && (b == 0x04 || b == 0x05)) {
                        c.held = b == 0x04 ? 2 : 3;
                    } else {
                        c.held = b == 0x10 ? 1 : 0;
                    }
                }
            }
            std::erase_if(conns, [](const Conn& c) { return c.fd < 0; });
        }
        for (const Conn& c : conns) {
            close(c.fd);
        }
    }

    int port_;
    int listener_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<uint64_t> ended_;
};

int64_t StatusKilobytes(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') {
            return std::atoll(line.c_str() + n + 1);
        }
    }
    return -1;
}

// Processor time a process has used so far, all its threads, in ms.
double ProcessorMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')'); // the name may hold spaces
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) { // state .. cmajflt
        fields >> skip;
    }
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    return double(user + system) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// A printer application's server of its own, in a scratch folder, with one printer on `device`.
class Server {
  public:
    Server(const std::string& app, const std::string& driver, const std::string& device) : app_(app) {
        dir_ = std::filesystem::temp_directory_path() / ("kqapp-bench-" + app + "-XXXXXX");
        std::string t = dir_.string();
        dir_ = mkdtemp(t.data());
        port_ = FreePort();
        const std::string program = app == "kqapp" ? ProgramDir() + "/kqapp" : "/usr/bin/lprint";
        pid_ = fork();
        if (pid_ == 0) {
            setenv("HOME", dir_.c_str(), 1);
            setenv("TMPDIR", dir_.c_str(), 1);
            const std::string portOption = "server-port=" + std::to_string(port_);
            const std::string spool = "spool-directory=" + (dir_ / "spool").string();
            const std::string log = "log-file=" + (dir_ / "log").string();
            const std::string state = "state-file=" + (dir_ / "state").string();
            std::vector<const char*> argv{program.c_str(), "server", "-o", portOption.c_str(), "-o", spool.c_str(),
                                          "-o", log.c_str(), "-o", "log-level=error"};
            if (app == "kqapp") {
                argv.insert(argv.end(), {"-o", state.c_str(), "-o", "status-interval=3600"});
            }
            argv.push_back(nullptr);
            execv(program.c_str(), const_cast<char**>(argv.data()));
            _exit(127);
        }
        for (int i = 0; i < 100 && !Ready(); ++i) {
            std::this_thread::sleep_for(50ms);
        }
        const std::string add = "HOME=" + dir_.string() + " TMPDIR=" + dir_.string() + " " + program +
                                " add -u ipp://localhost:" + std::to_string(port_) + " -d p -m " + driver + " -v " +
                                device;
        ok_ = std::system(add.c_str()) == 0;
        std::this_thread::sleep_for(1200ms); // a printer of this very second is not yet up
    }
    ~Server() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    bool ok() const { return ok_; }
    pid_t pid() const { return pid_; }
    // The paper's width and its longest page, in hundredths of a millimetre: an 80 mm roll up to 3 m for
    // kqapp, LPrint's 4-inch labels up to its longest roll (39.6 in).
    int paperWidth() const { return app_ == "kqapp" ? 8000 : 10160; }
    int maxLength() const { return app_ == "kqapp" ? 300000 : 100584; }
    std::string uri() const { return "ipp://localhost:" + std::to_string(port_) + "/ipp/print/p"; }
    int port() const { return port_; }

  private:
    bool Ready() const {
        http_t* http = httpConnect2("localhost", port_, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 0, 200, nullptr);
        if (http) {
            httpClose(http);
        }
        return http != nullptr;
    }

    std::string app_;
    std::filesystem::path dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    bool ok_ = false;
};

// A PWG raster receipt of `rows` rows, 576 dots wide, as a client sends it.
const std::string& RasterFile(int rows) {
    static std::string path;
    static int made = 0;
    if (made != rows) {
        path = (std::filesystem::temp_directory_path() / ("kqapp-bench-" + std::to_string(rows) + ".pwg")).string();
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
        cups_page_header2_t h{};
        std::snprintf(h.MediaClass, sizeof(h.MediaClass), "PwgRaster");
        h.HWResolution[0] = h.HWResolution[1] = 203;
        h.cupsWidth = kWidth;
        h.cupsHeight = unsigned(rows);
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = 8;
        h.cupsBytesPerLine = kWidth;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = CUPS_CSPACE_SW;
        h.cupsNumColors = 1;
        h.PageSize[0] = kWidth * 72 / 203;
        h.PageSize[1] = unsigned(rows * 72 / 203);
        h.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = 1;
        cupsRasterWriteHeader2(ras, &h);
        std::vector<uint8_t> row(kWidth);
        for (int y = 0; y < rows; ++y) {
            ReceiptRow(y, row.data());
            cupsRasterWritePixels(ras, row.data(), kWidth);
        }
        cupsRasterClose(ras);
        close(fd);
        made = rows;
    }
    return path;
}

// Print-Job of the raster file; true when the server took it.
bool PrintJob(const Server& server, const std::string& file, int rows) {
    http_t* http = httpConnect2("localhost", server.port(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
    if (!http) {
        return false;
    }
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server.uri().c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "bench");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/pwg-raster");
    // paper as long as the receipt (up to what the printer takes), so that both applications print all of it
    ipp_t* size = ippNew();
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", server.paperWidth());
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", std::min(rows * 2540 / 203 + 1, server.maxLength()));
    ipp_t* media = ippNew();
    ippAddCollection(media, IPP_TAG_ZERO, "media-size", size);
    ippAddCollection(request, IPP_TAG_JOB, "media-col", media);
    ippDelete(size);
    ippDelete(media);
    ipp_t* response = cupsDoFileRequest(http, request, "/ipp/print/p", file.c_str());
    const bool ok = response && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
    ippDelete(response);
    httpClose(http);
    return ok;
}

void BM_PrintJob(benchmark::State& state, const char* app, const char* driver) {
    const int rows = int(state.range(0));
    const std::string& file = RasterFile(rows);
    Printer printer;
    Server server(app, driver, "socket://127.0.0.1:" + std::to_string(printer.port()));
    if (!server.ok()) {
        state.SkipWithError("the server or its printer could not be set up");
        return;
    }
    uint64_t bytes = 0;
    int64_t extra = 0;
    // one job first, unmeasured: the server's first job loads its libraries
    PrintJob(server, file, rows);
    printer.WaitForJob(1, 60s);
    const int64_t idle = StatusKilobytes(server.pid(), "VmRSS");
    const double cpuBefore = ProcessorMs(server.pid());
    for (auto _ : state) {
        std::ofstream(("/proc/" + std::to_string(server.pid()) + "/clear_refs")) << "5"; // the peak from here
        const auto start = Clock::now();
        if (!PrintJob(server, file, rows)) {
            state.SkipWithError("the job was refused");
            break;
        }
        bytes = printer.WaitForJob(1, 120s);
        const auto took = Clock::now() - start;
        if (bytes == 0) {
            state.SkipWithError("nothing reached the device");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        extra = std::max(extra, StatusKilobytes(server.pid(), "VmHWM") - idle);
    }
    state.counters["server_cpu_ms"] = (ProcessorMs(server.pid()) - cpuBefore) / double(state.iterations());
    state.counters["device_bytes"] = double(bytes);
    state.counters["server_extra_MiB"] = double(extra) / 1024.0;
    state.counters["rows"] = rows;
}
BENCHMARK_CAPTURE(BM_PrintJob, kqapp, "kqapp", "kqt50_80mm")
    ->ArgName("rows")
    ->Arg(8000)
    ->Arg(20000)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrintJob, lprint, "lprint", "zpl_4inch-203dpi-dt")
    ->ArgName("rows")
    ->Arg(8000)
    ->Arg(20000)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
