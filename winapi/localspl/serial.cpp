// A COM port's line settings on the host terminal its bytes go to: the port's stored configuration
// (GetDefaultCommConfigA, as the installer's serial settings write it) made the terminal's. The kernel's own
// termios2 is used, which takes any rate. A pseudo-terminal keeps the rate, the stop bits and the flow
// control, but always has eight data bits without parity.
#include "localspl_private.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <utility>
#include <vector>

namespace kqwin {
namespace {

// A standard rate by its own bits (what programs reading the terminal with termios understand); any other
// rate as a number.
tcflag_t RateBits(DWORD rate) {
    static const std::pair<DWORD, tcflag_t> kRates[] = {
        {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto& [r, bits] : kRates) {
        if (r == rate) {
            return bits;
        }
    }
    return BOTHER;
}

} // namespace

bool ApplyLineSettings(int fd, const std::string& port) {
    // the serial configuration calls take the port's name without its colon
    const std::string name = !port.empty() && port.back() == ':' ? port.substr(0, port.size() - 1) : port;
    std::vector<BYTE> buffer(1024);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!GetDefaultCommConfigA(name.c_str(), reinterpret_cast<COMMCONFIG*>(buffer.data()), &size)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(COMMCONFIG)) {
            return false; // not a serial port of this machine: the terminal stays as it is
        }
        buffer.resize(size);
        if (!GetDefaultCommConfigA(name.c_str(), reinterpret_cast<COMMCONFIG*>(buffer.data()), &size)) {
            return false;
        }
    }
    const DCB& dcb = reinterpret_cast<const COMMCONFIG*>(buffer.data())->dcb;
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    // raw: the bytes as they are, nothing echoed or translated, no line discipline of its own
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD);
    t.c_cflag |= CREAD | CLOCAL | RateBits(dcb.BaudRate);
    switch (dcb.ByteSize) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    switch (dcb.Parity) {
    case ODDPARITY:
        t.c_cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        t.c_cflag |= PARENB;
        break;
    case MARKPARITY:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case SPACEPARITY:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // one and a half stop bits (after five data bits) and two are the same bit here
    t.c_cflag |= dcb.StopBits == ONE5STOPBITS || dcb.StopBits == TWOSTOPBITS ? CSTOPB : 0;
    t.c_iflag |= dcb.fOutX ? IXON : 0;
    t.c_iflag |= dcb.fInX ? IXOFF : 0;
    // the host has no DSR flow control of its own: CTS stands for both
    t.c_cflag |= dcb.fOutxCtsFlow || dcb.fOutxDsrFlow ? CRTSCTS : 0;
    t.c_cc[VSTART] = dcb.XonChar ? dcb.XonChar : 0x11;
    t.c_cc[VSTOP] = dcb.XoffChar ? dcb.XoffChar : 0x13;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_ispeed = t.c_ospeed = dcb.BaudRate;
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace kqwin

namespace kqwin {

void FlushInput(int fd) {
    ioctl(fd, TCFLSH, TCIFLUSH);
}

} // namespace kqwin
