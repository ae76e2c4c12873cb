#include "devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <map>
#include <set>

namespace kqapp {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A write that takes nothing for this long means the printer stopped taking data.
constexpr milliseconds kStallAfter{1000};
// How long a write waits between looks at the printer's answers and the job.
constexpr milliseconds kPollStep{100};
// A small send buffer keeps what is on its way short, so that a printer that stops is seen to stop.
constexpr int kSocketSendBuffer = 64 * 1024;
// PAPPL tries again a few seconds later; the idle status poll should not wait long for a printer that is off.
constexpr milliseconds kConnectWait{1500};

// The connections of the devices PAPPL has open, by device; a job shares its connection, so that the
// connection outlives a device PAPPL closes under it.
struct OpenDevices {
    std::mutex mutex;
    std::map<const pappl_device_t*, std::shared_ptr<Connection>> byDevice;
};

OpenDevices& Devices() {
    static OpenDevices devices;
    return devices;
}

std::shared_ptr<Connection> Lookup(const pappl_device_t* device) {
    std::lock_guard lock(Devices().mutex);
    const auto it = Devices().byDevice.find(device);
    return it == Devices().byDevice.end() ? nullptr : it->second;
}

int Wait(milliseconds ms) {
    return int(std::max<milliseconds::rep>(0, ms.count()));
}

// A connection over one file descriptor, written and read with poll so that a write that waits for the
// printer still hears it.
class FdConnection : public Connection {
  public:
    FdConnection(int fd, bool twoWay, bool socket = false) : fd_(fd), twoWay_(twoWay), socket_(socket) {}
    ~FdConnection() override {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FdConnection(const FdConnection&) = delete;
    FdConnection& operator=(const FdConnection&) = delete;

    bool TwoWay() const override { return twoWay_; }

  protected:
    ssize_t WriteOut(const void* bytes, size_t count) override {
        const auto* p = static_cast<const uint8_t*>(bytes);
        size_t done = 0;
        Clock::time_point progress = Clock::now();
        Clock::time_point asked = progress;
        bool stalled = false;
        while (done < count) {
            if (watch_ && watch_->Cancelled()) {
                return -1;
            }
            pollfd pfd{fd_, short(POLLOUT | (twoWay_ ? POLLIN : 0)), 0};
            const int ready = poll(&pfd, 1, Wait(kPollStep));
            if (ready < 0 && errno != EINTR) {
                return -1;
            }
            if (ready > 0 && (pfd.revents & POLLIN)) {
                Drain();
            }
            if (ready > 0 && (pfd.revents & POLLOUT)) {
                const ssize_t n = write(fd_, p + done, count - done);
                if (n > 0) {
                    done += size_t(n);
                    progress = Clock::now();
                    if (stalled) {
                        // it takes data again: what stopped it has gone, as a second line can tell
                        if (status().status().Stopped()) {
                            AskAside(milliseconds(500));
                        }
                        if (watch_) {
                            watch_->Stalled(false);
                        }
                    }
                    stalled = false;
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    return -1;
                }
            } else if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                return -1; // the other end went away
            }
            if (!stalled && Clock::now() - progress >= kStallAfter) {
                stalled = true;
                if (watch_) {
                    watch_->Stalled(true);
                }
            }
            // a printer that stopped taking data may still say why on a line of its own
            if (stalled && Clock::now() - asked >= kStallAfter) {
                AskAside(milliseconds(500));
                asked = Clock::now();
            }
        }
        if (stalled && watch_) {
            watch_->Stalled(false);
        }
        return ssize_t(done);
    }

    ssize_t Read(void* buffer, size_t size, milliseconds wait) override {
        if (!twoWay_) {
            return 0;
        }
        if (socket_) {
            // acknowledge at once: a printer that sends its answers byte by byte waits for each
            // acknowledgement before the next (Nagle), and a delayed one costs 40 ms an answer
            const int one = 1;
            setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof(one));
        }
        pollfd pfd{fd_, POLLIN, 0};
        int ready;
        while ((ready = poll(&pfd, 1, Wait(wait))) < 0 && errno == EINTR) {
        }
        if (ready < 0) {
            return -1;
        }
        if (ready == 0 || !(pfd.revents & POLLIN)) {
            return (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) ? -1 : 0;
        }
        ssize_t n;
        while ((n = read(fd_, buffer, size)) < 0 && errno == EINTR) {
        }
        if (n < 0 && errno == EAGAIN) {
            return 0;
        }
        return n == 0 ? -1 : n; // end of the stream: the printer hung up
    }

  protected:
    int fd() const { return fd_; }

