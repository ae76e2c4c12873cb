// termios2 (the kernel's own, with any rate) is used here alone: its header cannot meet <termios.h>.
#include "pty.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace vkqt50 {
namespace {

bool Get(int fd, termios2* t) {
    return ioctl(fd, TCGETS2, t) == 0;
}

} // namespace

std::optional<Pty> Pty::Open(const LineSettings& line, std::string* error) {
    Pty pty;
    pty.master_ = Fd(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    const char* name = pty.master_ && grantpt(pty.master_.get()) == 0 && unlockpt(pty.master_.get()) == 0
                           ? ptsname(pty.master_.get())
                           : nullptr;
    if (name) {
        pty.path_ = name;
        pty.slave_ = Fd(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    }
    termios2 t{};
    if (!pty.slave_ || !Get(pty.slave_.get(), &t)) {
        *error = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
        return std::nullopt;
    }
    // raw: every byte through as it is, nothing echoed, no line editing, no signals
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD);
    t.c_cflag |= CREAD | CLOCAL | BOTHER;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[line.dataBits - 5];
    if (line.parity != Parity::None) {
        t.c_cflag |= PARENB;
        t.c_cflag |= line.parity == Parity::Odd || line.parity == Parity::Mark ? PARODD : 0;
        t.c_cflag |= line.parity == Parity::Mark || line.parity == Parity::Space ? CMSPAR : 0;
    }
    t.c_cflag |= line.stopHalves > 2 ? CSTOPB : 0;
    t.c_iflag |= line.flow == Flow::XonXoff ? IXON : 0;
    t.c_cflag |= line.flow == Flow::Hardware ? CRTSCTS : 0;
    t.c_ispeed = t.c_ospeed = line.rate;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (ioctl(pty.slave_.get(), TCSETS2, &t) != 0) {
        *error = std::string("cannot set the pseudo-terminal's line: ") + std::strerror(errno);
        return std::nullopt;
    }
    return pty;
}

SenderSettings Pty::Sender() const {
    SenderSettings s;
    termios2 t{};
    if (!Get(slave_.get(), &t)) {
        return s;
    }
    s.rate = t.c_ospeed;
    s.twoStopBits = t.c_cflag & CSTOPB;
    s.xonXoff = t.c_iflag & IXON;
    s.hardware = t.c_cflag & CRTSCTS;
    return s;
}

std::string SenderSettings::Text() const {
    return std::to_string(rate) + " bit/s, " + (twoStopBits ? "2 stop bits" : "1 stop bit") +
           (xonXoff    ? ", XON/XOFF"
            : hardware ? ", hardware flow control"
                       : ", no flow control");
}

bool Pty::Hold(bool stop) {
    return ioctl(slave_.get(), TCXONC, stop ? TCOOFF : TCOON) == 0;
}

} // namespace vkqt50
