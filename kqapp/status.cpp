#include "status.h"

namespace kqapp {
namespace {

constexpr uint8_t DLE = 0x10;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ENQ = 0x05;
constexpr uint8_t GS = 0x1D;

// GS a: bit 1 on-line state, bit 2 errors, bit 3 paper sensors (the drawer's pin is of no interest here).
constexpr uint8_t kAutoStatusItems = 0x0E;

bool Bit(uint8_t value, int bit) {
    return (value >> bit) & 1;
}

} // namespace

const std::vector<uint8_t>& StatusRequest() {
    static const std::vector<uint8_t> bytes{DLE, EOT, 1, DLE, EOT, 2, DLE, EOT, 3, DLE, EOT, 4};
    return bytes;
}

const std::vector<uint8_t>& AutoStatusOn() {
    static const std::vector<uint8_t> bytes{GS, 'a', kAutoStatusItems};
    return bytes;
}

const std::vector<uint8_t>& AutoStatusOff() {
    static const std::vector<uint8_t> bytes{GS, 'a', 0};
    return bytes;
}

void StatusReader::Asked() {
    for (int n = 1; n <= 4; ++n) {
        due_.push_back(n);
    }
}

void StatusReader::Sent(const uint8_t* bytes, size_t count) {
    // what a printer that never answers leaves due is not kept for ever
    constexpr size_t kMostDue = 256;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (sentHeld_ >= 2) {
            if (sentHeld_ == 2 && b >= 1 && b <= 4) {
                if (due_.size() >= kMostDue) {
                    due_.pop_front();
                }
                due_.push_back(b);
            }
            sentHeld_ = 0; // the request's last byte, whatever it is
        } else if (sentHeld_ == 1 && (b == EOT || b == ENQ)) {
            sentHeld_ = b == EOT ? 2 : 3;
        } else {
            sentHeld_ = b == DLE ? 1 : 0;
        }
    }
}

bool StatusReader::Feed(const uint8_t* bytes, size_t count) {
    const PrinterStatus before = status_;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (asbHave_ > 0 && (b & 0x90) == 0) { // bits 4 and 7 clear: the rest of automatic status back
            asb_[asbHave_++] = b;
            if (asbHave_ == 4) {
                AutoStatus();
                asbHave_ = 0;
            }
            continue;
        }
        asbHave_ = 0;
        if ((b & 0x93) == 0x12) { // 0xx1xx10: an answer to DLE EOT
            if (!due_.empty()) {
                const int request = due_.front();
                due_.pop_front();
                Answer(request, b);
            }
        } else if ((b & 0x93) == 0x10) { // 0xx1xx00: automatic status back begins
            asb_[0] = b;
            asbHave_ = 1;
        }
    }
    return !(status_ == before);
}

bool StatusReader::Adopt(const PrinterStatus& status) {
    heard_ = true;
    const bool changed = !(status == status_);
    status_ = status;
    return changed;
}

void StatusReader::Answer(int request, uint8_t value) {
    heard_ = true;
    switch (request) {
    case 1: // printer status
        status_.offline = Bit(value, 3);
        break;
    case 2: // off-line cause
        status_.coverOpen = Bit(value, 2);
        status_.paperOut = Bit(value, 5);
        status_.otherError = Bit(value, 6);
        break;
    case 3: // error cause
        status_.cutterError = Bit(value, 3);
        status_.otherError = status_.otherError || Bit(value, 2) || Bit(value, 5) || Bit(value, 6);
        break;
    case 4: // paper roll sensors: both bits of a pair are set together
        status_.paperLow = (value & 0x0C) == 0x0C;
        status_.paperOut = status_.paperOut || (value & 0x60) == 0x60;
        break;
    default:
        break;
    }
}

void StatusReader::AutoStatus() {
    heard_ = true;
    status_.offline = Bit(asb_[0], 3);
    status_.coverOpen = Bit(asb_[0], 5);
    status_.cutterError = Bit(asb_[1], 3);
    status_.otherError = Bit(asb_[1], 2) || Bit(asb_[1], 5) || Bit(asb_[1], 6);
    status_.paperLow = (asb_[2] & 0x03) == 0x03;
    status_.paperOut = (asb_[2] & 0x0C) == 0x0C;
}

pappl_preason_t ReasonsOf(const PrinterStatus& s, bool answered) {
    if (!answered) {
        return PAPPL_PREASON_OFFLINE;
    }
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    if (s.paperOut) {
        reasons |= PAPPL_PREASON_MEDIA_EMPTY;
    } else if (s.paperLow) {
        reasons |= PAPPL_PREASON_MEDIA_LOW;
    }
    if (s.coverOpen) {
        reasons |= PAPPL_PREASON_COVER_OPEN;
    }
    if (s.cutterError) {
        reasons |= PAPPL_PREASON_MEDIA_JAM; // the cutter stops on paper caught in it
    }
    if (s.otherError) {
        reasons |= PAPPL_PREASON_OTHER;
    }
    // A printer off line for a cause it names reports the cause; off line for none, itself.
    if (s.offline && reasons == PAPPL_PREASON_NONE) {
        reasons |= PAPPL_PREASON_OFFLINE;
    }
    return reasons;
}

int PaperLevel(const PrinterStatus& s) {
    return s.paperOut ? 0 : s.paperLow ? 10 : 100;
}

std::string StoppedBecause(const PrinterStatus& s) {
    if (s.paperOut) {
        return "paper out: load paper to go on";
    }
    if (s.coverOpen) {
        return "cover open: close it to go on";
    }
    if (s.cutterError) {
        return "the cutter failed: clear the paper at the cutter";
    }
    if (s.otherError) {
        return "printer error: see to the printer";
    }
    if (s.offline) {
        return "the printer is off line";
    }
    return {};
}

} // namespace kqapp
