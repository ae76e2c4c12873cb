#include "control.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vkqt50 {

const char kControlHelp[] =
    "Control socket (--control PATH): a Unix stream socket; one command a line, one reply a line, \"ok\" or\n"
    "\"error\" first:\n"
    "  load [MM]            load a new roll of paper, MM long (0: without end; default: as --paper says);\n"
    "                       the printer goes on\n"
    "  paper-out            the paper runs out now: printing stops, data waits\n"
    "  near-end on|off      the paper near-end sensor\n"
    "  cover open|close     open or shut the cover: printing stops while it is open\n"
    "  offline | online     put the printer off line or back on line\n"
    "  error KIND [off]     an error: recoverable, cutter (both end with DLE ENQ 1 or 2 from the sender),\n"
    "                       unrecoverable, overheat (automatically recoverable); \"off\" ends it\n"
    "  clear                end every error\n"
    "  drawer open|close    the cash drawer's switch (connector pin 3 high while open; ESC p opens it)\n"
    "  status               \"ok\", the replies to DLE EOT 1 to 4 in hex, and the status in words\n"
    "  stats                \"ok\" and counts: received lost discarded printed buffered requests receipts\n"
    "                       paper-mm garbled\n"
    "  quit                 draw the last receipt and end\n";

namespace {

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < line.size()) {
        const size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos) {
            break;
        }
        const size_t end = line.find_first_of(" \t\r", start);
        out.emplace_back(line.substr(start, end - start));
        at = end == std::string_view::npos ? line.size() : end;
    }
    return out;
}

std::string Join(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) {
        out += (out.empty() ? "" : ", ") + w;
    }
    return out;
}

// "on" and "off", "open" and "close": true for the first of `yes`, false for `no`, none for anything else.
std::optional<bool> Switch(const std::vector<std::string>& w, const char* yes, const char* no) {
    if (w.size() == 2 && w[1] == yes) {
        return true;
    }
    if (w.size() == 2 && w[1] == no) {
        return false;
    }
    return std::nullopt;
}

} // namespace

ControlResult Execute(Printer& printer, std::string_view line, const std::string& extra) {
    const std::vector<std::string> w = Words(line);
    if (w.empty()) {
        return {"error empty command"};
    }
    const std::string& c = w[0];
    const size_t n = w.size();
    if (c == "load" && n <= 2) {
        std::optional<double> mm;
        if (n == 2) {
            char* end = nullptr;
            const double v = std::strtod(w[1].c_str(), &end);
            if (end == w[1].c_str() || *end != '\0' || !(v >= 0 && v <= 1e7)) {
                return {"error load takes a length in millimetres from 0 to 10000000"};
            }
            mm = v;
        }
        printer.LoadPaper(mm);
    } else if (c == "paper-out" && n == 1) {
        printer.RunOutOfPaper();
    } else if (c == "near-end" && Switch(w, "on", "off")) {
        printer.SetNearEnd(*Switch(w, "on", "off"));
    } else if (c == "cover" && Switch(w, "open", "close")) {
        printer.SetCover(*Switch(w, "open", "close"));
    } else if ((c == "offline" || c == "online") && n == 1) {
        printer.SetOffline(c == "offline");
    } else if (c == "error" && (n == 2 || (n == 3 && w[2] == "off"))) {
        static const std::pair<const char*, ErrorKind> kKinds[] = {
            {"recoverable", ErrorKind::Recoverable},
            {"cutter", ErrorKind::Cutter},
            {"unrecoverable", ErrorKind::Unrecoverable},
            {"overheat", ErrorKind::AutoRecoverable}};
        bool known = false;
        for (const auto& [name, kind] : kKinds) {
            if (w[1] == name) {
                printer.SetError(kind, n == 2);
                known = true;
            }
        }
        if (!known) {
            return {"error unknown error kind '" + w[1] +
                    "': recoverable, cutter, unrecoverable or overheat"};
        }
    } else if (c == "clear" && n == 1) {
        printer.ClearErrors();
    } else if (c == "drawer" && Switch(w, "open", "close")) {
        printer.SetDrawer(*Switch(w, "open", "close"));
    } else if (c == "status" && n == 1) {
        std::string reply = "ok";
        for (int i = escpos::kFirstRealTimeStatus; i <= escpos::kLastRealTimeStatus; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), " %02x", escpos::RealTimeStatus(i, printer.conditions()));
            reply += hex;
        }
        return {reply + " " + Join(escpos::Describe(printer.conditions()))};
    } else if (c == "stats" && n == 1) {
        const Stats& s = printer.stats();
        char mm[32];
        std::snprintf(mm, sizeof(mm), "%.1f", printer.PaperUsedMm());
        return {"ok received=" + std::to_string(s.received) + " lost=" + std::to_string(s.lost) +
                " discarded=" + std::to_string(s.discarded) + " printed=" + std::to_string(s.printed) +
                " buffered=" + std::to_string(printer.Buffered()) +
                " requests=" + std::to_string(s.requests) + " receipts=" + std::to_string(s.receipts) +
                " paper-mm=" + mm + extra};
    } else if (c == "quit" && n == 1) {
        return {"ok", true};
    } else {
        return {"error unknown command '" + std::string(line.substr(0, 64)) + "'"};
    }
    return {"ok " + Join(escpos::Describe(printer.conditions()))};
}

} // namespace vkqt50
