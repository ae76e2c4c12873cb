// The bytes that Unidrv sends for a page of raster rows, worked out from a GPD file as Microsoft's GPD
// reference describes its entries: command strings with their argument types, ranges and max_repeat;
// DestYRel in master units; blank rows skipped with CmdYMoveRelDown; blocks of one row, or of as many rows
// as *MaxMultipleRowBytes holds when *SendMultipleRows? is TRUE; the cursor left at the block's top or
// moved below it (*CursorYAfterSendBlockData); the *Order'ed commands at job, document and page bounds.
// Not modelled: fonts, x moves, compression, blank stripping (rows are as wide as the page), and the page
// eject (the GPD names no form feed).
#pragma once

#include "escpos.h"

#include <map>
#include <string>
#include <vector>

namespace e2e::unidrv {

using escpos::Bytes;

struct Command {
    std::string cmd;      // what follows "*Cmd:"
    std::string section;  // of "*Order:", "" when it has none
    int order = 0;
};

struct Gpd {
    std::map<std::string, std::string> attributes; // "MasterUnits" -> "PAIR(36540, 36540)", first seen
    std::multimap<std::string, Command> commands;  // by name; CmdSelect once per option
    std::string error;                             // what could not be read

    static Gpd Parse(const std::string& text);
    // A number, or the first (0) or second (1) of a PAIR; `otherwise` when absent.
    long Number(const std::string& name, int index = 0, long otherwise = 0) const;
    bool Flag(const std::string& name) const { return attributes.count(name) && attributes.at(name) == "TRUE"; }
};

// One command with the standard variables of `values`: repeated as max_repeat asks, each argument clamped to
// its range. `sent` gets the sum of the arguments that went out (a move's length in move units).
Bytes Expand(const Command& command, const std::map<std::string, long>& values, long* sent = nullptr,
             std::string* error = nullptr);

// A page: rows from the top of the printable area, each as many bytes as the page is wide.
using Page = std::vector<Bytes>;

struct Job {
    Bytes bytes;
    std::string error;
};
Job Print(const Gpd& gpd, const std::vector<Page>& pages);

} // namespace e2e::unidrv
