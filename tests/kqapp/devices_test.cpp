// The application's device schemes: serial URIs and their line settings, and a network printer that stops
// taking data while it is out of paper, says so by automatic status back, and goes on when paper is loaded.
#include "devices.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace kqapp {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

TEST(SerialUriTest, SettingsAreReadAsCupsWritesThem) {
    struct Case {
        const char* uri;
        bool ok;
        SerialSettings expected;
    };
    using F = SerialSettings::Flow;
    const Case cases[] = {
        {"serial:/dev/ttyS0", true, {"/dev/ttyS0", 9600, 8, 'N', 1, F::RtsCts}},
        {"serial:/dev/ttyUSB0?baud=115200+bits=7+parity=even+stop=2+flow=soft", true,
         {"/dev/ttyUSB0", 115200, 7, 'E', 2, F::XonXoff}},
        {"serial:///dev/ttyS1?baud=19200&flow=none&parity=odd", true, {"/dev/ttyS1", 19200, 8, 'O', 1, F::None}},
        {"serial:/dev/ttyS0?baud=12345", false, {}},
        {"serial:/dev/ttyS0?bits=9", false, {}},
        {"serial:/dev/ttyS0?flow=dtrdsr", false, {}},
        {"serial:/dev/ttyS0?speed=9600", false, {}},
        {"serial:ttyS0", false, {}},
        {"socket://host", false, {}},
    };
    for (const Case& c : cases) {
        std::string why;
        const std::optional<SerialSettings> s = ParseSerialUri(c.uri, &why);
        EXPECT_EQ(s.has_value(), c.ok) << c.uri << ": " << why;
        if (s && c.ok) {
            EXPECT_EQ(*s, c.expected) << c.uri;
            EXPECT_EQ(ParseSerialUri(SerialUri(*s), &why), s) << "written and read back: " << SerialUri(*s);
        }
    }
}

// What a job would be told while its bytes go out.
struct Watch final : DeviceWatch {
    std::mutex mutex;
    std::atomic<bool> cancelled{false};
    bool sawStall = false;
    bool sawPaperOut = false;
    int stallsEnded = 0;
    bool Cancelled() override { return cancelled; }
    void Stalled(bool stalled) override {
        std::lock_guard lock(mutex);
        sawStall = sawStall || stalled;
        stallsEnded += stalled ? 0 : 1;
    }
    void StatusChanged(const PrinterStatus& s) override {
        std::lock_guard lock(mutex);
        sawPaperOut = sawPaperOut || s.paperOut;
    }
};

// A KQT-50 on a network port: it answers DLE EOT, and while out of paper it stops reading, after saying so
// by automatic status back (when it has it); it goes on reading when paper is loaded. A second sender's
// status requests it answers at once, whatever the first sender's data waits for.
class FakePrinter {
  public:
    FakePrinter() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096; // a printer's receive buffer is small: it holds the sender off soon
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        socklen_t len = sizeof(a);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(listener_, 4);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakePrinter() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
    // Runs out of paper after this many bytes, for this long.
    void PaperOutAfter(size_t bytes, std::chrono::milliseconds out) {
        paperOutAt_ = bytes;
        outFor_ = out;
    }
    bool answers = true;
    bool autoStatusBack = true;
    Bytes received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    // The answer to DLE EOT n now.
    uint8_t Answer(uint8_t n) const {
        const bool out = out_;
        switch (n) {
        case 1: return out ? 0x1A : 0x12;
        case 2: return out ? 0x32 : 0x12;
        case 4: return out ? 0x72 : 0x12;
        default: return 0x12;
        }
    }

