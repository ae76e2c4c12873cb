// The printer application around the drivers: its system (where it listens, whether it announces itself,
// who may change it), the stand-in Windows every job goes through, and the printers' status while idle.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <string>

namespace kqapp {

// The settings of `kqapp server -o NAME=VALUE` beyond PAPPL's own.
struct AppSettings {
    std::string listen = "localhost";  // listen-hostname: "*" for every interface
    bool dnssd = false;                // dnssd=on: announce the printers (Avahi), default when listening widely
    std::string machine;               // machine-directory: the stand-in Windows' folder
    int statusInterval = 5;            // status-interval: seconds between status requests to an idle printer
    std::string stateFile;             // state-file: the printers and settings kept between runs (default:
                                       // where PAPPL keeps its applications' state)
};

// Reads the application's own options; false, with `why`, for a value it cannot use.
bool ParseSettings(int numOptions, cups_option_t* options, AppSettings* settings, std::string* why);

// The system of `kqapp server`.
pappl_system_t* CreateSystem(int numOptions, cups_option_t* options, void* data);
// Lines of `kqapp --help` about the options above.
void Usage(void* data);

// ESC/POS among the formats PAPPL does not know by their first bytes (document-format
// application/octet-stream).
const char* SniffFormat(const unsigned char* header, size_t size, void* data);

} // namespace kqapp
