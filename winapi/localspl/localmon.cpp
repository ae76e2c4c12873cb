// The local port monitor: sends a port's documents to the host file or device configured for the port.
// A port behaves as a device: each document is added to what the port has already sent. A port named with
// a file's path (a document's output file) is that file, written afresh for each document.
//
// A device may talk back and may stop taking data: a terminal (a serial device or a pseudo-terminal, set to
// a COM port's stored line settings) or a printer on a raw TCP port (socket://HOST:PORT). Its writes wait
// while it takes nothing, and say so to the stall observer about once a second, which may give up; what it
// sends back is read with ReadPort. At a document's end a TCP printer is told that nothing more comes, and
// the port waits for it to close the connection once it has taken everything.
//
// A port that the program serves itself (a port sink) gets its documents' bytes through the sink, which also
// answers ReadPort, in place of its file or device.
#include "localspl_private.h"

#include "observers.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <unordered_map>

namespace kqwin {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSocketScheme[] = "socket://";
// How long a wait lasts before the stall observer hears of it again.
constexpr auto kStallReport = std::chrono::seconds(1);
// How long ReadPort waits for the device to say something.
constexpr int kReadWaitMs = 500;
constexpr int kConnectWaitMs = 10000;
// A small send buffer for TCP printers, so that the port's writes follow what the printer takes, as a
// serial port's do.
constexpr int kSocketSendBuffer = 4096;

enum class Device { File, Terminal, Socket, Other };

struct LocalPort {
    std::string name;     // port name, empty for a file named by its path
    std::string hostPath; // the file's host path
    int fd = -1;
    Device device = Device::File;
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

// "socket://HOST:PORT" (HOST may be [v6]): a connected socket, or -1 with the last error set.
int ConnectSocket(const std::string& target) {
    const std::string where = target.substr(sizeof(kSocketScheme) - 1);
    const size_t colon = where.rfind(':');
    std::string host = colon == std::string::npos ? std::string() : where.substr(0, colon);
    const std::string service = colon == std::string::npos ? std::string() : where.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || service.empty() || getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
        SetLastError(ERROR_BAD_NETPATH);
        return -1;
    }
    DWORD error = ERROR_BAD_NETPATH;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketSendBuffer, sizeof(kSocketSendBuffer));
        int rc = connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int soError = ETIMEDOUT;
            socklen_t size = sizeof(soError);
            if (poll(&p, 1, kConnectWaitMs) == 1) {
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size);
            }
            errno = soError;
            rc = soError == 0 ? 0 : -1;
        }
        if (rc != 0) {
            error = errno == ECONNREFUSED ? ERROR_CONNECTION_REFUSED
                    : errno == ETIMEDOUT  ? ERROR_SEM_TIMEOUT
                                          : error;
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        SetLastError(error);
    }
    return fd;
}

int OpenTarget(const std::string& path, bool truncate, Device* device) {
    *device = Device::File;
    if (path == "-") {
        return dup(STDOUT_FILENO);
    }
    if (path.rfind(kSocketScheme, 0) == 0) {
        *device = Device::Socket;
        return ConnectSocket(path);
    }
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        MakeDirs(path.substr(0, slash));
    }
    struct stat st{};
    if (stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); // a device that only takes
        }
        *device = fd >= 0 && isatty(fd) ? Device::Terminal : Device::Other;
        return fd;
    }
    return open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND), 0666);
}

// A wait on the port's device that has lasted `stalled`: false when the observer gives up.
bool WaitOn(const LocalPort& port, Clock::duration stalled) {
    LocalsplObserver* observer = LocalsplHook().Get();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(stalled).count();
    const std::string& name = port.name.empty() ? port.hostPath : port.name;
    return !observer || observer->PortStalled(name, static_cast<DWORD>(ms));
}

// Waits up to `ms` for `events` on the device; the events it has.
short Poll(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    return poll(&p, 1, ms) == 1 ? p.revents : 0;
}

