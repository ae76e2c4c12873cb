// The local port monitor and a device that talks back: a terminal set to the COM port's stored line
// settings, a printer on a raw TCP port, what they send read through the port, and a device that stops
// taking data.
#include "machine.h"

#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <fcntl.h>
#include <thread>

namespace kqtest {
namespace {

// A pseudo-terminal: the test plays the device at its master end; the port's target is the other end.
class Terminal {
  public:
    Terminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            path_ = ptsname(master_);
            slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY); // keeps the line up, and shows its settings
            termios t{};
            tcgetattr(slave_, &t);
            cfmakeraw(&t); // nothing echoed back before the port sets it
            tcsetattr(slave_, TCSANOW, &t);
        }
    }
    ~Terminal() {
        close(slave_);
        close(master_);
    }
    bool ok() const { return slave_ >= 0; }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    termios Settings() const {
        termios t{};
        tcgetattr(slave_, &t);
        return t;
    }
    // Stops or restarts the output of the port's end, as a device's busy line does.
    void Hold(bool stop) const { tcflow(slave_, stop ? TCOOFF : TCOON); }
    // What came in within `ms`.
    Bytes Take(int ms = 200) const {
        Bytes out;
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, ms) == 1) {
            BYTE buf[4096];
            const ssize_t n = read(master_, buf, sizeof(buf));
            if (n <= 0) {
                break;
            }
            out.insert(out.end(), buf, buf + n);
            ms = 50;
        }
        return out;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

class LocalMonitorTest : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        control::PrinterSetup setup;
        setup.name = "Receipt";
        setup.port = "COM1:";
        ASSERT_TRUE(control::AddTestPrinter(setup));
    }

    // The printer's port, opened as the spooler opens it for a print processor, with a document started.
    HANDLE OpenPort() {
        std::u16string name = u"COM1:, Port";
        HANDLE h = nullptr;
        EXPECT_TRUE(OpenPrinterW(name.data(), &h, nullptr));
        std::u16string doc = u"doc";
        DOC_INFO_1W info{doc.data(), nullptr, nullptr};
        start_ = StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&info));
        return h;
    }
    static void StoreLine(DWORD rate, BYTE bits, BYTE parity, BYTE stop, bool xon, bool hardware) {
        Bytes config = control::DefaultCommConfigBytes();
        auto* cc = reinterpret_cast<COMMCONFIG*>(config.data());
        cc->dcb.BaudRate = rate;
        cc->dcb.ByteSize = bits;
        cc->dcb.Parity = parity;
        cc->dcb.StopBits = stop;
        cc->dcb.fOutX = cc->dcb.fInX = xon;
        cc->dcb.fOutxCtsFlow = cc->dcb.fOutxDsrFlow = hardware;
        ASSERT_TRUE(SetDefaultCommConfigA("COM1", cc, static_cast<DWORD>(config.size())));
    }

    DWORD start_ = 0;
};

TEST_F(LocalMonitorTest, ATerminalGetsThePortsLineSettingsAndWhatItSaysIsReadThroughThePort) {
    Terminal tty;
    ASSERT_TRUE(tty.ok());
    // a pseudo-terminal keeps the rate, the stop bits and the flow control (its data bits and parity are
    // always eight and none)
    struct Case {
        DWORD rate;
        BYTE bits, parity, stop;
        bool xon, hardware;
        speed_t speed;
        tcflag_t stopFlag, hardwareFlag, xonFlag;
    } const cases[] = {
        {19200, 7, EVENPARITY, TWOSTOPBITS, true, false, B19200, CSTOPB, 0, IXON},
        {115200, 8, NOPARITY, ONESTOPBIT, false, true, B115200, 0, CRTSCTS, 0},
        {1200, 8, ODDPARITY, ONESTOPBIT, false, false, B1200, 0, 0, 0},
    };
    control::SetPortTarget("COM1:", tty.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        StoreLine(c.rate, c.bits, c.parity, c.stop, c.xon, c.hardware);
        // what the device said before the document is no answer to it
        ASSERT_EQ(write(tty.master(), "old", 3), 3);
        HANDLE h = OpenPort();
        ASSERT_NE(start_, 0u);
        const termios t = tty.Settings();
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & CSTOPB, c.stopFlag);
        EXPECT_EQ(t.c_cflag & CRTSCTS, c.hardwareFlag);
        EXPECT_EQ(t.c_iflag & IXON, c.xonFlag);
        EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u) << "raw";
        EXPECT_EQ(t.c_oflag & OPOST, 0u) << "raw: a line feed stays one byte";
        Bytes job = Pattern(600, c.rate);
        DWORD written = 0;
        ASSERT_TRUE(WritePrinter(h, job.data(), static_cast<DWORD>(job.size()), &written));
        EXPECT_EQ(written, job.size());
        EXPECT_EQ(Hex(tty.Take()), Hex(job));
        ASSERT_EQ(write(tty.master(), "\x12\x16", 2), 2);
        BYTE reply[16];
        DWORD read = 0;
        ASSERT_TRUE(ReadPrinter(h, reply, sizeof(reply), &read));
        EXPECT_EQ(Hex(Bytes(reply, reply + read)), "1216");
        ASSERT_TRUE(ReadPrinter(h, reply, sizeof(reply), &read));
        EXPECT_EQ(read, 0u) << "nothing more to say: an empty read, no failure";
        EXPECT_TRUE(EndDocPrinter(h));
        ClosePrinter(h);
    }
}

