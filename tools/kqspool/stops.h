// Where a copy pass of the print processor stopped reading a job, and why, in the escpos decoder's terms.
#pragma once

#include "escpos.h"

#include <cstdint>
#include <string>

namespace kqspool {

// What the spooler saw of one copy pass.
struct PassRead {
    uint64_t position = 0;   // bytes of the job read when the pass closed it
    bool reachedEnd = false; // a read asked for more than was left
    bool cancelled = false;  // a cancel was sent to the print processor
    bool portFailed = false; // the port refused a write or took part of one
};

struct PassStop {
    bool whole = true;    // the printer got every byte of the job
    uint64_t offset = 0;  // where the part the printer never got begins
    uint64_t notSent = 0; // bytes from there to the end of the job
    std::string reason;   // "FS . (cancel Kanji character mode) is not a KQT-50 command", "cancelled", ...
};

PassStop ExplainPass(escpos::View job, const PassRead& pass);

// What kqspool and the printer application say of a pass that stopped early, for a job of `jobBytes`
// bytes: "stopped at byte 2 of 20,080: FS . (cancel Kanji character mode) is not a KQT-50 command; the
// printer never got 20,078 byte(s)".
std::string StopSentence(const PassStop& stop, uint64_t jobBytes);

// 43304 -> "43,304"
using escpos::Thousands;

} // namespace kqspool
