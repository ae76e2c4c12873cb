// The default configuration of serial ports, kept per port in the machine's hive so that it outlives the
// process that set it; a port must be one of the machine's local ports.
#include "kernel32_private.h"

#include <cstddef>
#include <cstring>

namespace kqwin {

namespace {

const char* const kCommConfigKey = "HKLM\\SOFTWARE\\KQT50 Stand-in\\CommConfig";

// Serial ports take their configuration by name without the colon; the port itself must be installed.
bool IsSerialPort(const std::string& name) {
    if (name.size() < 4 || !EqualsNoCase(name.substr(0, 3), "COM")) {
        return false;
    }
    const std::string listed = name + ":";
    for (const std::string& port : LocalPortNames()) {
        if (EqualsNoCase(port, listed)) {
            return true;
        }
    }
    return false;
}

std::vector<BYTE> Stored(const std::string& port) {
    Registry::Value v;
    if (Hive().GetValue(kCommConfigKey, LowerAscii(port), &v) && v.type == REG_BINARY) {
        return v.data;
    }
    return control::DefaultCommConfigBytes();
}

} // namespace
} // namespace kqwin

namespace kqwin::control {

std::vector<BYTE> DefaultCommConfigBytes() {
    // 9600 bits/s, 8 data bits, no parity, one stop bit, no flow control; DTR and RTS on; the serial
    // provider's data (FIFO on, receive trigger 14, transmit 16) after the fixed part
    static const BYTE kProviderData[] = {0x01, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x10, 0x00};
    constexpr size_t kOffset = offsetof(COMMCONFIG, wcProviderData);
    std::vector<BYTE> bytes(kOffset + sizeof(kProviderData));
    COMMCONFIG cc;
    std::memset(&cc, 0, sizeof(cc));
    cc.dwSize = static_cast<DWORD>(bytes.size());
    cc.wVersion = 1;
    cc.dcb.DCBlength = sizeof(DCB);
    cc.dcb.BaudRate = CBR_9600;
    cc.dcb.fBinary = 1;
    cc.dcb.fDtrControl = DTR_CONTROL_ENABLE;
    cc.dcb.fRtsControl = RTS_CONTROL_ENABLE;
    cc.dcb.XonLim = 2048;
    cc.dcb.XoffLim = 512;
    cc.dcb.ByteSize = 8;
    cc.dcb.Parity = NOPARITY;
    cc.dcb.StopBits = ONESTOPBIT;
    cc.dcb.XonChar = 0x11;
    cc.dcb.XoffChar = 0x13;
    cc.dwProviderSubType = PST_RS232;
    cc.dwProviderOffset = kOffset;
    cc.dwProviderSize = sizeof(kProviderData);
    std::memcpy(bytes.data(), &cc, kOffset);
    std::memcpy(bytes.data() + kOffset, kProviderData, sizeof(kProviderData));
    return bytes;
}

void SetCommConfigBytes(const std::string& port, const std::vector<BYTE>& bytes) {
    Hive().CreateKey(kCommConfigKey, nullptr);
    Hive().SetValue(kCommConfigKey, LowerAscii(port), REG_BINARY, bytes.data(), bytes.size());
}

std::optional<std::vector<BYTE>> CommConfigBytes(const std::string& port) {
    Registry::Value v;
    if (Hive().GetValue(kCommConfigKey, LowerAscii(port), &v) && v.type == REG_BINARY) {
        return v.data;
    }
    return std::nullopt;
}

} // namespace kqwin::control

using namespace kqwin;

extern "C" {

BOOL WINAPI GetDefaultCommConfigA(LPCSTR name, LPCOMMCONFIG cc, LPDWORD size) {
    const FaultDecision fault = CheckFault(control::Op::GetCommConfig);
    if (!name || !size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    if (!IsSerialPort(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const std::vector<BYTE> bytes = Stored(name);
    const auto needed = static_cast<DWORD>(bytes.size());
    if (!cc || *size < needed) {
        *size = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(cc, bytes.data(), bytes.size());
    *size = needed;
    return TRUE;
}

BOOL WINAPI SetDefaultCommConfigA(LPCSTR name, LPCOMMCONFIG cc, DWORD size) {
    const FaultDecision fault = CheckFault(control::Op::SetCommConfig);
    if (!name || !cc || size < sizeof(COMMCONFIG)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    if (!IsSerialPort(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    control::SetCommConfigBytes(name, std::vector<BYTE>(reinterpret_cast<const BYTE*>(cc),
                                                        reinterpret_cast<const BYTE*>(cc) + size));
    return TRUE;
}

} // extern "C"
