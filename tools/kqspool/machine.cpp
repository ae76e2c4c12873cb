#include "machine.h"

#include "setup.h"

#include <winspool.h>

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace kqspool {
namespace {

// The folder of this program, where the kit's libraries are built beside it.
std::string ExecutableDir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return ".";
    }
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// `path` from the current folder, so that the spooler, which runs elsewhere, finds it.
std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/' || path == "-" || path.rfind("socket://", 0) == 0) {
        return path;
    }
    char cwd[4096];
    return getcwd(cwd, sizeof(cwd)) ? std::string(cwd) + "/" + path : path;
}

// Reads the attributes of the printer's level-2 record into `read`, or writes `write` into it.
bool AccessAttributes(DWORD* read, const DWORD* write) {
    std::string name = kPrinterName;
    PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE h = nullptr;
    if (!OpenPrinterA(name.data(), &h, &access)) {
        return false;
    }
    DWORD needed = 0;
    GetPrinterA(h, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    bool ok = needed > 0 && GetPrinterA(h, 2, buffer.data(), needed, &needed);
    if (ok) {
        auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
        if (read) {
            *read = info->Attributes;
        }
        if (write) {
            info->Attributes = *write;
            ok = SetPrinterA(h, 2, buffer.data(), 0);
        }
    }
    ClosePrinter(h);
    return ok;
}

} // namespace

PrinterAttributes::PrinterAttributes(DWORD clear) {
    if (AccessAttributes(&saved_, nullptr)) {
        const DWORD changed = saved_ & ~clear;
        ok_ = AccessAttributes(nullptr, &changed);
    }
}

PrinterAttributes::~PrinterAttributes() {
    if (ok_) {
        AccessAttributes(nullptr, &saved_);
    }
}

bool ChooseWindows(const WindowsVersion& version) {
    OSVERSIONINFOA running{};
    running.dwOSVersionInfoSize = sizeof(running);
    if (GetVersionExA(&running) && running.dwPlatformId != version.platform && PrinterInstalled()) {
        return false;
    }
    control::SetWindowsVersion(version.platform, version.major, version.minor);
    return true;
}

PortTargetOverride::PortTargetOverride(const std::string& target) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, control::kPortTargetKey, 0, KEY_READ, &key) == 0) {
        char value[4096];
        DWORD size = sizeof(value) - 1;
        DWORD type = 0;
        if (RegQueryValueExA(key, kPortName, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) == 0 &&
            type == REG_SZ) {
            value[size] = '\0';
            previous_ = std::string(value);
        }
        RegCloseKey(key);
    }
    control::SetPortTarget(kPortName, target);
}

PortTargetOverride::~PortTargetOverride() {
    if (previous_) {
        control::SetPortTarget(kPortName, *previous_);
        return;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, control::kPortTargetKey, 0, KEY_WRITE, &key) == 0) {
        RegDeleteValueA(key, kPortName);
        RegCloseKey(key);
    }
}

WriteObserverScope::WriteObserverScope(std::function<void(const BYTE*, DWORD, DWORD)> observer) {
    control::SetWriteObserver(std::move(observer));
}

WriteObserverScope::~WriteObserverScope() {
    control::SetWriteObserver(nullptr);
}

ScratchMachine::ScratchMachine() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kqspool-check-XXXXXX").string();
    if (mkdtemp(tmpl.data())) {
        dir_ = tmpl;
        control::ResetMachine(dir_);
    }
}

ScratchMachine::~ScratchMachine() {
    std::error_code ec;
    if (!dir_.empty()) {
        std::filesystem::remove_all(dir_, ec);
    }
}

bool RunMachine::Prepare(const Options& opt) {
    if (opt.check) {
        scratch_.emplace();
        if (!scratch_->ok()) {
            std::fprintf(stderr, "kqspool: cannot make a scratch machine: %s\n", std::strerror(errno));
            return false;
        }
    }
    root_ = control::MachineRoot();
    if (opt.windows && !ChooseWindows(*opt.windows)) {
        std::fprintf(stderr,
                     "kqspool: the printer of the machine in %s was set up on the other family of Windows "
                     "(98/ME or 2000/XP), which keeps its files elsewhere; use a new machine (KQT50_ROOT) for "
                     "--windows\n",
                     root_.c_str());
        return false;
    }
    const SetupResult setup = EnsurePrinter(ExecutableDir());
    if (!setup.ok) {
        std::fprintf(stderr, "kqspool: cannot set up the printer: %s\n", setup.error.c_str());
        return false;
    }
    control::SetPrinterResolution(kPrinterName, opt.dpi);
    if (!opt.monitor) {
        bypass_.emplace(PRINTER_ATTRIBUTE_ENABLE_BIDI);
        if (!bypass_->ok()) {
            std::fprintf(stderr, "kqspool: cannot configure the printer, error %u\n", GetLastError());
            return false;
        }
    }
    target_ = control::PortTarget(kPortName);
    if (opt.out) {
        target_ = Absolute(*opt.out);
        std::error_code ec;
        const auto type = std::filesystem::status(target_, ec).type();
        const bool device =
            target_.rfind("socket://", 0) == 0 || type == std::filesystem::file_type::character;
        if (target_ != "-" && !device) {
            std::ofstream(target_, std::ios::trunc | std::ios::binary); // the port adds every job to it
        }
        override_.emplace(target_);
    }
    return true;
}

} // namespace kqspool