TEST_F(LocalMonitorTest, ADeviceThatTakesNothingMakesThePortWaitAndTellItsObserver) {
    Terminal tty;
    ASSERT_TRUE(tty.ok());
    control::SetPortTarget("COM1:", tty.path());
    std::vector<std::pair<std::string, DWORD>> stalls;
    control::SetPortStallHandler([&](const std::string& port, DWORD ms) {
        stalls.emplace_back(port, ms);
        return stalls.size() < 2; // gives up the second time it is told
    });
    HANDLE h = OpenPort();
    ASSERT_NE(start_, 0u);
    tty.Hold(true);
    Bytes job = Pattern(100000);
    DWORD written = 12345;
    EXPECT_FALSE(WritePrinter(h, job.data(), static_cast<DWORD>(job.size()), &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    ASSERT_EQ(stalls.size(), 2u);
    EXPECT_EQ(stalls[0].first, "COM1:");
    EXPECT_GE(stalls[0].second, 1000u);
    EXPECT_GT(stalls[1].second, stalls[0].second);
    tty.Hold(false);
    // what it says it wrote is what the device got: nothing lost, nothing twice when the rest follows
    const Bytes got = tty.Take();
    EXPECT_EQ(got.size(), written);
    EXPECT_EQ(Hex(got), Hex(Bytes(job.begin(), job.begin() + written)));
    EXPECT_TRUE(EndDocPrinter(h));
    ClosePrinter(h);
    control::SetPortStallHandler(nullptr);
}

TEST_F(LocalMonitorTest, APrinterOnATcpPortIsWrittenReadAndToldTheDocumentHasEnded) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(addr);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    control::SetPortTarget("COM1:", "socket://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)));
    // the printer: takes the document, answers, and closes once the port says the document has ended
    Bytes received;
    std::atomic<bool> closed{false};
    std::thread printer([&] {
        const int c = accept(listener, nullptr, nullptr);
        BYTE buf[4096];
        for (ssize_t n; (n = read(c, buf, sizeof(buf))) > 0;) {
            received.insert(received.end(), buf, buf + n);
            if (received.size() == 5) {
                [[maybe_unused]] const ssize_t w = write(c, "\x7e", 1);
            }
        }
        closed = true;
        close(c);
    });
    HANDLE h = OpenPort();
    ASSERT_NE(start_, 0u);
    Bytes job = B("ab\x10\x04\x04");
    DWORD written = 0;
    ASSERT_TRUE(WritePrinter(h, job.data(), static_cast<DWORD>(job.size()), &written));
    BYTE reply[4] = {};
    DWORD read = 0;
    for (int i = 0; i < 10 && read == 0; ++i) {
        ASSERT_TRUE(ReadPrinter(h, reply, sizeof(reply), &read));
    }
    EXPECT_EQ(Hex(Bytes(reply, reply + read)), "7e");
    EXPECT_TRUE(EndDocPrinter(h));
    EXPECT_TRUE(closed) << "the document ends once the printer has closed its end";
    printer.join();
    EXPECT_EQ(Hex(received), Hex(job));
    ClosePrinter(h);
    close(listener);
    // no printer there any more: the document cannot start
    h = OpenPort();
    EXPECT_EQ(start_, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONNECTION_REFUSED));
    ClosePrinter(h);
}

} // namespace
} // namespace kqtest
