// The machine's local ports, as Windows lists them in the registry, and the host file or device each sends
// its bytes to.
#include "machine.h"

namespace kqwin {

std::vector<std::string> LocalPortNames() {
    // a machine without the key has the ports of a fresh installation
    if (const auto values = Hive().GetValues(kPortsKey)) {
        std::vector<std::string> names;
        for (const Registry::Value& v : *values) {
            if (!v.name.empty()) {
                names.push_back(v.name);
            }
        }
        return names;
    }
    return {"COM1:", "COM2:", "COM3:", "COM4:", "LPT1:", "LPT2:", "LPT3:", "FILE:"};
}

std::string PortTargetKey() { return std::string("HKLM\\") + control::kPortTargetKey; }

std::string PortTargetOf(const std::string& port) {
    std::string target = Hive().GetString(PortTargetKey(), port);
    if (!target.empty()) {
        return target;
    }
    std::string base = port;
    while (!base.empty() && base.back() == ':') {
        base.pop_back();
    }
    return RootFolder() + "/ports/" + base + ".out";
}

} // namespace kqwin

namespace kqwin::control {

void SetPorts(const std::vector<std::string>& names) {
    Hive().DeleteTree(kPortsKey);
    Hive().CreateKey(kPortsKey, nullptr);
    for (const std::string& name : names) {
        Hive().SetString(kPortsKey, name, "");
    }
}

void SetPortTarget(const std::string& port, const std::string& hostPath) {
    Hive().CreateKey(PortTargetKey(), nullptr);
    Hive().SetString(PortTargetKey(), port, hostPath);
}

std::string PortTarget(const std::string& port) { return PortTargetOf(port); }

} // namespace kqwin::control
