#include "job.h"

#include "machine.h"
#include "setup.h"

#include "escpos.h"

#include <windows.h>
#include <winspool.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace kqspool {
namespace {

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

// The printer, opened for a job of `copies` copies; null when it cannot be opened.
HANDLE OpenPrinterForJob(unsigned copies) {
    const std::string name = kPrinterName;
    std::u16string printer(name.begin(), name.end());
    DEVMODEW devmode{};
    devmode.dmSize = sizeof(devmode);
    devmode.dmFields = DM_COPIES;
    devmode.dmCopies = static_cast<short>(copies);
    PRINTER_DEFAULTSW defaults{nullptr, &devmode, PRINTER_ACCESS_USE};
    HANDLE h = nullptr;
    return OpenPrinterW(printer.data(), &h, &defaults) ? h : nullptr;
}

// Spools `data` to the open printer `h` as a RAW document named after `file`, as an application does:
// start the document, write, end it (the print processor runs then), and closes `h`. False when a call
// failed; `jobId` is the job's.
bool SpoolRaw(HANDLE h, const std::vector<BYTE>& data, const std::string& file, std::vector<PageSize>* images,
              DWORD* jobId) {
    const std::string base = file == "-" ? "standard input" : file.substr(file.rfind('/') + 1);
    std::u16string docName(base.begin(), base.end());
    std::u16string datatype = u"RAW";
    DOC_INFO_1W doc{docName.data(), nullptr, datatype.data()};
    *jobId = StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&doc));
    bool ok = *jobId != 0;
    for (size_t at = 0; ok && at < data.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - at, 1u << 20));
        DWORD written = 0;
        ok = WritePrinter(h, const_cast<BYTE*>(data.data()) + at, chunk, &written) && written == chunk;
        at += chunk;
    }
    images->clear();
    ok = EndDocPrinter(h) && ok;
    ClosePrinter(h);
    return ok;
}

} // namespace

std::string JobName(const std::string& file) {
    return file == "-" ? "standard input" : file;
}


JobResult PrintJob(const std::string& file, unsigned copies, std::vector<PageSize>* images,
                   const std::function<std::optional<unsigned>()>& gaveUp) {
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
    const HANDLE h = OpenPrinterForJob(copies);
    if (!h) {
        r.error = "cannot open the printer, error " + std::to_string(GetLastError());
        std::fprintf(stderr, "kqspool: %s\n", r.error.c_str());
        return r;
    }
    DWORD jobId = 0;
    const bool ok = SpoolRaw(h, *data, file, images, &jobId);
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
    r.monitorEntry = outcome->monitorEntry;
    r.passesWanted = copies;
    for (const control::JobOutcome::PassRead& read : outcome->passReads) {
        r.passes.push_back(
            ExplainPass(*data, {read.position, read.reachedEnd, outcome->cancelled, outcome->portFailed}));
    }
    const bool printed =
        outcome->processorLoaded && outcome->opened && outcome->printed && !outcome->portFailed;
    if (const std::optional<unsigned> waited = gaveUp ? gaveUp() : std::nullopt) {
        r.state = JobState::TimedOut;
        r.error = "the printer took no data for " + std::to_string(*waited) + " s: gave up; " +
                  Thousands(r.bytesOut) + " of the " + Thousands(outcome->bytesOffered) +
                  " byte(s) the print processor wrote reached it";
        std::fprintf(stderr, "kqspool: %s: not printed: %s\n", JobName(file).c_str(), r.error.c_str());
        return r;
    }
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

} // namespace kqspool
