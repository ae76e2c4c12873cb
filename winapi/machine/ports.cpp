// The machine's local ports, as Windows lists them in the registry, and the host file or device each sends
// its bytes to.
#include "machine.h"

#include <map>

namespace kqwin {
namespace {

// The ports that the program serves itself, by upper-case name; forgotten with the machine.
struct PortSinks {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const control::PortSink>> byPort;
};

PortSinks& Sinks() {
    static PortSinks sinks;
    return sinks;
}

std::string UpperAscii(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        c = AsciiUpper(c);
    }
    return out;
}

void ForgetSinks() {
    PortSinks& sinks = Sinks();
    std::lock_guard lock(sinks.mutex);
    sinks.byPort.clear();
}
const ResetHook kSinksOnReset(&ForgetSinks);

} // namespace

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

std::shared_ptr<const control::PortSink> PortSinkOf(const std::string& port) {
    PortSinks& sinks = Sinks();
    std::lock_guard lock(sinks.mutex);
    const auto it = sinks.byPort.find(UpperAscii(port));
    return it == sinks.byPort.end() ? nullptr : it->second;
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

void SetPortSink(const std::string& port, PortSink sink) {
    PortSinks& sinks = Sinks();
    std::lock_guard lock(sinks.mutex);
    if (sink.write) {
        sinks.byPort[UpperAscii(port)] = std::make_shared<const PortSink>(std::move(sink));
    } else {
        sinks.byPort.erase(UpperAscii(port));
    }
}

} // namespace kqwin::control
