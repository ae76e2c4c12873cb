#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kqspool {
namespace {

constexpr char kUsageText[] =
    "Usage: kqspool print [options] JOB...\n"
    "       kqspool check [options] JOB...\n"
    "       kqspool status [--out PORT] [--line SETTINGS] [--timeout SECONDS] [--no-monitor]\n"
    "       kqspool --help | --version\n"
    "\n"
    "print: prints ESC/POS job files (or - for standard input) to the printer \"KQT-50 Receipt\" of the\n"
    "simulated machine, through the spooler, the KQPRINT print processor and the KQMON language monitor,\n"
    "as an application prints a RAW job on Windows. The printer is set up on first use. When the print\n"
    "processor stops a copy early, a warning on standard error says where, why, and how many bytes the\n"
    "printer never got. Ctrl-C cancels the job being printed and skips the rest.\n"
    "\n"
    "check: the same print on a scratch machine with a scratch port: nothing reaches your port or the\n"
    "monitor's capture file. One report per job on standard output: the bytes the printer would accept,\n"
    "where and why it would stop, the page images it would get.\n"
    "\n"
    "status: asks the printer its status through its port, as a print goes (the language monitor and\n"
    "the port monitor, whose ReadPort carries the replies): the real-time status requests DLE EOT 1 to\n"
    "4. The status in words on standard output (\"ready\", \"paper near end\", \"paper out\",\n"
    "\"cover open\", \"off line\", \"error: ...\"), then the four replies in hex. It waits up to\n"
    "--timeout seconds (default 5) for the replies.\n"
    "\n"
    "Options:\n"
    "  --copies N          copies of each job (default 1)\n"
    "  --dpi N             vertical resolution of the printer in dots per inch (default 203)\n"
    "  --out PATH          file or device that receives the port's bytes (- for standard output), or\n"
    "                      socket://HOST:PORT for a printer on a raw TCP port; without it, the port's\n"
    "                      configured target (print) or a scratch file (check). A serial device or a\n"
    "                      pseudo-terminal gets the port's stored line settings at each document\n"
    "  --line SETTINGS     store the port's line settings first (as the installer's serial settings do;\n"
    "                      they stay): RATE,DATA,PARITY,STOP,FLOW, e.g. 115200,8,n,1,xon; parity n o e m\n"
    "                      s, stop 1 1.5 2, flow none, xon (XON/XOFF) or hardware (CTS/DSR)\n"
    "  --timeout SECONDS   give up on a printer that has taken no data for SECONDS; without it kqspool\n"
    "                      waits for as long as it takes, saying so every few seconds\n"
    "  --trace-writes PATH one line per write of the print processor: byte count, space, bytes in hex\n"
    "  --no-monitor        send the print processor's output to the port without the language monitor\n"
    "  --windows VERSION   the Windows the machine plays for this run: 98, me (their spooler calls KQMON\n"
    "                      through InitializeMonitorEx with 8-bit names), 2000 or xp (through\n"
    "                      InitializePrintMonitor2 with UTF-16 names); default: the machine's own, XP on\n"
    "                      a new machine\n"
    "  --preview PNG       also draw what the port received as the KQT-50 prints it, into a PNG image\n"
    "                      (red marks are the preview's own: where the paper is cut, what it cannot draw)\n"
    "  --paper-width DOTS  paper width of the preview in dots, 8 a millimetre (default 576: 72 mm;\n"
    "                      384 for 58 mm paper)\n"
    "  --help              this text\n"
    "  --version           the version\n"
    "\n"
    "The machine lives in the folder named by KQT50_ROOT (default ~/.kqt50).\n"
    "\n"
    "Exit status:\n"
    "  0  every byte of every job was printed (checked: would be printed)\n"
    "  1  a job was not printed, the printer could not be set up, or the preview could not be written\n"
    "  2  usage error\n"
    "  3  printed, but part of a job was not sent: the print processor stopped a copy early\n"
    "  4  a job file could not be read (missing, unreadable, a directory)\n"
    "  5  the printer took no data for --timeout seconds: kqspool gave up on the job and the jobs after it\n"
    "  130  interrupted by Ctrl-C\n"
    "When jobs end differently, the first of 5, 1, 4, 3 that applies is the status.\n"
    "\n"
    "Exit status of status: 0 ready; 1 the printer's port cannot be opened; 2 usage error; 6 the printer\n"
    "did not answer; 7 paper near end (it prints); 8 off line; 9 paper out; 10 cover open; 11 an error.\n"
    "When several apply, the highest is the status.\n";

bool ParseNumber(const char* text, long min, long max, long* value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) {
        return false;
    }
    *value = v;
    return true;
}

