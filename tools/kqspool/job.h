// One job through the spooler: read from its file, spooled as an application spools a RAW job, and what
// the spooler and the print processor made of it.
#pragma once

#include "stops.h"

#include <optional>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kqspool {

enum class JobState { Printed, Partial, Failed, TimedOut, Unreadable, Empty, Skipped };

// A page image's width and height in dots.
using PageSize = std::pair<uint64_t, uint64_t>;

struct JobResult {
    JobState state = JobState::Failed;
    uint64_t bytesIn = 0;
    uint64_t writes = 0;
    uint64_t bytesOut = 0;
    uint64_t bandsIn = 0;
    std::vector<PassStop> passes;
    unsigned passesWanted = 0;
    std::vector<PageSize> images; // page images the print processor wrote
    std::string error;            // why it was not printed
    bool viaMonitor = false;      // the output went through a language monitor
    std::string monitorEntry;     // the monitor's initialisation that the spooler called
};

// "standard input" for "-", the file name otherwise.
std::string JobName(const std::string& file);

// Prints the job file `file` (or standard input for "-") in `copies` copies; an error that ends it is
// written to standard error. `images` is where the write observer puts the page images it sees: emptied
// before the print processor runs, the job's once it is done. `gaveUp` says, once the job has run, after
// how many seconds without data kqspool gave up on the printer, if it did.
JobResult PrintJob(const std::string& file, unsigned copies, std::vector<PageSize>* images,
                   const std::function<std::optional<unsigned>()>& gaveUp = {});

} // namespace kqspool
