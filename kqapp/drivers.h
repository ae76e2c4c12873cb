// The KQT-50's drivers: one per paper width, 203 dots per inch, monochrome, paper on a roll.
#pragma once

#include <pappl/pappl.h>

#include <span>
#include <string>

namespace kqapp {

// The raw format: the printer's own ESC/POS, passed through the print processor as it comes. IANA has no
// type for it; like CUPS's and LPrint's printer languages it is named in the vendor tree.
inline constexpr char kEscPosFormat[] = "application/vnd.escpos";
// What CUPS calls a job for a raw queue: taken as ESC/POS too.
inline constexpr char kCupsRawFormat[] = "application/vnd.cups-raw";

// One paper width of the KQT-50.
struct Model {
    const char* driver;      // the driver's name: "kqt50_80mm"
    const char* description; // "KQT-50 Receipt, 80 mm paper"
    int paperMm;             // width of the roll
    int printableDots;       // dots the head prints across it
    const char* media;       // the roll's size as PWG names it, a receipt as long as an A4 sheet
    const char* rollMin;     // the shortest and longest page
    const char* rollMax;
};

inline constexpr int kDpi = 203;
// The cut-after vendor attribute: job (the default), page, none.
inline constexpr char kCutAfter[] = "cut-after";

std::span<const Model> Models();
// The model of a driver name; null for another name.
const Model* ModelOf(const char* driver);
// The model of a printer, from its driver.
const Model& ModelOf(pappl_printer_t* printer);

// PAPPL's driver list and its callbacks.
std::span<pappl_pr_driver_t> DriverList();
bool FillDriver(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);
const char* AutoAddDriver(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* data);

// The longest page of a model, in rows at kDpi.
int MaxRows(const Model& model);

} // namespace kqapp