  private:
    // Takes in what the printer has sent so far.
    void Drain() {
        uint8_t buffer[256];
        for (;;) {
            const ssize_t n = read(fd_, buffer, sizeof(buffer));
            if (n <= 0) {
                return;
            }
            Heard(buffer, size_t(n));
        }
    }

    int fd_;
    bool twoWay_;
    bool socket_;
};

// ---- file: ---------------------------------------------------------------------------------------

std::unique_ptr<Connection> OpenFile(const char* uri, std::string* why) {
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), host, sizeof(host),
                        &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK ||
        resource[0] != '/') {
        *why = "not a file URI: file:///PATH";
        return nullptr;
    }
    // a file keeps every job, one after the other, as a printer's port does; nothing is read back from it
    const int fd = open(resource, O_WRONLY | O_CREAT | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        *why = std::string(resource) + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<FdConnection>(fd, false);
}

// ---- socket:// -----------------------------------------------------------------------------------

// Connects a non-blocking TCP socket to `address` within `wait`; -1 and `why` when it cannot.
int Connect(const sockaddr* address, socklen_t size, int family, milliseconds wait, std::string* why) {
    const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    const int sendBuffer = kSocketSendBuffer;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof(sendBuffer));
    if (connect(fd, address, size) == 0) {
        return fd;
    }
    if (errno == EINPROGRESS) {
        pollfd pfd{fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof(error);
        if (poll(&pfd, 1, Wait(wait)) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) {
            return fd;
        }
        *why = error ? std::strerror(error) : "no answer";
    } else {
        *why = std::strerror(errno);
    }
    close(fd);
    return -1;
}

// A network printer: the job's line, and the printer's address for a second line to ask on.
class SocketConnection final : public FdConnection {
  public:
    SocketConnection(int fd, const sockaddr* address, socklen_t size, int family)
        : FdConnection(fd, true, true), size_(size), family_(family) {
        std::memcpy(&address_, address, std::min<size_t>(size, sizeof(address_)));
    }

    bool AskAside(milliseconds wait) override {
        std::string why;
        const int fd = Connect(reinterpret_cast<const sockaddr*>(&address_), size_, family_, wait, &why);
        if (fd < 0) {
            return false;
        }
        const std::vector<uint8_t>& ask = StatusRequest();
        StatusReader reader;
        bool answered = send(fd, ask.data(), ask.size(), MSG_NOSIGNAL) == ssize_t(ask.size());
        if (answered) {
            reader.Asked();
            const Clock::time_point until = Clock::now() + wait;
            while (!reader.Answered() && Clock::now() < until) {
                pollfd pfd{fd, POLLIN, 0};
                uint8_t buffer[16];
                const int left = int(std::chrono::duration_cast<milliseconds>(until - Clock::now()).count());
                if (poll(&pfd, 1, std::max(left, 0)) <= 0) {
                    break;
                }
                const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
                if (n <= 0) {
                    break;
                }
                reader.Feed(buffer, size_t(n));
            }
            answered = reader.Answered();
        }
        close(fd);
        if (answered) {
            Told(reader.status());
        }
        return answered;
    }

  private:
    sockaddr_storage address_{};
    socklen_t size_;
    int family_;
};

std::unique_ptr<Connection> OpenSocket(const char* uri, std::string* why) {
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), host, sizeof(host),
                        &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK ||
        !host[0]) {
        *why = "not a socket URI: socket://HOST[:PORT]";
        return nullptr;
    }
    if (port <= 0) {
        port = 9100;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host, service.c_str(), &hints, &found); rc != 0) {
        *why = std::string(host) + ": " + gai_strerror(rc);
        return nullptr;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    *why = std::string(host) + ":" + service + ": no answer";
    for (const addrinfo* a = found; a; a = a->ai_next) {
        std::string error;
        const int fd = Connect(a->ai_addr, a->ai_addrlen, a->ai_family, kConnectWait, &error);
        if (fd >= 0) {
            return std::make_unique<SocketConnection>(fd, a->ai_addr, a->ai_addrlen, a->ai_family);
        }
        *why = std::string(host) + ":" + service + ": " + error;
    }
    return nullptr;
}

// ---- serial: -------------------------------------------------------------------------------------

