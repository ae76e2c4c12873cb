// The local port monitor: sends a port's documents to the host file or device configured for the port.
// A port behaves as a device: each document is added to what the port has already sent. A port named with
// a file's path (a document's output file) is that file, written afresh for each document.
#include "localspl_private.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_map>

namespace kqwin {
namespace {

struct LocalPort {
    std::string name;     // port name, empty for a file named by its path
    std::string hostPath; // the file's host path
    int fd = -1;
};

// The open ports; a port handle is the address of its record.
struct LocalPorts {
    std::mutex mutex;
    std::unordered_map<LocalPort*, std::unique_ptr<LocalPort>> live;
};

LocalPorts& OpenPorts() {
    static LocalPorts ports;
    return ports;
}

LocalPort* Lookup(HANDLE h) {
    auto* port = static_cast<LocalPort*>(h);
    LocalPorts& ports = OpenPorts();
    std::lock_guard lock(ports.mutex);
    if (ports.live.find(port) == ports.live.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return port;
}

HANDLE Register(std::unique_ptr<LocalPort> port) {
    LocalPorts& ports = OpenPorts();
    std::lock_guard lock(ports.mutex);
    LocalPort* key = port.get();
    ports.live.emplace(key, std::move(port));
    return key;
}

// A Windows path with its drive ("C:\\out.prn"), or a host path: what a document names as its output file.
bool IsFileName(const std::string& name) {
    return (name.size() > 2 && name[1] == ':' && (name[2] == '\\' || name[2] == '/')) ||
           (!name.empty() && name[0] == '/');
}

int OpenTarget(const std::string& path, bool truncate) {
    if (path == "-") {
        return dup(STDOUT_FILENO);
    }
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        MakeDirs(path.substr(0, slash));
    }
    struct stat st{};
    if (stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        return open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    return open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND), 0666);
}

BOOL WINAPI LocalOpenPort(LPSTR name, PHANDLE handle) {
    const FaultDecision fault = CheckFault(control::Op::OpenPort);
    if (!name || !handle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    const std::vector<std::string> known = LocalPortNames();
    bool found = Hive().GetValue(PortTargetKey(), name, nullptr);
    for (const std::string& n : known) {
        found = found || EqualsNoCase(n, name);
    }
    auto port = std::make_unique<LocalPort>();
    if (found) {
        port->name = name;
    } else if (IsFileName(name)) {
        port->hostPath = MapPath(name); // a port named with a file's path is that file
    } else {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    *handle = Register(std::move(port));
    return TRUE;
}

// The NT spoolers' forms: UTF-16 names, and the monitor's instance handle first in MONITOR2. The local
// monitor keeps nothing per instance.
BOOL WINAPI LocalOpenPortW(LPWSTR name, PHANDLE handle) {
    std::string text = name ? Utf16ToAnsi(name) : std::string();
    return LocalOpenPort(name ? text.data() : nullptr, handle);
}

// The local monitor's one instance; its handle is this object's address.
constexpr char kInstance = 0;
HANDLE InstanceHandle() { return const_cast<char*>(&kInstance); }

BOOL WINAPI LocalOpenPort2(HANDLE monitor, LPWSTR name, PHANDLE handle) {
    if (monitor != InstanceHandle()) { // a language monitor passed on some other handle than the local one's
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return LocalOpenPortW(name, handle);
}

// The printer's name and the document's information are not needed to send a document to a port.
BOOL StartPortDocument(HANDLE h) {
    const FaultDecision fault = CheckFault(control::Op::StartDocPort);
    LocalPort* port = Lookup(h);
    if (!port) {
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    if (port->fd >= 0) {
        close(port->fd);
    }
    const bool explicitFile = port->name.empty();
    const std::string path = explicitFile ? port->hostPath : PortTargetOf(port->name);
    port->fd = OpenTarget(path, explicitFile);
    if (port->fd < 0) {
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI LocalStartDocPort(HANDLE h, LPSTR, DWORD, DWORD, LPBYTE) { return StartPortDocument(h); }
BOOL WINAPI LocalStartDocPortW(HANDLE h, LPWSTR, DWORD, DWORD, LPBYTE) { return StartPortDocument(h); }

BOOL WINAPI LocalWritePort(HANDLE h, LPBYTE buffer, DWORD count, LPDWORD written) {
    const FaultDecision fault = CheckFault(control::Op::WritePort);
    if (written) {
        *written = 0;
    }
    LocalPort* port = Lookup(h);
    if (!port) {
        return FALSE;
    }
    if (!written || (count && !buffer) || port->fd < 0) {
        SetLastError(port->fd < 0 ? ERROR_SPL_NO_STARTDOC : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    const DWORD want = fault.shorten ? std::min(fault.keep, count) : count;
    DWORD done = 0;
    while (done < want) {
        const ssize_t n = write(port->fd, buffer + done, want - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *written = done;
            SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    *written = done;
    return TRUE;
}

BOOL WINAPI LocalReadPort(HANDLE h, LPBYTE, DWORD, LPDWORD read) {
    const FaultDecision fault = CheckFault(control::Op::ReadPort);
    if (read) {
        *read = 0;
    }
    if (!Lookup(h)) {
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    return TRUE; // files and write-only devices have nothing to say back
}

BOOL WINAPI LocalEndDocPort(HANDLE h) {
    const FaultDecision fault = CheckFault(control::Op::EndDocPort);
    LocalPort* port = Lookup(h);
    if (!port) {
        return FALSE;
    }
    if (port->fd >= 0) {
        close(port->fd);
        port->fd = -1;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI LocalClosePort(HANDLE h) {
    const FaultDecision fault = CheckFault(control::Op::ClosePort);
    LocalPort* port = Lookup(h);
    if (!port) {
        return FALSE;
    }
    if (port->fd >= 0) {
        close(port->fd);
    }
    {
        LocalPorts& ports = OpenPorts();
        std::lock_guard lock(ports.mutex);
        ports.live.erase(port);
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    return TRUE;
}

} // namespace
} // namespace kqwin

// The local port monitor's initialisations, as the spooler calls them: the table of its port functions in the
// form of each spooler. The spooler lists the local ports itself (EnumPortsA), so the monitor has no
// EnumPorts.
extern "C" BOOL WINAPI InitializeLocalMonitor(MONITORA* table) {
    using namespace kqwin;
    if (!table) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *table = MONITORA{nullptr,        LocalOpenPort,   nullptr,        LocalStartDocPort, LocalWritePort,
                      LocalReadPort,  LocalEndDocPort, LocalClosePort, nullptr,           nullptr,
                      nullptr,        nullptr,         nullptr};
    return TRUE;
}

extern "C" BOOL WINAPI InitializeLocalMonitorW(LPMONITOR table) {
    using namespace kqwin;
    if (!table) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *table = MONITOR{};
    table->pfnOpenPort = LocalOpenPortW;
    table->pfnStartDocPort = LocalStartDocPortW;
    table->pfnWritePort = LocalWritePort;
    table->pfnReadPort = LocalReadPort;
    table->pfnEndDocPort = LocalEndDocPort;
    table->pfnClosePort = LocalClosePort;
    return TRUE;
}

extern "C" LPMONITOR2 WINAPI InitializeLocalMonitor2(PMONITORINIT init, PHANDLE monitor) {
    using namespace kqwin;
    if (!init || !monitor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // one table for every instance: it never changes once made
    static const MONITOR2 table = [] {
        MONITOR2 t{};
        t.cbSize = sizeof(MONITOR2);
        t.pfnOpenPort = LocalOpenPort2;
        t.pfnStartDocPort = LocalStartDocPortW;
        t.pfnWritePort = LocalWritePort;
        t.pfnReadPort = LocalReadPort;
        t.pfnEndDocPort = LocalEndDocPort;
        t.pfnClosePort = LocalClosePort;
        return t;
    }();
    *monitor = InstanceHandle();
    return const_cast<MONITOR2*>(&table);
}