    void Serve() {
        int fd = -1;
        std::vector<int> side;
        auto outSince = std::chrono::steady_clock::now();
        while (!stop_) {
            pollfd l{listener_, POLLIN, 0};
            if (poll(&l, 1, 0) > 0) {
                const int c = accept(listener_, nullptr, nullptr);
                if (fd < 0) {
                    fd = c;
                } else {
                    side.push_back(c);
                }
            }
            for (int s : side) { // a second sender asks in real time: answered at once
                uint8_t ask[16];
                pollfd q{s, POLLIN, 0};
                if (poll(&q, 1, 0) > 0) {
                    const ssize_t n = recv(s, ask, sizeof(ask), 0);
                    for (ssize_t i = 2; i < n; i += 3) {
                        const uint8_t a = Answer(ask[i]);
                        send(s, &a, 1, MSG_NOSIGNAL);
                    }
                }
            }
            if (fd < 0) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            if (!out_ && paperOutAt_ && received().size() >= paperOutAt_) {
                out_ = true;
                outSince = std::chrono::steady_clock::now();
                const uint8_t asb[] = {0x18, 0x00, 0x0C, 0x00}; // off line, paper out
                if (autoStatusBack) {
                    send(fd, asb, sizeof(asb), MSG_NOSIGNAL);
                }
            }
            if (out_) {
                if (std::chrono::steady_clock::now() - outSince < outFor_) {
                    std::this_thread::sleep_for(20ms);
                    continue;
                }
                out_ = false;
                paperOutAt_ = 0;
                const uint8_t asb[] = {0x10, 0x00, 0x00, 0x00}; // on line, paper present
                if (autoStatusBack) {
                    send(fd, asb, sizeof(asb), MSG_NOSIGNAL);
                }
            }
            pollfd q{fd, POLLIN, 0};
            if (poll(&q, 1, 20) <= 0) {
                continue;
            }
            uint8_t buffer[512];
            const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                break;
            }
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < n; ++i) {
                received_.push_back(buffer[i]);
                // DLE EOT n, read as it arrives: answered at once
                const size_t k = received_.size();
                if (answers && k >= 3 && received_[k - 3] == 0x10 && received_[k - 2] == 0x04) {
                    const uint8_t a = Answer(received_[k - 1]);
                    send(fd, &a, 1, MSG_NOSIGNAL);
                }
            }
        }
        for (int s : side) {
            close(s);
        }
        if (fd >= 0) {
            close(fd);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> out_{false};
    std::atomic<size_t> paperOutAt_{0};
    std::chrono::milliseconds outFor_{0};
    std::mutex mutex_;
    Bytes received_;
};

struct DeviceCloser {
    void operator()(pappl_device_t* d) const { papplDeviceClose(d); }
};
using Device = std::unique_ptr<pappl_device_t, DeviceCloser>;

Device Open(const std::string& uri) {
    AddDeviceSchemes();
    return Device(papplDeviceOpen(uri.c_str(), "test", nullptr, nullptr));
}

