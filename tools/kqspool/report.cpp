#include "report.h"

#include "setup.h"

#include "escpos.h"
#include "kqmon.h"

#include <algorithm>
#include <cstdio>

namespace kqspool {
namespace {

// "copy 1 of 1", "copies 2 to 3 of 3"
std::string Copies(size_t first, size_t last, size_t of) {
    return first == last ? "copy " + std::to_string(first + 1) + " of " + std::to_string(of)
                         : "copies " + std::to_string(first + 1) + " to " + std::to_string(last + 1) +
                               " of " + std::to_string(of);
}

} // namespace

std::optional<PageSize> PageImage(const BYTE* bytes, DWORD count) {
    if (count == 0) {
        return std::nullopt;
    }
    const escpos::View write(bytes, count);
    const escpos::Item item = escpos::Next(write, 0);
    if (item.size != count) {
        return std::nullopt;
    }
    const std::optional<escpos::Bitmap> image = escpos::ReadRaster(write, item);
    if (!image) {
        return std::nullopt;
    }
    return PageSize{uint64_t{8} * image->width, image->rows};
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
            std::fprintf(stderr, "kqspool: warning: %s, %s: %s\n", JobName(file).c_str(),
                         Copies(i, j, r.passesWanted).c_str(), StopSentence(stop, r.bytesIn).c_str());
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
    if (r.state == JobState::Unreadable || r.state == JobState::Failed || r.state == JobState::TimedOut ||
        r.state == JobState::Skipped) {
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

void ReportSummary(const Options& opt, const std::vector<JobResult>& results, const std::string& target,
                   const std::string& root) {
    JobResult totals;
    bool viaMonitor = false;
    std::string entry;
    size_t printed = 0;
    size_t partly = 0;
    for (const JobResult& r : results) {
        printed += r.state == JobState::Printed || r.state == JobState::Partial || r.state == JobState::Empty;
        partly += r.state == JobState::Partial;
        viaMonitor = viaMonitor || r.viaMonitor;
        entry = r.viaMonitor ? r.monitorEntry : entry;
        totals.bytesIn += r.bytesIn;
        totals.writes += r.writes;
        totals.bytesOut += r.bytesOut;
        totals.bandsIn += r.bandsIn;
        totals.images.insert(totals.images.end(), r.images.begin(), r.images.end());
    }
    const std::string part = partly ? " (" + std::to_string(partly) + " in part)" : "";
    const std::string throughMonitor =
        std::string(" through ") + kMonitorName + " via " + entry + " (capture " + kqmon::kCapturePath + ")";
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
}

int Status(const std::vector<JobResult>& results, bool interrupted) {
    auto any = [&](JobState s) {
        return std::any_of(results.begin(), results.end(), [s](const JobResult& r) { return r.state == s; });
    };
    if (interrupted) {
        return kInterrupted;
    }
    if (any(JobState::TimedOut)) {
        return kTimedOut;
    }
    if (any(JobState::Failed)) {
        return kFailed;
    }
    if (any(JobState::Unreadable)) {
        return kUnreadable;
    }
    return any(JobState::Partial) ? kPartial : kAllPrinted;
}

} // namespace kqspool
