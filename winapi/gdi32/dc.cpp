// Printer device contexts: what a print processor asks of one is the printer's resolution.
#include "gdi32_private.h"

namespace kqwin {
namespace {

// A printer's vertical resolution as its driver keeps it in the printer's registry key; 0 for no such printer.
int PrinterResolution(const std::string& printer) {
    if (printer.empty() || printer.find('\\') != std::string::npos) {
        return 0;
    }
    HKEY key = nullptr;
    const std::string path = std::string(kPrintKey).substr(5) + "\\Printers\\" + printer; // below HKLM
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD dpi = 0;
    DWORD type = 0;
    DWORD size = sizeof(dpi);
    const bool stored = RegQueryValueExA(key, "Resolution", nullptr, &type, reinterpret_cast<BYTE*>(&dpi),
                                         &size) == ERROR_SUCCESS &&
                        type == REG_DWORD && size == sizeof(dpi);
    RegCloseKey(key);
    return stored ? static_cast<int>(dpi) : 203;
}

} // namespace
} // namespace kqwin

using namespace kqwin;

extern "C" {

HDC WINAPI CreateDCW(LPCWSTR, LPCWSTR device, LPCWSTR, const DEVMODEW* devmode) {
    const FaultDecision fault = CheckFault(control::Op::CreateDC);
    if (fault.fail) {
        SetLastError(fault.error);
        return nullptr;
    }
    const std::string printer = device ? Utf16ToAnsi(device) : std::string();
    const int dpi = PrinterResolution(printer);
    if (dpi == 0) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    auto dc = std::make_shared<DcObj>();
    dc->logPixelsY = dpi;
    if (devmode && (devmode->dmFields & DM_YRESOLUTION) && devmode->dmYResolution > 0) {
        dc->logPixelsY = devmode->dmYResolution; // the job's own resolution wins
    }
    dc->logPixelsX = dc->logPixelsY;
    return static_cast<HDC>(Handles().Add(std::move(dc)));
}

int WINAPI GetDeviceCaps(HDC hdc, int index) {
    auto dc = GetObject<DcObj>(hdc, ObjType::Dc);
    if (!dc) {
        return 0;
    }
    switch (index) {
    case LOGPIXELSX:
        return dc->logPixelsX;
    case LOGPIXELSY:
        return dc->logPixelsY;
    default:
        return 0;
    }
}

BOOL WINAPI DeleteDC(HDC hdc) { return Handles().Remove(hdc, ObjType::Dc) ? TRUE : FALSE; }

} // extern "C"