ssize_t Send(const LocalPort& port, const BYTE* data, size_t size) {
    if (port.device == Device::Socket) {
        return send(port.fd, data, size, MSG_NOSIGNAL); // a printer that has gone is an error, not a signal
    }
    return write(port.fd, data, size);
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
        port->fd = -1;
    }
    port->sink = port->name.empty() ? nullptr : PortSinkOf(port->name);
    if (port->sink) {
        return TRUE;
    }
    const bool explicitFile = port->name.empty();
    const std::string path = explicitFile ? port->hostPath : PortTargetOf(port->name);
    port->fd = OpenTarget(path, explicitFile, &port->device);
    if (port->fd < 0) {
        if (port->device != Device::Socket) {
            SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        }
        return FALSE;
    }
    if (port->device == Device::Terminal && !explicitFile) {
        ApplyLineSettings(port->fd, port->name);
    }
    if (port->device == Device::Terminal) {
        FlushInput(port->fd); // what the printer said before this document is not an answer to it
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
    Clock::time_point progress = Clock::now();
    Clock::time_point reported = progress;
    while (done < want) {
        const ssize_t n = Send(*port, buffer + done, want - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            progress = reported = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            *written = done;
            SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
        // the device takes nothing now: wait for it, and say so now and then
        Poll(port->fd, POLLOUT, 1000);
        const Clock::time_point now = Clock::now();
        if (now - reported >= kStallReport) {
            reported = now;
            if (!WaitOn(*port, now - progress)) {
                *written = done;
                SetLastError(ERROR_TIMEOUT);
                return FALSE;
            }
        }
    }
    *written = done;
    return TRUE;
}

BOOL WINAPI LocalReadPort(HANDLE h, LPBYTE buffer, DWORD count, LPDWORD read) {
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
    if (port->sink && port->sink->read && read && (buffer || count == 0)) {
        DWORD got = 0;
        const BOOL ok = port->sink->read(buffer, count, &got);
        *read = std::min(got, count);
        if (!ok) {
            SetLastError(ERROR_READ_FAULT);
        }
        return ok;
    }
    if (port->device == Device::File || port->fd < 0 || count == 0) {
        return TRUE; // files have nothing to say back
    }
    if (!read || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // what the device says within a little while; nothing is no failure
    if (!(Poll(port->fd, POLLIN, kReadWaitMs) & (POLLIN | POLLHUP | POLLERR))) {
        return TRUE;
    }
    ssize_t n;
    do {
        n = port->device == Device::Socket ? recv(port->fd, buffer, count, 0)
                                           : ::read(port->fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    *read = n > 0 ? static_cast<DWORD>(n) : 0;
    return TRUE;
}

// A TCP printer's end of a document: it hears that nothing more comes, and the port waits until it has
// taken everything and closed its end (what it still sends is read and dropped). False when the stall
// observer gave up first.
bool FinishSocket(const LocalPort& port) {
    shutdown(port.fd, SHUT_WR);
    Clock::time_point progress = Clock::now();
    Clock::time_point reported = progress;
    BYTE sink[512];
    for (;;) {
        const ssize_t n = recv(port.fd, sink, sizeof(sink), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return true;
        }
        if (n > 0) {
            progress = reported = Clock::now();
            continue;
        }
        Poll(port.fd, POLLIN, 1000);
        const Clock::time_point now = Clock::now();
        if (now - reported >= kStallReport) {
            reported = now;
            if (!WaitOn(port, now - progress)) {
                return false;
            }
        }
    }
}

BOOL WINAPI LocalEndDocPort(HANDLE h) {
    const FaultDecision fault = CheckFault(control::Op::EndDocPort);
    LocalPort* port = Lookup(h);
    if (!port) {
        return FALSE;
    }
    bool finished = true;
    if (port->fd >= 0) {
        finished = port->device != Device::Socket || FinishSocket(*port);
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
    if (!finished) {
        SetLastError(ERROR_TIMEOUT);
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
