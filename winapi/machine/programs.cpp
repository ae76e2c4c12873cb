// The programs of the machine that do real work when started.
#include "machine.h"

#include <map>

namespace kqwin {
namespace {

std::map<std::string, ProgramMain>& Programs() {
    static std::map<std::string, ProgramMain> programs; // by lower-case Windows path
    return programs;
}

} // namespace

ProgramRegistration::ProgramRegistration(const char* windowsPath, ProgramMain main) {
    Programs()[LowerAscii(windowsPath)] = main;
}

DWORD RunProgram(const std::string& windowsPath, const std::string& parameters) {
    const auto it = Programs().find(LowerAscii(windowsPath));
    return it == Programs().end() ? 0 : it->second(parameters);
}

} // namespace kqwin
