#include "printer.h"

#include "hex.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace vkqt50 {
namespace {

constexpr uint8_t DLE = 0x10, EOT = 0x04, ENQ = 0x05;
// The print engine takes the buffer in pieces this long, so that the paper runs out close to where the
// roll ends.
constexpr size_t kPiece = 64;

std::string Join(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) {
        out += (out.empty() ? "" : ", ") + w;
    }
    return out;
}

std::string Millimetres(double mm) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f mm", mm);
    return text;
}

bool HasInk(const preview::Picture& p) {
    return std::any_of(p.dots.begin(), p.dots.end(), [](uint8_t d) { return d != preview::kPaper; });
}

} // namespace

Printer::Printer(const preview::Fonts& fonts, const PrinterConfig& config, Events& events)
    : config_([&] {
          PrinterConfig c = config;
          c.bufferSize = std::max<size_t>(c.bufferSize, 32);
          return c;
      }()),
      events_(events), renderer_(std::make_unique<preview::Renderer>(
                           fonts, config.picture, preview::Renderer::Pictures::OnePerReceipt)),
      rollMm_(config.paperMm) {
    renderer_->OnCommand(
        [this](const escpos::Item& item, std::span<const uint8_t> command) { Command(item, command); });
}

Printer::~Printer() = default;

double Printer::RowsPerMm() const {
    return config_.picture.dpi / 25.4;
}

double Printer::PaperUsedMm() const {
    return static_cast<double>(renderer_->FedRows() - rowsAtLoad_) / RowsPerMm();
}

void Printer::Receive(std::span<const uint8_t> bytes) {
    stats_.received += bytes.size();
    uint64_t lost = 0;
    for (const uint8_t b : bytes) {
        bool keep = true;
        // a real-time request is carried out as it arrives, wherever it stands, even in another command's
        // data
        if (realTimeHeld_ == 2) {
            realTimeHeld_ = 0;
            keep = !RealTime(realTimeCode_, b); // a request that cleared the buffer goes with it
        } else if (realTimeHeld_ == 1 && (b == EOT || b == ENQ)) {
            realTimeCode_ = b;
            realTimeHeld_ = 2;
        } else {
            realTimeHeld_ = b == DLE ? 1 : 0;
        }
        if (!keep) {
            ++stats_.discarded;
            continue;
        }
        if (buffer_.size() < config_.bufferSize) {
            buffer_.push_back(b);
        } else {
            ++lost;
        }
    }
    if (lost > 0) {
        stats_.lost += lost;
        events_.Note("receive buffer full: " + escpos::Thousands(lost) + " byte(s) lost (" +
                     escpos::Thousands(stats_.lost) + " in all)");
    }
    UpdateBusy();
}

size_t Printer::AnswerLeadingRequests(std::span<const uint8_t> bytes) {
    size_t at = 0;
    while (at + 3 <= bytes.size() && bytes[at] == DLE && (bytes[at + 1] == EOT || bytes[at + 1] == ENQ)) {
        RealTime(bytes[at + 1], bytes[at + 2]);
        at += 3;
    }
    UpdateBusy();
    return at;
}

bool Printer::RealTime(uint8_t code, uint8_t n) {
    if (code == EOT) {
        if (n < escpos::kFirstRealTimeStatus || n > escpos::kLastRealTimeStatus) {
            return false; // not a request it has
        }
        const uint8_t reply = escpos::RealTimeStatus(n, conditions_);
        replies_.push_back(reply);
        ++stats_.requests;
        events_.Note("status: DLE EOT " + std::to_string(n) + " answered " + kqkit::HexByte(reply));
        return false;
    }
    const bool waiting = conditions_.recoverableError || conditions_.cutterError;
    if ((n != 1 && n != 2) || !waiting) {
        return false; // DLE ENQ acts only on an error that waits for it
    }
    const escpos::Conditions before = conditions_;
    conditions_.recoverableError = conditions_.cutterError = false;
    if (n == 2) {
        stats_.discarded += buffer_.size();
        events_.Note("DLE ENQ 2: receive buffer cleared, " + escpos::Thousands(buffer_.size()) +
                     " byte(s) discarded");
        buffer_.clear();
    }
    Changed(before, "DLE ENQ " + std::to_string(n) + ": recovered from the error");
    return n == 2;
}

void Printer::UpdateBusy() {
    const size_t holdAt = std::min<size_t>(128, config_.bufferSize / 4);
    const size_t releaseAt = std::min<size_t>(512, config_.bufferSize / 2);
    const bool xon = config_.flow == Flow::XonXoff;
    if (!busy_ && Room() <= holdAt) {
        busy_ = true;
        if (xon) {
            replies_.push_back(kXoff);
        }
        events_.Note("busy: " + escpos::Thousands(buffer_.size()) + " byte(s) in the receive buffer" +
                     (xon ? ", XOFF sent" : ""));
    } else if (busy_ && Room() >= releaseAt) {
        busy_ = false;
        if (xon) {
            replies_.push_back(kXon);
        }
        events_.Note("ready for data: " + escpos::Thousands(buffer_.size()) +
                     " byte(s) in the receive buffer" + (xon ? ", XON sent" : ""));
    }
}

