// The kit that an installer installs is of the installer's own architecture: the 32-bit KqtSetup.exe installs
// the 32-bit KQPRINT.DLL and KQMON.DLL (Windows 98/ME, 2000, XP and later 32-bit), KqtSetup64.exe the 64-bit
// ones (64-bit Windows). A Windows build takes the architecture from the compiler; the Linux build, which is
// a Windows program of neither kind, is built as each (KQ_KIT_X64 defined as 0 or 1).
#pragma once

#include "kit_names.h"

#if defined(_WIN64)
#define KQ_KIT_X64 1
#elif defined(_WIN32)
#define KQ_KIT_X64 0
#elif !defined(KQ_KIT_X64)
#error "a Linux build of the installer names the kit it installs: KQ_KIT_X64 0 or 1"
#endif

namespace kqsetup {

struct KitArchitecture {
    // The spooler's environment of the kit's driver and print processor on the NT family.
    const char* environment;
    // PrintUIEntry's options that name the driver's architecture and type.
    const char* printUiDriver;
    // A 32-bit kit, which a 64-bit spooler cannot load.
    bool is32Bit;
};

// The 64-bit driver's options are those of Microsoft's PrintUIEntry reference ("/h x64", "/v Type 3 - User
// Mode"); the 32-bit installer names the driver as Windows 2000 and XP know it.
#if KQ_KIT_X64
inline constexpr KitArchitecture kKit{kqkit::kEnvironmentX64, "/h \"x64\" /v \"Type 3 - User Mode\"", false};
#else
inline constexpr KitArchitecture kKit{kqkit::kEnvironmentNtX86, "/v \"Windows 2000 or XP\"", true};
#endif

} // namespace kqsetup
