// The virtual KQT-50's printer: what happens to the bytes that reach it, apart from how they reach it.
//
// The receive stage takes bytes as the line delivers them: it answers the real-time requests among them at
// once (DLE EOT n with a status byte, DLE ENQ n by recovering from an error), wherever they stand, and keeps
// the rest in the receive buffer; what finds the buffer full is lost. When the buffer is nearly full the
// printer is busy: it asks the sender to hold off (an XOFF byte with XON/XOFF flow control; its busy line
// with hardware flow control, which the line itself carries) and asks it to go on once the buffer has
// room again. The print engine prints from the buffer, as the KQT-50 reads its commands, while the printer
// is on line: paper in, cover shut, no error, not put off line; it draws each receipt with the preview and
// hands its picture out at the cut. The paper runs out after its length.
#pragma once

#include "line.h"

#include "escpos.h"
#include "preview.h"
#include "status.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vkqt50 {

inline constexpr uint8_t kXon = 0x11;
inline constexpr uint8_t kXoff = 0x13;

struct PrinterConfig {
    size_t bufferSize = 4096; // the receive buffer, in bytes (at least 32)
    Flow flow = Flow::None; // XON/XOFF: the printer sends XOFF and XON bytes when it is busy and ready again
    double paperMm = 0;     // the roll's length; 0: it runs out only when told
    double nearEndMm = 0;   // the near-end sensor sees the end coming this far ahead; 0: only when told
    preview::Options picture; // paper width and resolution of the pictures
};

struct Stats {
    uint64_t received = 0;  // bytes off the line
    uint64_t lost = 0;      // of them, not kept: the receive buffer was full
    uint64_t discarded = 0; // cleared by DLE ENQ 2, with the request
    uint64_t printed = 0;   // taken from the receive buffer by the print engine
    uint64_t requests = 0;  // status requests answered
    int receipts = 0;       // pictures handed out
};

// What the printer tells the world: lines for its event log, and each receipt's picture.
class Events {
  public:
    virtual void Note(std::string_view line) = 0;
    virtual void Receipt(int number, const preview::Preview& receipt) = 0;

  protected:
    ~Events() = default;
};

enum class ErrorKind { Recoverable, Cutter, Unrecoverable, AutoRecoverable };

class Printer {
  public:
    // `fonts` and `events` must outlive the printer.
    Printer(const preview::Fonts& fonts, const PrinterConfig& config, Events& events);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // The receive stage: the next bytes off the line.
    void Receive(std::span<const uint8_t> bytes);
    // Real-time requests that stand whole at the start of `bytes` (from a sender whose other data waits its
    // turn), answered; the bytes they took.
    size_t AnswerLeadingRequests(std::span<const uint8_t> bytes);
    // The print engine: prints from the receive buffer for as long as the printer is on line.
    void Print();
    // The end: the picture of what no cut ended, when it has anything on it.
    void Finish();

    // What the printer sends back, in order (status bytes, XON and XOFF), taken.
    std::vector<uint8_t> TakeReplies();
    // The receive buffer is nearly full: the sender should hold off.
    bool Busy() const { return busy_; }
    size_t Buffered() const { return buffer_.size(); }
    size_t Room() const { return config_.bufferSize - buffer_.size(); }

    // By hand (the control socket, signals). A roll of `mm` (0: without end), or as long as the config says.
    void LoadPaper(std::optional<double> mm = std::nullopt);
    void SetNearEnd(bool on);
    void RunOutOfPaper();
    void SetCover(bool open);
    void SetOffline(bool off);
    void SetError(ErrorKind kind, bool on);
    void ClearErrors();
    void SetDrawer(bool high);

    const escpos::Conditions& conditions() const { return conditions_; }
    const Stats& stats() const { return stats_; }
    // Paper used from the roll now in, in millimetres.
    double PaperUsedMm() const;

  private:
    // Carries out DLE `code` `n`; true when it cleared the receive buffer.
    bool RealTime(uint8_t code, uint8_t n);
    void UpdateBusy();
    void CheckPaper();
    void Command(const escpos::Item& item, std::span<const uint8_t> command);
    void HandOut(std::vector<preview::Preview> receipts);
    void Changed(const escpos::Conditions& before, const std::string& why);
    double RowsPerMm() const;

    const PrinterConfig config_;
    Events& events_;
    std::unique_ptr<preview::Renderer> renderer_;
    std::deque<uint8_t> buffer_;
    std::vector<uint8_t> replies_;
    int realTimeHeld_ = 0;     // bytes of a real-time request seen so far (DLE, then EOT or ENQ)
    uint8_t realTimeCode_ = 0; // its EOT or ENQ
    bool busy_ = false;
    escpos::Conditions conditions_;
    Stats stats_;
    int64_t rowsAtLoad_ = 0; // the renderer's rows when the roll now in was loaded
    double rollMm_ = 0;      // the length of the roll now in; 0: without end
};

} // namespace vkqt50
