// What a module file is built for, as a loader tells it: the file header of a PE image names its machine.
#include "machine.h"

#include <cstring>
#include <fstream>

namespace kqwin {
namespace {

constexpr std::streamoff kNewHeaderOffsetAt = 0x3C; // e_lfanew of the MS-DOS header
constexpr uint32_t kNewHeaderLimit = 0x10000000;    // beyond any header a loader would read

uint32_t LittleEndian(const unsigned char* p, size_t bytes) {
    uint32_t v = 0;
    for (size_t i = bytes; i-- > 0;) {
        v = (v << 8) | p[i];
    }
    return v;
}

// The Machine field of a PE image's file header; nothing when the file is not a PE image.
std::optional<WORD> ImageMachine(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    unsigned char dos[kNewHeaderOffsetAt + 4] = {};
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return std::nullopt;
    }
    const uint32_t offset = LittleEndian(dos + kNewHeaderOffsetAt, 4);
    unsigned char nt[6] = {};
    if (offset >= kNewHeaderLimit || !in.seekg(offset) || !in.read(reinterpret_cast<char*>(nt), sizeof nt) ||
        std::memcmp(nt, "PE\0\0", 4) != 0) {
        return std::nullopt;
    }
    return static_cast<WORD>(LittleEndian(nt + 4, 2));
}

} // namespace

WORD ModuleArchitecture(const std::string& windowsPath) {
    const std::optional<WORD> machine = ImageMachine(MapPath(windowsPath));
    if (!machine) {
        return NativeArchitecture();
    }
    switch (*machine) {
    case IMAGE_FILE_MACHINE_I386:
        return PROCESSOR_ARCHITECTURE_INTEL;
    case IMAGE_FILE_MACHINE_AMD64:
        return PROCESSOR_ARCHITECTURE_AMD64;
    default:
        return PROCESSOR_ARCHITECTURE_UNKNOWN;
    }
}

} // namespace kqwin
