#include "run.h"

#include "job.h"
#include "machine.h"
#include "outputs.h"
#include "report.h"
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
    for (const std::string& job : opt.jobs) {
        if (interrupt.interrupted()) {
            std::fprintf(stderr, "kqspool: %s: not printed: cancelled\n", JobName(job).c_str());
            JobResult& skipped = out.results.emplace_back();
            skipped.state = JobState::Skipped;
            skipped.error = "cancelled";
            continue;
        }
        out.results.push_back(PrintJob(job, opt.copies, &images));
        WarnStops(job, out.results.back());
        if (opt.check) {
            ReportCheck(job, out.results.back());
        }
    }
    trace.Close();
    out.interrupted = interrupt.interrupted();
    return out;
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