TEST(SocketDeviceTest, APrinterOutOfPaperHoldsTheWriteTellsWhyAndGetsEveryByteOnce) {
    FakePrinter printer;
    printer.PaperOutAfter(64 * 1024, 2500ms);
    const Device device = Open(printer.Uri());
    ASSERT_TRUE(device);
    const std::shared_ptr<Connection> c = AcquireConnection(device.get(), nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->TwoWay());
    Watch watch;
    c->SetWatch(&watch);
    Bytes job(1 << 20);
    for (size_t i = 0; i < job.size(); ++i) {
        job[i] = uint8_t('A' + i % 26);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c->Write(job.data(), job.size()), ssize_t(job.size()));
    const auto took = std::chrono::steady_clock::now() - start;
    c->SetWatch(nullptr);
    EXPECT_GE(took, 2000ms) << "the write waited for the paper";
    EXPECT_TRUE(watch.sawPaperOut) << "heard while the write waited";
    EXPECT_TRUE(watch.sawStall);
    EXPECT_GE(watch.stallsEnded, 1);
    EXPECT_FALSE(c->status().status().paperOut) << "paper loaded again";
    for (int i = 0; i < 200 && printer.received().size() < job.size(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(printer.received() == job) << "every byte once, in order";
}

TEST(SocketDeviceTest, APrinterWithoutAutomaticStatusBackIsAskedOnALineOfItsOwn) {
    FakePrinter printer;
    printer.autoStatusBack = false;
    printer.PaperOutAfter(32 * 1024, 3000ms);
    const Device device = Open(printer.Uri());
    ASSERT_TRUE(device);
    const std::shared_ptr<Connection> c = AcquireConnection(device.get(), nullptr);
    Watch watch;
    c->SetWatch(&watch);
    std::atomic<bool> heardInTime{false};
    std::thread observer([&] {
        // the printer stops at 32 KB; it is known to be out of paper within two seconds of the write stalling
        for (int i = 0; i < 300 && !heardInTime; ++i) {
            std::this_thread::sleep_for(10ms);
            std::lock_guard lock(watch.mutex);
            heardInTime = watch.sawPaperOut;
        }
    });
    const Bytes job(512 * 1024, 'k');
    EXPECT_EQ(c->Write(job.data(), job.size()), ssize_t(job.size()));
    observer.join();
    c->SetWatch(nullptr);
    EXPECT_TRUE(heardInTime);
    EXPECT_FALSE(c->status().status().paperOut) << "asked again until it printed on";
}

TEST(SocketDeviceTest, ACancelledJobStopsWaitingForThePrinter) {
    FakePrinter printer;
    printer.PaperOutAfter(1, 60s);
    const Device device = Open(printer.Uri());
    ASSERT_TRUE(device);
    const std::shared_ptr<Connection> c = AcquireConnection(device.get(), nullptr);
    Watch watch;
    c->SetWatch(&watch);
    std::thread canceller([&] {
        std::this_thread::sleep_for(1500ms);
        watch.cancelled = true;
    });
    const Bytes job(1 << 20, 'x');
    EXPECT_EQ(c->Write(job.data(), job.size()), -1);
    canceller.join();
    c->SetWatch(nullptr);
    EXPECT_TRUE(watch.sawPaperOut);
}

TEST(SocketDeviceTest, StatusIsAskedAndAPrinterThatDoesNotAnswerIsNotWaitedForLong) {
    FakePrinter printer;
    const Device device = Open(printer.Uri());
    ASSERT_TRUE(device);
    const std::shared_ptr<Connection> c = AcquireConnection(device.get(), nullptr);
    EXPECT_TRUE(c->Query(2s));
    EXPECT_EQ(ReasonsOf(c->status().status(), true), PAPPL_PREASON_NONE);

    FakePrinter silent;
    silent.answers = false;
    const Device quiet = Open(silent.Uri());
    ASSERT_TRUE(quiet);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(AcquireConnection(quiet.get(), nullptr)->Query(300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(SocketDeviceTest, AJobKeepsItsConnectionWhenPAPPLClosesTheDeviceUnderIt) {
    FakePrinter printer;
    Device device = Open(printer.Uri());
    ASSERT_TRUE(device);
    const std::shared_ptr<Connection> held = AcquireConnection(device.get(), nullptr);
    ASSERT_NE(held, nullptr);
    device.reset(); // PAPPL closes the device as the job before ends
    const Bytes rest = {'a', 'b', 'c'};
    EXPECT_EQ(held->Write(rest.data(), rest.size()), 3) << "the job's connection is still open";
    for (int i = 0; i < 100 && printer.received().size() < 3; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(printer.received(), rest);
}

TEST(SocketDeviceTest, ANetworkPrinterThatIsNotThereIsNotOpened) {
    const Device gone = Open("socket://127.0.0.1:1"); // nothing listens on port 1
    EXPECT_FALSE(gone);
}

TEST(SerialDeviceTest, TheLineIsSetAsTheUriSays) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const Device device = Open(std::string("serial:") + name + "?baud=19200+bits=8+parity=none+stop=2+flow=hard");
    ASSERT_TRUE(device);
    termios tio{};
    ASSERT_EQ(tcgetattr(slave, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(tio.c_lflag & ICANON) << "raw: bytes go as they are";
    const std::shared_ptr<Connection> c = AcquireConnection(device.get(), nullptr);
    const Bytes bytes = {0x1B, '@', 0x0A, 0x0D, 0x11, 0x13, 0xFF};
    ASSERT_EQ(c->Write(bytes.data(), bytes.size()), ssize_t(bytes.size()));
    Bytes got(bytes.size());
    size_t have = 0;
    for (int i = 0; i < 100 && have < got.size(); ++i) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            const ssize_t n = read(master, got.data() + have, got.size() - have);
            have += n > 0 ? size_t(n) : 0;
        }
    }
    EXPECT_EQ(got, bytes) << "the printer gets every byte unchanged";
    close(slave);
    close(master);
}

} // namespace
} // namespace kqapp
