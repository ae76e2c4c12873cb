// Shared by the fault sweeps: the realistic jobs, the choice of call numbers to break, and what a failed
// write of the print processor leaves of a copy pass.
#pragma once

#include "machine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kqhard {

using kqtest::Bytes;
using kqtest::FileBytes;
namespace control = kqwin::control;

struct SampleJob {
    std::string name; // file name without .prn
    Bytes bytes;
};

// samples/receipt.prn, samples/text.prn and the jobs of the npm encoders, in that order.
std::vector<SampleJob> RealisticJobs();
std::string SourceDir();

// The call numbers (1-based) to break among `count` calls: all of them up to `budget`, otherwise the first
// and last budget/4 and evenly spaced ones between.
std::vector<uint64_t> CallsToBreak(uint64_t count, size_t budget);

// One write of the print processor as the sweeps see it.
struct WriteSeen {
    Bytes bytes;
    DWORD accepted = 0;
    uint64_t readsBefore = 0; // ReadPrinter calls made before it
};

// Whether the processor goes on with its pass when this write of a whole pass fails: a page image and the
// cut of the end-of-document directive are the writes whose outcome is not looked at. (The last write of a
// pass is the third, and a pass has nothing left after it either way.) `pass` is an unfaulted pass of a job
// made of commands whose data cannot start like a page image (no ESC &, FS q or GS *).
bool OutcomeIgnored(const std::vector<WriteSeen>& pass, size_t index);

// Whether the job holds commands whose copied data could be taken for a page image by OutcomeIgnored.
bool HoldsCopiedImageData(const Bytes& job);

// The writes (offered bytes, count accepted) that a run should make when write `k` (0-based, counted over
// all passes) fails, or is shortened to `keep` bytes: the passes before its own whole, its own pass up to
// it (and on to its end when the outcome of that write is not looked at), the later passes whole.
struct ExpectedWrite {
    Bytes bytes;
    DWORD accepted = 0;
    bool operator==(const ExpectedWrite&) const = default;
};
std::vector<ExpectedWrite> AfterFailedWrite(const std::vector<WriteSeen>& pass, unsigned passes, size_t k,
                                            DWORD keep);
std::vector<ExpectedWrite> WholePasses(const std::vector<WriteSeen>& pass, unsigned passes);

std::string Describe(const std::vector<ExpectedWrite>& writes);

// Fails the current test when LeakSanitizer finds memory that nothing points to any more (AddressSanitizer
// builds; elsewhere it checks nothing and says so once).
void ExpectNoLeaks(const std::string& where);

} // namespace kqhard
