// kqspool and the printer at the other end of the port: the port's line settings, waiting while the printer
// takes no data, and asking the printer its status.
#pragma once

#include "line.h"
#include "options.h"
#include "status.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace kqspool {

// Stores `line` as the port's line settings (the port's default configuration, as the installer's serial
// settings store it); the local port monitor sets a terminal to them at each document. False, with a
// message on standard error, when the port has no serial configuration.
bool StoreLineSettings(const std::string& port, const vkqt50::LineSettings& line);

// While it lives, a port that takes no data makes kqspool say so every few seconds on standard error, and
// give up after `timeout` seconds (none: never) or once `interrupted` says so.
class StallWatch {
  public:
    StallWatch(std::optional<unsigned> timeout, std::function<bool()> interrupted);
    ~StallWatch();
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    // What the messages name: the job being printed now.
    void SetJob(const std::string& job);
    // It gave up on a port (since the last call), and the seconds it had waited then.
    bool TakeGaveUp(unsigned* seconds);

  private:
    bool Stalled(const std::string& port, DWORD ms);

    const std::optional<unsigned> timeout_;
    const std::function<bool()> interrupted_;
    std::string job_;
    unsigned said_ = 0; // the last message's seconds in this wait
    std::atomic<bool> gaveUp_{false};
    std::atomic<unsigned> gaveUpAfter_{0};
};

// The replies to DLE EOT 1 to 4, asked through the printer's port as a print goes (the language monitor
// and the port monitor, whose ReadPort carries the replies); none, with a message on standard error, when
// the port cannot be opened or the printer does not answer all four within `wait` seconds.
struct StatusReplies {
    std::array<uint8_t, 4> bytes{};
    int answered = 0;
    bool portOpened = false;
};
StatusReplies AskStatus(unsigned wait);

// The exit status of `kqspool status` for what the printer said.
int StatusExit(const escpos::Conditions& c);

} // namespace kqspool
