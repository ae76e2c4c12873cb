#include "app.h"

#include "drivers.h"
#include "image.h"
#include "pdf.h"
#include "printjob.h"
#include "spool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kqapp {
namespace {

// The largest picture (PNG, JPEG) a job may send. Whatever its size, it is scaled to 576 dots at most:
// 8,192 columns cover a phone camera's photograph; 32,768 lines a strip as wide as the paper and longer
// than the longest roll (3 m at 203 dpi is 23,976 lines); 64 MiB of decoded pixels is a 20-megapixel
// colour photograph.
constexpr size_t kMaxImageBytes = size_t{64} << 20;
constexpr int kMaxImageWidth = 8192;
constexpr int kMaxImageHeight = 32768;

// The settings of the running server, written once before it runs.
AppSettings& Settings() {
    static AppSettings settings;
    return settings;
}

bool Loopback(const std::string& host) {
    return host == "localhost" || host.rfind("127.", 0) == 0 || host == "::1" || host == "[::1]";
}

std::string ExecutableDir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return ".";
    }
    const std::string path(buf, size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Where PAPPL's printer applications keep their jobs: /var/spool/NAME for root, ~/.config/NAME.d otherwise.
std::string DefaultSpoolDir() {
    if (getuid() == 0) {
        return "/var/spool/kqapp";
    }
    const char* home = getenv("HOME");
    if (home && *home) {
        const std::string config = std::string(home) + "/.config";
        mkdir(config.c_str(), 0700);
        return config + "/kqapp.d";
    }
    return std::string(papplGetTempDir()) + "/kqapp" + std::to_string(getuid()) + ".d";
}

bool MakeDir(const std::string& dir) {
    for (size_t at = 1; at != std::string::npos; at = dir.find('/', at + 1)) {
        mkdir(dir.substr(0, at).c_str(), 0700);
    }
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

pappl_loglevel_t LogLevel(const char* value) {
    const std::string v = value ? value : "";
    return v == "fatal"   ? PAPPL_LOGLEVEL_FATAL
           : v == "error" ? PAPPL_LOGLEVEL_ERROR
           : v == "info"  ? PAPPL_LOGLEVEL_INFO
           : v == "debug" ? PAPPL_LOGLEVEL_DEBUG
                          : PAPPL_LOGLEVEL_WARN;
}

// PAPPL's server-options, as its own servers take them.
pappl_soptions_t ServerOptions(const char* value) {
    pappl_soptions_t options = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
    static const struct {
        const char* name;
        pappl_soptions_t add;
        pappl_soptions_t remove;
    } known[] = {
        {"none", PAPPL_SOPTIONS_NONE, ~pappl_soptions_t(0)},
        {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST, 0},
        {"no-multi-queue", 0, PAPPL_SOPTIONS_MULTI_QUEUE},
        {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET, 0},
        {"no-web-interface", 0, PAPPL_SOPTIONS_WEB_INTERFACE},
        {"web-log", PAPPL_SOPTIONS_WEB_LOG, 0},
        {"web-network", PAPPL_SOPTIONS_WEB_NETWORK, 0},
        {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE, 0},
        {"web-security", PAPPL_SOPTIONS_WEB_SECURITY, 0},
        {"no-tls", PAPPL_SOPTIONS_NO_TLS, 0},
    };
    std::string list = value ? value : "";
    for (size_t at = 0; at < list.size();) {
        const size_t comma = list.find(',', at);
        const std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        for (const auto& k : known) {
            if (item == k.name) {
                options = (options & ~k.remove) | k.add;
            }
        }
        at = comma == std::string::npos ? list.size() : comma + 1;
    }
    return options;
}

void OnPrinterCreated(pappl_printer_t* printer, void*) {
    pappl_supply_t paper{};
    paper.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
    std::snprintf(paper.description, sizeof(paper.description), "Receipt paper roll");
    paper.is_consumed = true;
    paper.level = -1; // until the printer says
    paper.type = PAPPL_SUPPLY_TYPE_OTHER;
    papplPrinterSetSupplies(printer, 1, &paper);
    if (!Settings().dnssd) {
        papplPrinterSetDNSSDName(printer, nullptr);
    }
}

// A job CUPS sends to a raw queue: ESC/POS as it is.
bool FilterCupsRaw(pappl_job_t* job, pappl_device_t* device, void*) {
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    if (!options) {
        return false;
    }
    papplJobSetImpressions(job, 1);
    const bool printed = PrintRaw(job, options, device);
    papplJobDeletePrintOptions(options);
    if (printed) {
        papplJobSetImpressionsCompleted(job, 1);
    }
    return printed;
}

// Asks each idle printer its status (PAPPL calls the driver's status callback for a printer without a job
// and without its device open).
bool PollIdlePrinters(pappl_system_t* system, void*) {
    papplSystemIteratePrinters(
        system, [](pappl_printer_t* printer, void*) { papplPrinterGetReasons(printer); }, nullptr);
    return true;
}

} // namespace

bool ParseSettings(int numOptions, cups_option_t* options, AppSettings* s, std::string* why) {
    if (const char* v = cupsGetOption("listen-hostname", numOptions, options)) {
        s->listen = v;
    }
    s->dnssd = !Loopback(s->listen);
    if (const char* v = cupsGetOption("dnssd", numOptions, options)) {
        const std::string value = v;
        if (value != "on" && value != "off") {
            *why = "dnssd is on or off";
            return false;
        }
        s->dnssd = value == "on";
    }
    if (const char* v = cupsGetOption("machine-directory", numOptions, options)) {
        s->machine = v;
    }
    if (const char* v = cupsGetOption("state-file", numOptions, options)) {
        s->stateFile = v;
    }
    if (const char* v = cupsGetOption("status-interval", numOptions, options)) {
        char* end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (!*v || *end || n < 1 || n > 3600) {
            *why = "status-interval is a number of seconds from 1 to 3600";
            return false;
        }
        s->statusInterval = int(n);
    }
    return true;
}

pappl_system_t* CreateSystem(int numOptions, cups_option_t* options, void*) {
    AppSettings& settings = Settings();
    std::string why;
    if (!ParseSettings(numOptions, options, &settings, &why)) {
        std::fprintf(stderr, "kqapp: %s\n", why.c_str());
        return nullptr;
    }
    int port = 0;
    if (const char* v = cupsGetOption("server-port", numOptions, options)) {
        char* end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (!*v || *end || n < 0 || n > 65535) {
            std::fprintf(stderr, "kqapp: bad server-port value\n");
            return nullptr;
        }
        port = int(n);
    }
    const char* spool = cupsGetOption("spool-directory", numOptions, options);
    const std::string spoolDir = spool ? spool : DefaultSpoolDir();
    if (settings.machine.empty()) {
        settings.machine = spoolDir + "/machine";
    }
    if (!MakeDir(spoolDir) || !MakeDir(settings.machine)) {
        std::fprintf(stderr, "kqapp: cannot make %s: %s\n", settings.machine.c_str(), std::strerror(errno));
        return nullptr;
    }
    // Every job goes through the kit's print processor on the stand-in Windows, set up there once.
    if (!PrepareMachine(settings.machine, ExecutableDir(), &why)) {
        std::fprintf(stderr, "kqapp: cannot set up the printer on the machine in %s: %s\n",
                     settings.machine.c_str(), why.c_str());
        return nullptr;
    }

    pappl_soptions_t soptions = ServerOptions(cupsGetOption("server-options", numOptions, options));
    if (Loopback(settings.listen)) {
        // nothing leaves the machine: no TLS, and the printer's URIs and its security agree (ipp:// alone)
        soptions |= PAPPL_SOPTIONS_NO_TLS;
    }
    pappl_system_t* system = papplSystemCreate(soptions, "kqapp", port,
        settings.dnssd ? "_print,_universal" : nullptr, spoolDir.c_str(), cupsGetOption("log-file", numOptions, options),
        LogLevel(cupsGetOption("log-level", numOptions, options)), cupsGetOption("auth-service", numOptions, options),
        false);
    if (!system) {
        return nullptr;
    }
    if (const char* group = cupsGetOption("admin-group", numOptions, options)) {
        papplSystemSetAdminGroup(system, group);
    }
    if (const char* host = cupsGetOption("server-hostname", numOptions, options)) {
        papplSystemSetHostName(system, host);
    } else if (Loopback(settings.listen)) {
        papplSystemSetHostName(system, "localhost"); // the printers' URIs name the one address that answers
    }
    if (!settings.dnssd) {
        papplSystemSetDNSSDName(system, nullptr);
    }
    papplSystemAddListeners(system, settings.listen == "*" ? nullptr : settings.listen.c_str());

    const std::span<pappl_pr_driver_t> drivers = DriverList();
    papplSystemSetPrinterDrivers(system, int(drivers.size()), drivers.data(), AutoAddDriver, OnPrinterCreated,
                                 FillDriver, nullptr);
    papplSystemAddMIMEFilter(system, kPdfFormat, "image/pwg-raster", FilterPdf, nullptr);
    papplSystemAddMIMEFilter(system, kCupsRawFormat, kEscPosFormat, FilterCupsRaw, nullptr);
    // PAPPL looks for a filter to the driver's own format first: this one is used in place of PAPPL's own
    papplSystemAddMIMEFilter(system, kPngFormat, kEscPosFormat, FilterPng, nullptr);
    papplSystemSetMIMECallback(system, SniffFormat, nullptr);
    papplSystemAddTimerCallback(system, time(nullptr) + settings.statusInterval, settings.statusInterval,
                                PollIdlePrinters, nullptr);
    if (!settings.stateFile.empty()) {
        // PAPPL's main loop keeps the state in its own place unless the system has a save callback already;
        // the printers it holds are made by the drivers, so they come after them
        papplSystemLoadState(system, settings.stateFile.c_str());
        papplSystemSetSaveCallback(
            system,
            [](pappl_system_t* s, void* file) { return papplSystemSaveState(s, static_cast<const char*>(file)); },
            const_cast<char*>(settings.stateFile.c_str()));
    }
    // The PNG and JPEG filters hold the whole picture in memory: pictures larger than a receipt can use are
    // refused from their headers (after the saved state, which keeps limits of its own)
    papplSystemSetMaxImageSize(system, kMaxImageBytes, kMaxImageWidth, kMaxImageHeight);
    papplSystemSetFooterHTML(system, "KQT-50 printer application: every job goes through the kit's print "
                                     "processor, as it does on Windows.");
    return system;
}

void Usage(void*) {
    std::puts("kqapp options (server -o NAME=VALUE):");
    std::puts("  -o listen-hostname=HOST   listen on HOST only (default localhost; * for every interface)");
    std::puts("  -o dnssd=on|off           announce the printers with DNS-SD (default on when not localhost)");
    std::puts("  -o machine-directory=DIR  the stand-in Windows' folder (default SPOOL-DIRECTORY/machine)");
    std::puts("  -o status-interval=SECS   how often an idle printer is asked its status (default 5)");
    std::puts("  -o state-file=FILE        where the printers are kept between runs (default: PAPPL's place)");
    std::puts("  -o server-options=web-security,web-remote   administration behind a password, from afar");
    std::puts("Device URIs: file:///PATH, socket://HOST:9100, "
              "serial:/dev/ttyS0?baud=9600+bits=8+parity=none+stop=1+flow=hard");
}

const char* SniffFormat(const unsigned char* header, size_t size, void*) {
    // a job that starts with a command's prefix byte is the printer's own language
    if (size > 0 && (header[0] == 0x1B || header[0] == 0x1D || header[0] == 0x1C || header[0] == 0x10)) {
        return kEscPosFormat;
    }
    return nullptr;
}

} // namespace kqapp