// The Windows that --windows names: the platform ids and versions GetVersionExA reports for them.
std::optional<WindowsVersion> NamedWindows(const char* name) {
    struct Named {
        const char* name;
        WindowsVersion version;
    };
    constexpr unsigned long k9x = 1; // VER_PLATFORM_WIN32_WINDOWS
    constexpr unsigned long kNt = 2; // VER_PLATFORM_WIN32_NT
    static constexpr Named kKnown[] = {
        {"98", {k9x, 4, 10}}, {"me", {k9x, 4, 90}}, {"2000", {kNt, 5, 0}}, {"xp", {kNt, 5, 1}}};
    for (const Named& n : kKnown) {
        if (name && std::strcmp(name, n.name) == 0) {
            return n.version;
        }
    }
    return std::nullopt;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kqspool: %s\nTry 'kqspool --help'.\n", message.c_str());
    return kUsage;
}

} // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, Options* opt) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsageText, stdout);
        return kAllPrinted;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kqspool %s\n", KQ_VERSION);
        return kAllPrinted;
    }
    if (argc < 2 || (std::strcmp(argv[1], "print") != 0 && std::strcmp(argv[1], "check") != 0 &&
                     std::strcmp(argv[1], "status") != 0)) {
        return UsageError(argc < 2 ? "no command given" : std::string("unknown command '") + argv[1] + "'");
    }
    opt->check = std::strcmp(argv[1], "check") == 0;
    opt->status = std::strcmp(argv[1], "status") == 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        // the option's value: the next argument, null when there is none
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        // a number option's value within [min, max]; false when there is none
        auto number = [&](long min, long max, long* n) {
            const char* v = value();
            return v && ParseNumber(v, min, max, n);
        };
        // a path option's value; false when there is none
        auto path = [&](std::optional<std::string>* to) {
            const char* v = value();
            if (v && *v) {
                *to = v;
            }
            return v && *v;
        };
        long n = 0;
        if (arg == "--help") {
            std::fputs(kUsageText, stdout);
            return kAllPrinted;
        } else if (arg == "--copies") {
            if (!number(0, 32767, &n)) {
                return UsageError("--copies needs a number from 0 to 32767");
            }
            opt->copies = static_cast<unsigned>(n);
        } else if (arg == "--dpi") {
            if (!number(1, 32767, &n)) {
                return UsageError("--dpi needs a number from 1 to 32767");
            }
            opt->dpi = static_cast<int>(n);
        } else if (arg == "--out") {
            if (!path(&opt->out)) {
                return UsageError("--out needs a path");
            }
        } else if (arg == "--trace-writes") {
            if (!path(&opt->trace)) {
                return UsageError("--trace-writes needs a path");
            }
        } else if (arg == "--preview") {
            if (!path(&opt->preview)) {
                return UsageError("--preview needs a path");
            }
        } else if (arg == "--paper-width") {
            if (!number(8, 4096, &n)) {
                return UsageError("--paper-width needs a number of dots from 8 to 4096");
            }
            opt->paperWidth = static_cast<int>(n);
        } else if (arg == "--timeout") {
            if (!number(1, 86400, &n)) {
                return UsageError("--timeout needs a number of seconds from 1 to 86400");
            }
            opt->timeout = static_cast<unsigned>(n);
        } else if (arg == "--line") {
            const char* v = value();
            std::string error = "--line needs RATE,DATA,PARITY,STOP,FLOW";
            opt->line = v ? vkqt50::ParseLine(v, &error) : std::nullopt;
            if (!opt->line) {
                return UsageError(error);
            }
        } else if (arg == "--no-monitor") {
            opt->monitor = false;
        } else if (arg == "--windows") {
            opt->windows = NamedWindows(value());
            if (!opt->windows) {
                return UsageError("--windows needs one of 98, me, 2000, xp");
            }
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return UsageError("unknown option '" + arg + "'");
        } else {
            opt->jobs.push_back(arg);
        }
    }
    if (opt->status && !opt->jobs.empty()) {
        return UsageError("status takes no job file");
    }
    if (!opt->status && opt->jobs.empty()) {
        return UsageError("no job file given");
    }
    return std::nullopt;
}

} // namespace kqspool
