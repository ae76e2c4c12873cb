// The Windows the machine runs, kept in its hive so that every process on the machine (the installer,
// kqspool) runs on the same one.
#include "machine.h"

namespace kqwin {
namespace {
constexpr char kVersionKey[] = "HKLM\\SOFTWARE\\KQT50 Stand-in\\Windows";
} // namespace

WindowsVersion MachineVersion() {
    const WindowsVersion xp;
    const std::optional<std::vector<Registry::Value>> values = Hive().GetValues(kVersionKey);
    if (!values) {
        return xp;
    }
    WindowsVersion v{Registry::DwordIn(*values, "Platform", xp.platform),
                     Registry::DwordIn(*values, "Major", xp.major),
                     Registry::DwordIn(*values, "Minor", xp.minor),
                     static_cast<WORD>(Registry::DwordIn(*values, "Architecture", xp.architecture))};
    if (v.platform != VER_PLATFORM_WIN32_NT) {
        v.architecture = PROCESSOR_ARCHITECTURE_INTEL;
    }
    return v;
}

bool Windows9x() { return MachineVersion().platform != VER_PLATFORM_WIN32_NT; }

WORD NativeArchitecture() {
    return MachineVersion().architecture;
}

} // namespace kqwin

namespace kqwin::control {

void SetWindowsVersion(DWORD platformId, DWORD major, DWORD minor, WORD architecture) {
    Hive().CreateKey(kVersionKey, nullptr);
    Hive().SetDword(kVersionKey, "Platform", platformId);
    Hive().SetDword(kVersionKey, "Major", major);
    Hive().SetDword(kVersionKey, "Minor", minor);
    Hive().SetDword(kVersionKey, "Architecture", architecture);
}

} // namespace kqwin::control
