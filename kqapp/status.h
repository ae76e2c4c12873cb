// What the KQT-50 says of itself: the answers to its real-time status requests (DLE EOT n) and its
// automatic status back (GS a), read from the bytes it sends, and what they mean in IPP's terms.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kqapp {

// The printer's state as its latest reports tell it.
struct PrinterStatus {
    bool offline = false;
    bool coverOpen = false;
    bool paperOut = false;     // the roll is at its end, or printing stopped for it
    bool paperLow = false;     // the near-end sensor sees little paper left
    bool cutterError = false;
    bool otherError = false;   // a mechanical, unrecoverable or automatically recoverable error

    // The printer cannot go on printing until someone sees to it.
    bool Stopped() const { return offline || coverOpen || paperOut || cutterError || otherError; }
    bool operator==(const PrinterStatus&) const = default;
};

// DLE EOT 1, 2, 3 and 4: printer, off-line cause, error cause and paper sensors, one answer byte each.
const std::vector<uint8_t>& StatusRequest();
// GS a with the on-line state, the errors and the paper sensors: the printer sends four bytes of status
// at once and whenever one of them changes. GS a 0 turns it off again.
const std::vector<uint8_t>& AutoStatusOn();
const std::vector<uint8_t>& AutoStatusOff();

// Reads the bytes the printer sends. An answer to DLE EOT has the fixed bits 0xx1xx10 and belongs to the
// oldest request not yet answered; automatic status back starts with 0xx1xx00 and runs four bytes, whose
// last three have bit 4 clear, so the two never mix. Bytes that fit neither are skipped.
class StatusReader {
  public:
    // A StatusRequest went out: four answers are due, in its order.
    void Asked();
    // Bytes went out to the printer: each real-time status request among them (DLE EOT 1 to 4, wherever
    // it stands, as the printer finds it, a job's own too) has an answer due, in their order.
    void Sent(const uint8_t* bytes, size_t count);
    // Forgets answers still due (a request the printer never answered).
    void ForgetAsked() { due_.clear(); }
    // Takes what the printer sent; true when its status changed.
    bool Feed(const uint8_t* bytes, size_t count);
    // Takes the status the printer told another way (on a line of its own); true when it changed.
    bool Adopt(const PrinterStatus& status);

    const PrinterStatus& status() const { return status_; }
    // Every request asked so far has its answer.
    bool Answered() const { return due_.empty(); }
    // The printer has said anything at all (an answer or automatic status back).
    bool Heard() const { return heard_; }

  private:
    void Answer(int request, uint8_t value);
    void AutoStatus();

    PrinterStatus status_;
    std::deque<int> due_;
    int sentHeld_ = 0; // of a request that Sent saw begin: 1 after DLE, 2 after DLE EOT, 3 after DLE ENQ
    uint8_t asb_[4] = {};
    int asbHave_ = 0;
    bool heard_ = false;
};

// The printer-state-reasons of a status; `answered` false: the printer did not answer at all.
pappl_preason_t ReasonsOf(const PrinterStatus& status, bool answered);
// The reasons the status reports set or clear (the rest belong to others).
inline constexpr pappl_preason_t kStatusReasons =
    PAPPL_PREASON_OFFLINE | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW |
    PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_OTHER;
// The paper roll's level for printer-supply: 0 out, 10 near its end, 100 otherwise.
int PaperLevel(const PrinterStatus& status);
// Why the printer stopped, for a job's message ("paper out: load paper to go on"); empty when it did not.
std::string StoppedBecause(const PrinterStatus& status);

} // namespace kqapp
