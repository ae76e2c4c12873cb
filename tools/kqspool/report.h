// What a run says: a warning where the print processor stopped a copy early, the report of `kqspool check`
// per job, the one-line summary, the exit status, and the page images it saw among the processor's writes.
#pragma once

#include "job.h"
#include "options.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kqspool {

// A write that is one whole GS v 0 raster image (the processor's merged page image): its size in dots.
std::optional<PageSize> PageImage(const BYTE* bytes, DWORD count);

// One warning on standard error per run of copies of `file` that stopped at the same place for the same
// reason.
void WarnStops(const std::string& file, const JobResult& r);
// The report of `kqspool check` for one job, on standard output.
void ReportCheck(const std::string& file, const JobResult& r);
// The one-line summary of the run on standard error: jobs, bytes in and out, where the port's bytes went
// (`target`), bands and page images, the machine (`root`).
void ReportSummary(const Options& opt, const std::vector<JobResult>& results, const std::string& target,
                   const std::string& root);
// The exit status for these results.
int Status(const std::vector<JobResult>& results, bool interrupted);

} // namespace kqspool