void Printer::Print() {
    uint8_t piece[kPiece];
    while (!conditions_.Offline() && !buffer_.empty()) {
        const size_t n = std::min(kPiece, buffer_.size());
        std::copy_n(buffer_.begin(), n, piece);
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(n));
        stats_.printed += n;
        HandOut(renderer_->Write(std::span<const uint8_t>(piece, n)));
        CheckPaper();
    }
    UpdateBusy();
}

void Printer::CheckPaper() {
    if (rollMm_ <= 0 || conditions_.paperOut) {
        return;
    }
    const double used = PaperUsedMm();
    if (used >= rollMm_) {
        const escpos::Conditions before = conditions_;
        conditions_.paperOut = true;
        Changed(before, "paper out after " + Millimetres(used) + " of paper");
    } else if (!conditions_.paperNearEnd && config_.nearEndMm > 0 && rollMm_ - used <= config_.nearEndMm) {
        const escpos::Conditions before = conditions_;
        conditions_.paperNearEnd = true;
        Changed(before, "paper near end, " + Millimetres(rollMm_ - used) + " left");
    }
}

void Printer::Command(const escpos::Item& item, std::span<const uint8_t> c) {
    const std::string& name = item.name;
    if (name == "ESC p") {
        const escpos::Conditions before = conditions_;
        conditions_.drawerHigh = true; // the drawer springs open, and its switch says so until it is shut
        Changed(before, "drawer kick on pin " + std::string((c[2] & 1) ? "5" : "2") + ", " +
                            std::to_string(c[3] * 2) + " ms on, " + std::to_string(c[4] * 2) + " ms off");
    } else if (name == "GS r") {
        if (const auto reply = escpos::TransmittedStatus(c[2], conditions_)) {
            replies_.push_back(*reply);
            ++stats_.requests;
            events_.Note("status: GS r " + std::to_string(c[2]) + " answered " + kqkit::HexByte(*reply));
        }
    } else if (name == "GS I" || name == "GS a") {
        events_.Note(escpos::Named(name) + ": not answered by the virtual printer");
    }
}

void Printer::HandOut(std::vector<preview::Preview> receipts) {
    for (const preview::Preview& r : receipts) {
        events_.Receipt(++stats_.receipts, r);
    }
}

void Printer::Finish() {
    const preview::Preview last = renderer_->Finish();
    if (HasInk(last.picture)) {
        events_.Receipt(++stats_.receipts, last);
    }
}

std::vector<uint8_t> Printer::TakeReplies() {
    return std::exchange(replies_, {});
}

void Printer::Changed(const escpos::Conditions& before, const std::string& why) {
    events_.Note(why + (before == conditions_ ? " (no change): " : ": ") +
                 Join(escpos::Describe(conditions_)));
}

void Printer::LoadPaper(std::optional<double> mm) {
    const escpos::Conditions before = conditions_;
    conditions_.paperOut = conditions_.paperNearEnd = false;
    rowsAtLoad_ = renderer_->FedRows();
    rollMm_ = std::max(0.0, mm.value_or(config_.paperMm));
    Changed(before, rollMm_ > 0 ? "paper loaded, a roll of " + Millimetres(rollMm_)
                                : std::string("paper loaded, a roll without end"));
    CheckPaper();
}

void Printer::SetNearEnd(bool on) {
    const escpos::Conditions before = conditions_;
    conditions_.paperNearEnd = on;
    Changed(before, on ? "paper near end" : "paper near end cleared");
}

void Printer::RunOutOfPaper() {
    const escpos::Conditions before = conditions_;
    conditions_.paperOut = true;
    Changed(before, "paper out");
}

void Printer::SetCover(bool open) {
    const escpos::Conditions before = conditions_;
    conditions_.coverOpen = open;
    Changed(before, open ? "cover opened" : "cover closed");
}

void Printer::SetOffline(bool off) {
    const escpos::Conditions before = conditions_;
    conditions_.offlineSwitch = off;
    Changed(before, off ? "put off line" : "put on line");
}

void Printer::SetError(ErrorKind kind, bool on) {
    const escpos::Conditions before = conditions_;
    static const char* const kNames[] = {"recoverable error", "autocutter error", "unrecoverable error",
                                         "automatically recoverable error"};
    switch (kind) {
    case ErrorKind::Recoverable:
        conditions_.recoverableError = on;
        break;
    case ErrorKind::Cutter:
        conditions_.cutterError = on;
        break;
    case ErrorKind::Unrecoverable:
        conditions_.unrecoverableError = on;
        break;
    case ErrorKind::AutoRecoverable:
        conditions_.autoRecoverableError = on;
        break;
    }
    Changed(before, std::string(kNames[static_cast<int>(kind)]) + (on ? "" : " cleared"));
}

void Printer::ClearErrors() {
    const escpos::Conditions before = conditions_;
    conditions_.recoverableError = conditions_.cutterError = false;
    conditions_.unrecoverableError = conditions_.autoRecoverableError = false;
    Changed(before, "errors cleared");
}

void Printer::SetDrawer(bool high) {
    const escpos::Conditions before = conditions_;
    conditions_.drawerHigh = high;
    Changed(before, high ? "drawer opened" : "drawer shut");
}

} // namespace vkqt50
