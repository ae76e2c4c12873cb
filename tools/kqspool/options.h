// kqspool's command line: what a run is asked to do, and the exit statuses it ends with.
#pragma once

#include "line.h"

#include <optional>
#include <string>
#include <vector>

namespace kqspool {

// Exit statuses. When jobs end differently, the first of 5, 1, 4, 3 that applies is the status.
inline constexpr int kAllPrinted = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;
inline constexpr int kPartial = 3;
inline constexpr int kUnreadable = 4;
inline constexpr int kTimedOut = 5; // the printer took no data for --timeout seconds
inline constexpr int kInterrupted = 130;
// `kqspool status`: 0 ready, 1 the port cannot be opened, 2 usage error, and what the printer said (the
// highest that applies).
inline constexpr int kNoAnswer = 6;
inline constexpr int kStatusNearEnd = 7;
inline constexpr int kStatusOffline = 8;
inline constexpr int kStatusPaperOut = 9;
inline constexpr int kStatusCoverOpen = 10;
inline constexpr int kStatusError = 11;

// A Windows for the machine to play: GetVersionExA's platform and version.
struct WindowsVersion {
    unsigned long platform = 0;
    unsigned long major = 0;
    unsigned long minor = 0;
};

// What the command line asks for.
struct Options {
    bool check = false;
    bool status = false; // ask the printer its status instead of printing
    unsigned copies = 1;
    int dpi = 203;
    std::optional<std::string> out;
    std::optional<std::string> trace;
    bool monitor = true;
    std::optional<WindowsVersion> windows; // none: the machine's own
    std::optional<std::string> preview;
    int paperWidth = 576;
    std::optional<unsigned> timeout;               // give up on a printer that takes no data this long
    std::optional<vkqt50::LineSettings> line;      // store these line settings for the port first
    std::vector<std::string> jobs;
};

// Reads the command line into `opt`; an exit status when the program ends here (help, version, a usage
// error, each already written out), none when it goes on to run.
std::optional<int> ParseCommandLine(int argc, char** argv, Options* opt);

} // namespace kqspool