speed_t Speed(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

std::unique_ptr<Connection> OpenSerial(const char* uri, std::string* why) {
    const std::optional<SerialSettings> s = ParseSerialUri(uri, why);
    if (!s) {
        return nullptr;
    }
    const int fd = open(s->path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = s->path + ": " + std::strerror(errno);
        return nullptr;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        *why = s->path + ": not a serial line: " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, Speed(s->baud));
    cfsetospeed(&tio, Speed(s->baud));
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= (s->dataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    if (s->parity != 'N') {
        tio.c_cflag |= PARENB | (s->parity == 'O' ? PARODD : 0);
    }
    if (s->stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    if (s->flow == SerialSettings::Flow::RtsCts) {
        tio.c_cflag |= CRTSCTS;
    } else if (s->flow == SerialSettings::Flow::XonXoff) {
        tio.c_iflag |= IXON; // the printer's XOFF holds our output; the line discipline takes XON/XOFF out
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        *why = s->path + ": the line settings were refused: " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    tcflush(fd, TCIFLUSH); // what the printer said before this is stale
    return std::make_unique<FdConnection>(fd, true);
}

// Serial lines of this machine, for the device list.
bool ListSerial(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t, void*) {
    DIR* dir = opendir("/dev");
    if (!dir) {
        return false;
    }
    std::set<std::string> names;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
            if (name.rfind(prefix, 0) == 0 && name.size() > std::strlen(prefix)) {
                names.insert(name);
            }
        }
    }
    closedir(dir);
    for (const std::string& name : names) {
        SerialSettings s;
        s.path = "/dev/" + name;
        // a ttyS without a UART behind it refuses its settings
        const int fd = open(s.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        const bool line = fd >= 0 && tcgetattr(fd, &tio) == 0;
        if (fd >= 0) {
            close(fd);
        }
        if (line) {
            const std::string uri = SerialUri(s);
            const std::string info = "Serial port " + s.path;
            if (cb(info.c_str(), uri.c_str(), "", data)) {
                return true;
            }
        }
    }
    return false;
}

// ---- the PAPPL side --------------------------------------------------------------------------------

// Opens a device URI of the application's schemes; null, with `why`, when it cannot.
std::unique_ptr<Connection> OpenUri(const char* uri, std::string* why) {
    const std::string u = uri ? uri : "";
    if (u.rfind("file:", 0) == 0) {
        return OpenFile(uri, why);
    }
    if (u.rfind("socket:", 0) == 0) {
        return OpenSocket(uri, why);
    }
    if (u.rfind("serial:", 0) == 0) {
        return OpenSerial(uri, why);
    }
    *why = "not a device URI of this application: " + u;
    return nullptr;
}

bool OpenDevice(pappl_device_t* device, const char* uri, const char*) {
    std::string why;
    std::shared_ptr<Connection> connection = OpenUri(uri, &why);
    if (!connection) {
        papplDeviceError(device, "%s", why.c_str());
        return false;
    }
    std::lock_guard lock(Devices().mutex);
    Devices().byDevice[device] = std::move(connection);
    return true;
}

void CloseDevice(pappl_device_t* device) {
    std::shared_ptr<Connection> last;
    {
        std::lock_guard lock(Devices().mutex);
        const auto it = Devices().byDevice.find(device);
        if (it != Devices().byDevice.end()) {
            last = std::move(it->second); // closed here unless a job still holds it
            Devices().byDevice.erase(it);
        }
    }
}

ssize_t ReadDevice(pappl_device_t* device, void* buffer, size_t bytes) {
    const std::shared_ptr<Connection> c = Lookup(device);
    return c ? c->Receive(buffer, bytes, milliseconds(100)) : -1;
}

ssize_t WriteDevice(pappl_device_t* device, const void* buffer, size_t bytes) {
    const std::shared_ptr<Connection> c = Lookup(device);
    return c ? c->Write(buffer, bytes) : -1;
}

} // namespace

std::optional<SerialSettings> ParseSerialUri(const std::string& uri, std::string* why) {
    const std::string scheme = "serial:";
    if (uri.rfind(scheme, 0) != 0) {
        *why = "not a serial URI";
        return std::nullopt;
    }
    SerialSettings s;
    std::string rest = uri.substr(scheme.size());
    const size_t question = rest.find('?');
    s.path = rest.substr(0, question);
    if (s.path.rfind("//", 0) == 0) {
        s.path.erase(0, 2); // serial:///dev/ttyS0 as well as serial:/dev/ttyS0
    }
    if (s.path.empty() || s.path[0] != '/') {
        *why = "a serial URI names its device: serial:/dev/ttyS0?baud=9600";
        return std::nullopt;
    }
    const std::string options = question == std::string::npos ? "" : rest.substr(question + 1);
    size_t at = 0;
    while (at < options.size()) {
        const size_t end = std::min(options.find('+', at), options.find('&', at));
        const std::string item = options.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? options.size() : end + 1;
        if (item.empty()) {
            continue;
        }
        const size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        auto number = [&](int* out, std::initializer_list<int> allowed) {
            char* e = nullptr;
            const long v = std::strtol(value.c_str(), &e, 10);
            if (value.empty() || *e || std::find(allowed.begin(), allowed.end(), v) == allowed.end()) {
                return false;
            }
            *out = int(v);
            return true;
        };
        bool ok = true;
        if (name == "baud") {
            ok = number(&s.baud, {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200});
        } else if (name == "bits") {
            ok = number(&s.dataBits, {7, 8});
        } else if (name == "stop") {
            ok = number(&s.stopBits, {1, 2});
        } else if (name == "parity") {
            ok = value == "none" || value == "even" || value == "odd";
            s.parity = value == "even" ? 'E' : value == "odd" ? 'O' : 'N';
        } else if (name == "flow") {
            if (value == "none") {
                s.flow = SerialSettings::Flow::None;
            } else if (value == "soft" || value == "xonxoff") {
                s.flow = SerialSettings::Flow::XonXoff;
            } else if (value == "hard" || value == "rtscts") {
                s.flow = SerialSettings::Flow::RtsCts;
            } else {
                ok = false; // dtrdsr: the serial driver has no such flow control
            }
        } else {
            *why = "unknown serial setting \"" + name + "\" (baud, bits, parity, stop, flow)";
            return std::nullopt;
        }
        if (!ok) {
            *why = "bad serial setting " + item;
            return std::nullopt;
        }
    }
    return s;
}

std::string SerialUri(const SerialSettings& s) {
    const char* flow = s.flow == SerialSettings::Flow::None      ? "none"
                       : s.flow == SerialSettings::Flow::XonXoff ? "soft"
                                                                 : "hard";
    const char* parity = s.parity == 'E' ? "even" : s.parity == 'O' ? "odd" : "none";
    return "serial:" + s.path + "?baud=" + std::to_string(s.baud) + "+bits=" + std::to_string(s.dataBits) +
           "+parity=" + parity + "+stop=" + std::to_string(s.stopBits) + "+flow=" + flow;
}

void Connection::Heard(const uint8_t* bytes, size_t count) {
    if (status_.Feed(bytes, count) && watch_) {
        watch_->StatusChanged(status_.status());
    }
}

void Connection::Told(const PrinterStatus& status) {
    if (status_.Adopt(status) && watch_) {
        watch_->StatusChanged(status_.status());
    }
}

ssize_t Connection::Receive(void* buffer, size_t size, milliseconds wait) {
    const ssize_t n = Read(buffer, size, wait);
    if (n > 0) {
        Heard(static_cast<const uint8_t*>(buffer), size_t(n));
    }
    return n;
}

bool Connection::Listen(milliseconds wait) {
    uint8_t buffer[64];
    ssize_t n = Read(buffer, sizeof(buffer), wait);
    while (n > 0) {
        Heard(buffer, size_t(n));
        n = Read(buffer, sizeof(buffer), milliseconds(0));
    }
    return n >= 0;
}

bool Connection::Query(milliseconds wait) {
    if (!TwoWay()) {
        return false;
    }
    if (!Send(StatusRequest())) {
        return false;
    }
    const Clock::time_point until = Clock::now() + wait;
    while (!status_.Answered()) {
        const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        uint8_t buffer[64];
        const ssize_t n = Read(buffer, sizeof(buffer), left);
        if (n < 0) {
            return false;
        }
        Heard(buffer, size_t(n));
    }
    return true;
}

std::shared_ptr<Connection> AcquireConnection(pappl_device_t* device, pappl_printer_t* printer) {
    if (std::shared_ptr<Connection> c = device ? Lookup(device) : nullptr) {
        return c;
    }
    std::string why;
    std::shared_ptr<Connection> own = OpenUri(printer ? papplPrinterGetDeviceURI(printer) : nullptr, &why);
    if (!own && printer) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
    }
    return own;
}

void AddDeviceSchemes() {
    papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, OpenDevice, CloseDevice, ReadDevice, WriteDevice,
                         nullptr, nullptr);
    papplDeviceAddScheme("socket", PAPPL_DEVTYPE_SOCKET, nullptr, OpenDevice, CloseDevice, ReadDevice, WriteDevice,
                         nullptr, nullptr);
    papplDeviceAddScheme("serial", PAPPL_DEVTYPE_CUSTOM_LOCAL, ListSerial, OpenDevice, CloseDevice, ReadDevice,
                         WriteDevice, nullptr, nullptr);
}

} // namespace kqapp
