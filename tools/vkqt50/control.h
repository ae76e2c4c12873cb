// The virtual printer's control commands: one line each, from the control socket, and what signals do.
#pragma once

#include "printer.h"

#include <string>
#include <string_view>

namespace vkqt50 {

// The commands and their replies, for --help and the README.
extern const char kControlHelp[];

struct ControlResult {
    std::string reply; // one line without its newline: "ok ..." or "error ..."
    bool quit = false;
};

// Carries out one command line on `printer`. `extra` is added to the reply of "stats" (the line's own
// counts).
ControlResult Execute(Printer& printer, std::string_view line, const std::string& extra = {});

} // namespace vkqt50
