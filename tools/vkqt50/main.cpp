// vkqt50: a virtual KQT-50 on a pseudo-terminal or a TCP port, for tests and for application developers
// without the printer. See --help.
#include "control.h"
#include "serve.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kUsage[] =
    "Usage: vkqt50 [--pty | --tcp [HOST:]PORT] [options]\n"
    "\n"
    "A virtual KQT-50 receipt printer. It reads what it is sent as the KQT-50 reads it, answers the\n"
    "real-time status requests DLE EOT 1 to 4 (and DLE ENQ 1 and 2, GS r 1 and 2), keeps its paper,\n"
    "cover, off-line, error and drawer states, and draws every receipt into a numbered PNG at each cut\n"
    "(and at the end). When it is ready it writes one line to standard output: the pseudo-terminal's\n"
    "path, or socket://HOST:PORT, which is what kqspool's --out takes.\n"
    "\n"
    "Line:\n"
    "  --pty                  a pseudo-terminal, as a printer on a serial port (the default)\n"
    "  --tcp [HOST:]PORT      a TCP port, raw, as printers listen on 9100 (HOST default 127.0.0.1; PORT 0\n"
    "                         takes a free one, and the ready line says which)\n"
    "  --line SETTINGS        the serial line: RATE,DATA,PARITY,STOP,FLOW (default 9600,8,n,1,none);\n"
    "                         parity n o e m s, stop 1 1.5 2, flow none, xon (XON/XOFF) or hardware\n"
    "  --link PATH            also a symbolic link to the pseudo-terminal at PATH\n"
    "\n"
    "Printer:\n"
    "  --buffer BYTES         the receive buffer (default 4096, at least 32)\n"
    "  --paper MM             the roll's length: the paper runs out after so much (default: no end)\n"
    "  --near-end MM          the near-end sensor sees the end so far ahead (default: only when told)\n"
    "  --paper-width DOTS     the pictures' width, 8 dots a millimetre (default 576; 384 for 58 mm paper)\n"
    "  --dpi N                the resolution along the paper (default 203)\n"
    "\n"
    "Output:\n"
    "  --pictures DIR         where receipt-0001.png, receipt-0002.png, ... go (default: here)\n"
    "  --log FILE             the event log, one line an event with the seconds since the start (default:\n"
    "                         standard error): bytes in, status asked and answered, busy and ready, paper,\n"
    "                         cover, errors, drawer, cuts and their pictures, control commands, signals\n"
    "  --control PATH         take commands on a Unix socket at PATH (see below)\n"
    "\n"
    "It takes bytes no faster than the line carries them: 1 start bit, the data bits, the parity bit and\n"
    "the stop bits a character. While the printer is off line (paper out, cover open, an error, or put\n"
    "off line) it prints nothing and its receive buffer fills; near full it is busy and holds the sender\n"
    "off: with XON/XOFF it sends XOFF (and XON when it has room again); with hardware flow control it\n"
    "stops the sender's end, as its busy line stops a sender that watches it. A sender whose end is not\n"
    "set for the printer's flow control is not held off, and what finds the buffer full is lost, as on a\n"
    "real line; a sender set to another rate or other stop bits sends garbage, which is counted and\n"
    "dropped (a pseudo-terminal keeps no data bits or parity of a sender's: those cannot be checked).\n"
    "On TCP the printer reads while its buffer has room; a second sender waits its turn, but the\n"
    "real-time requests it starts with are answered at once. Real-time requests are answered as they\n"
    "arrive, also while off line, wherever they stand in the data.\n"
    "\n"
    "Signals: SIGUSR1 paper out, or loads paper when it is out; SIGUSR2 off line, or back on line;\n"
    "SIGINT, SIGTERM, SIGHUP draw the last receipt and end.\n"
    "\n"
    "Exit status: 0 ended when told; 1 it could not start (the line, the log, the pictures' folder, the\n"
    "control socket); 2 usage error.\n"
    "\n";

struct Args {
    int argc;
    char** argv;
    int i = 1;
    const char* Value() { return i + 1 < argc ? argv[++i] : nullptr; }
};

int Usage(const std::string& message) {
    std::fprintf(stderr, "vkqt50: %s\nTry 'vkqt50 --help'.\n", message.c_str());
    return 2;
}

bool Number(const char* text, double min, double max, double* value) {
    if (!text) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v >= min && v <= max)) {
        return false;
    }
    *value = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    vkqt50::ServeOptions o;
    Args a{argc, argv};
    double n = 0;
    for (; a.i < argc; ++a.i) {
        const std::string arg = argv[a.i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(vkqt50::kControlHelp, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("vkqt50 %s\n", KQ_VERSION);
            return 0;
        } else if (arg == "--pty") {
            o.tcp = false;
        } else if (arg == "--tcp") {
            const char* v = a.Value();
            std::string where = v ? v : "";
            const size_t colon = where.rfind(':');
            const std::string port = colon == std::string::npos ? where : where.substr(colon + 1);
            if (colon != std::string::npos) {
                o.host = where.substr(0, colon);
                if (o.host.size() > 2 && o.host.front() == '[' && o.host.back() == ']') {
                    o.host = o.host.substr(1, o.host.size() - 2);
                }
            }
            if (!Number(port.c_str(), 0, 65535, &n) || port.empty()) {
                return Usage("--tcp needs [HOST:]PORT, PORT from 0 to 65535");
            }
            o.tcp = true;
            o.port = static_cast<uint16_t>(n);
        } else if (arg == "--line") {
            const char* v = a.Value();
            std::string error = "--line needs RATE,DATA,PARITY,STOP,FLOW";
            const auto line = v ? vkqt50::ParseLine(v, &error) : std::nullopt;
            if (!line) {
                return Usage(error);
            }
            o.line = *line;
        } else if (arg == "--buffer") {
            if (!Number(a.Value(), 32, 1 << 24, &n)) {
                return Usage("--buffer needs a number of bytes from 32 to 16777216");
            }
            o.printer.bufferSize = static_cast<size_t>(n);
        } else if (arg == "--paper") {
            if (!Number(a.Value(), 1, 1e7, &o.printer.paperMm)) {
                return Usage("--paper needs a length in millimetres from 1 to 10000000");
            }
        } else if (arg == "--near-end") {
            if (!Number(a.Value(), 1, 1e7, &o.printer.nearEndMm)) {
                return Usage("--near-end needs a length in millimetres from 1 to 10000000");
            }
        } else if (arg == "--paper-width") {
            if (!Number(a.Value(), 8, 4096, &n)) {
                return Usage("--paper-width needs a number of dots from 8 to 4096");
            }
            o.printer.picture.paperWidth = static_cast<int>(n);
        } else if (arg == "--dpi") {
            if (!Number(a.Value(), 1, 32767, &n)) {
                return Usage("--dpi needs a number from 1 to 32767");
            }
            o.printer.picture.dpi = static_cast<int>(n);
        } else if (arg == "--pictures" || arg == "--log" || arg == "--control" || arg == "--link") {
            const char* v = a.Value();
            if (!v || !*v) {
                return Usage(arg + " needs a path");
            }
            (arg == "--pictures"  ? o.pictures
             : arg == "--log"     ? o.log
             : arg == "--control" ? o.control
                                  : o.link) = v;
        } else {
            return Usage("unknown option '" + arg + "'");
        }
    }
    o.printer.flow = o.tcp ? vkqt50::Flow::None : o.line.flow;
    return vkqt50::Serve(o);
}
