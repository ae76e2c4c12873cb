#include "run.h"

#include "job.h"
#include "machine.h"
#include "outputs.h"
#include "port.h"
#include "report.h"
#include "setup.h"
#include "signals.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kqspool {
namespace {

struct Printed {
    std::vector<JobResult> results;
    std::vector<BYTE> received; // what the port took, for the preview
    bool interrupted = false;
};

// Prints the jobs one after the other, watching the print processor's writes for page images, the port's
// bytes and the trace; after a Ctrl-C, the jobs not yet begun are skipped.
Printed PrintJobs(const Options& opt, WriteTrace& trace) {
    Printed out;
    std::vector<PageSize> images;
    const WriteObserverScope observe([&](const BYTE* bytes, DWORD count, DWORD accepted) {
        if (const auto image = PageImage(bytes, count)) {
            images.push_back(*image);
        }
        if (opt.preview) {
            out.received.insert(out.received.end(), bytes, bytes + std::min(count, accepted));
        }
        trace.Write(bytes, count);
    });
    const InterruptWatch interrupt;
    StallWatch stalls(opt.timeout, [&interrupt] { return interrupt.interrupted(); });
    bool gaveUp = false;
    for (const std::string& job : opt.jobs) {
        if (interrupt.interrupted() || gaveUp) {
            const char* why = gaveUp ? "an earlier job gave up on the printer" : "cancelled";
            std::fprintf(stderr, "kqspool: %s: not printed: %s\n", JobName(job).c_str(), why);
            JobResult& skipped = out.results.emplace_back();
            skipped.state = JobState::Skipped;
            skipped.error = why;
            continue;
        }
        stalls.SetJob(JobName(job));
        out.results.push_back(PrintJob(job, opt.copies, &images, [&stalls]() -> std::optional<unsigned> {
            unsigned waited = 0;
            return stalls.TakeGaveUp(&waited) ? std::optional<unsigned>(waited) : std::nullopt;
        }));
        gaveUp = out.results.back().state == JobState::TimedOut;
        WarnStops(job, out.results.back());
        if (opt.check) {
            ReportCheck(job, out.results.back());
        }
    }
    trace.Close();
    out.interrupted = interrupt.interrupted();
    return out;
}

// `kqspool status`: the replies to DLE EOT 1 to 4 in words and in hex, and the exit status they make.
int AskTheStatus(const Options& opt, const RunMachine& machine) {
    const unsigned wait = opt.timeout.value_or(5);
    const StallWatch stalls(wait, nullptr);
    const StatusReplies replies = AskStatus(wait);
    if (!replies.portOpened) {
        return kFailed;
    }
    if (replies.answered < 4) {
        std::fprintf(stderr,
                     "kqspool: status: the printer on %s (%s) gave %d of 4 replies in %u s: is it on, "
                     "bidirectional, and set to the port's line settings?\n",
                     kPortName, machine.target().c_str(), replies.answered, wait);
        return kNoAnswer;
    }
    const escpos::Conditions c = escpos::ReadRealTimeStatus(replies.bytes);
    std::string words;
    for (const std::string& w : escpos::Describe(c)) {
        words += (words.empty() ? "" : ", ") + w;
    }
    std::printf("%s\nDLE EOT 1-4: %02x %02x %02x %02x\n", words.c_str(), replies.bytes[0], replies.bytes[1],
                replies.bytes[2], replies.bytes[3]);
    return StatusExit(c);
}

} // namespace

int Run(const Options& opt) {
    std::optional<PreviewFile> previewFile;
    if (opt.preview) {
        previewFile.emplace(*opt.preview);
        if (!previewFile->Opened()) {
            return kFailed;
        }
    }
    RunMachine machine;
    if (!machine.Prepare(opt)) {
        return kFailed;
    }
    if (opt.line && !StoreLineSettings(kPortName, *opt.line)) {
        return kFailed;
    }
    if (opt.status) {
        return AskTheStatus(opt, machine);
    }
    WriteTrace trace;
    if (opt.trace && !trace.Open(*opt.trace)) {
        return kFailed;
    }
    const Printed printed = PrintJobs(opt, trace);
    ReportSummary(opt, printed.results, machine.target(), machine.root());
    if (previewFile && !previewFile->Write(printed.received, opt.paperWidth, opt.dpi)) {
        return kFailed;
    }
    return Status(printed.results, printed.interrupted);
}

} // namespace kqspool
