// The local port monitor: sends a port's documents to the host file or device configured for the port.
// A port behaves as a device: each document is added to what the port has already sent. A port named with
// a file's path (a document's output file) is that file, written afresh for each document. A port that the
// program serves itself (a port sink) gets its documents' bytes through the sink, which also answers ReadPort.
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
    std::shared_ptr<const control::PortSink> sink; // during a document of a port the program serves
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
    bool found = Hive().GetValue(PortTargetKey(), name, nullptr) || PortSinkOf(name);
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

BOOL WINAPI LocalStartDocPort(HANDLE h, LPSTR, DWORD, DWORD, LPBYTE) {
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
        port->fd = -1;
    }
    port->sink = port->name.empty() ? nullptr : PortSinkOf(port->name);
    if (port->sink) {
        return TRUE;
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

BOOL WINAPI LocalWritePort(HANDLE h, LPBYTE buffer, DWORD count, LPDWORD written) {
    const FaultDecision fault = CheckFault(control::Op::WritePort);
    if (written) {
        *written = 0;
    }
    LocalPort* port = Lookup(h);
    if (!port) {
        return FALSE;
    }
    const bool open = port->fd >= 0 || port->sink;
    if (!written || (count && !buffer) || !open) {
        SetLastError(!open ? ERROR_SPL_NO_STARTDOC : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    const DWORD want = fault.shorten ? std::min(fault.keep, count) : count;
    if (port->sink) {
        DWORD sent = 0;
        const BOOL ok = port->sink->write(buffer, want, &sent);
        *written = std::min(sent, want);
        if (!ok) {
            SetLastError(ERROR_WRITE_FAULT);
        }
        return ok;
    }
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

BOOL WINAPI LocalReadPort(HANDLE h, LPBYTE buffer, DWORD size, LPDWORD read) {
    const FaultDecision fault = CheckFault(control::Op::ReadPort);
    if (read) {
        *read = 0;
    }
    LocalPort* port = Lookup(h);
    if (!port) {
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    if (port->sink && port->sink->read && read && (buffer || size == 0)) {
        DWORD got = 0;
        const BOOL ok = port->sink->read(buffer, size, &got);
        *read = std::min(got, size);
        if (!ok) {
            SetLastError(ERROR_READ_FAULT);
        }
        return ok;
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
    if (port->sink) {
        if (port->sink->endDoc) {
            port->sink->endDoc();
        }
        port->sink = nullptr;
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

// The local port monitor's initialisation, as the spooler calls it: the table of its port functions. The
// spooler lists the local ports itself (EnumPortsA), so the monitor has no EnumPorts.
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
