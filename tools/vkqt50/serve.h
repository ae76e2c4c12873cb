// The virtual printer at work: its line (a pseudo-terminal or a TCP port), its control socket, signals,
// the event log and the receipts' pictures, in one loop.
#pragma once

#include "line.h"
#include "printer.h"

#include <cstdint>
#include <string>

namespace vkqt50 {

struct ServeOptions {
    bool tcp = false;
    std::string host = "127.0.0.1";
    uint16_t port = 9100;
    LineSettings line; // the pseudo-terminal's
    PrinterConfig printer;
    std::string pictures = "."; // receipt-0001.png, ... go here
    std::string log;            // the event log; standard error when empty
    std::string control;        // the control socket's path; none when empty
    std::string link;           // a symbolic link to the pseudo-terminal; none when empty
};

// Runs the printer until it is told to quit; the exit status. The line to give a sender (the
// pseudo-terminal's path, or socket://HOST:PORT) goes to standard output as one line once it is ready.
int Serve(const ServeOptions& options);

} // namespace vkqt50
