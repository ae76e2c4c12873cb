// What the programs that drive Wine's own spooler share: the writable wide strings its calls take, and the
// printer driver they print with.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace kqwine {

// The winspool calls take non-const strings.
struct Text {
    explicit Text(const std::wstring& s) : buffer(s.begin(), s.end()) { buffer.push_back(L'\0'); }
    LPWSTR get() { return buffer.data(); }
    std::vector<wchar_t> buffer;
};

// Adds a RAW driver for 64-bit Windows on Wine's own PostScript driver (Wine loads a driver's configuration
// file only, and wineps.drv is always there), naming `monitor` as its language monitor when given. A driver
// of that name already there counts as added.
inline bool AddWineDriver(const wchar_t* name, const wchar_t* monitor = nullptr) {
    Text driverName(name);
    Text environment(L"Windows x64");
    Text wineDriver(L"wineps.drv");
    Text monitorName(monitor ? monitor : L"");
    Text raw(L"RAW");
    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = driverName.get();
    driver.pEnvironment = environment.get();
    driver.pDriverPath = wineDriver.get();
    driver.pDataFile = wineDriver.get();
    driver.pConfigFile = wineDriver.get();
    driver.pMonitorName = monitor ? monitorName.get() : nullptr;
    driver.pDefaultDataType = raw.get();
    return AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)) ||
           GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

} // namespace kqwine
