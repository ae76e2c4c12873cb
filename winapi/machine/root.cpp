// The machine's folder: loading the machine (its hive, and a fresh machine's seeding) and resetting it.
#include "machine.h"

#include <unistd.h>

#include <cstdlib>

namespace kqwin {
namespace {

struct MachineState {
    std::mutex mutex;
    std::string root;
    std::atomic<bool> loaded{false};
};

MachineState& Machine() {
    static MachineState state;
    return state;
}

std::string DefaultRoot() {
    if (const char* env = std::getenv("KQT50_ROOT"); env && *env) {
        return env;
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::string(home) + "/.kqt50";
    }
    return "/tmp/kqt50";
}

std::vector<void (*)()>& ResetHooks() {
    static std::vector<void (*)()> hooks;
    return hooks;
}

} // namespace

ResetHook::ResetHook(void (*reset)()) { ResetHooks().push_back(reset); }

void LoadMachine() {
    MachineState& m = Machine();
    if (m.loaded.load(std::memory_order_acquire)) {
        return;
    }
    std::string root;
    {
        std::lock_guard lock(m.mutex);
        if (m.loaded.load(std::memory_order_relaxed)) {
            return;
        }
        if (m.root.empty()) {
            m.root = DefaultRoot();
        }
        root = m.root;
        // marked first: the hive and the seeding below reach the machine again
        m.loaded.store(true, std::memory_order_release);
    }
    MakeDirs(root);
    const std::string registryFile = root + "/registry.txt";
    const bool fresh = access(registryFile.c_str(), F_OK) != 0;
    Hive().Load(registryFile);
    if (fresh) {
        SeedFreshMachine();
    }
}

std::string RootFolder() {
    LoadMachine();
    MachineState& m = Machine();
    std::lock_guard lock(m.mutex);
    return m.root;
}

} // namespace kqwin

namespace kqwin::control {

void ResetMachine(const std::string& root) {
    {
        MachineState& m = Machine();
        std::lock_guard lock(m.mutex);
        m.root = root.empty() ? DefaultRoot() : root;
        m.loaded.store(false, std::memory_order_release);
    }
    for (void (*reset)() : ResetHooks()) {
        reset();
    }
    LoadMachine();
}

std::string MachineRoot() { return RootFolder(); }

std::string HostPath(const std::string& windowsPath) { return MapPath(windowsPath); }

} // namespace kqwin::control
