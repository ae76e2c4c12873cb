// kqspool and the virtual KQT-50: receipts printed over a pseudo-terminal at a serial line's rate and
// over TCP come out as kqspool's preview draws them; paper that runs out in the middle of a receipt makes
// kqspool wait and say so, and the receipt completes when paper is loaded, every byte once; the printer's
// status in words and exit statuses; a sender whose flow control does not match loses data, as on a line.
#include "harness.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A receipt of `lines` lines of 64 characters in font B, close together: 40 KB at 630 lines.
Bytes TextReceipt(int lines) {
    std::string out = "\x1b@\x1bM\x01\x1b\x33\x12";
    for (int i = 0; i < lines; ++i) {
        char line[80];
        std::snprintf(line, sizeof(line),
                      "Line %04d ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", i);
        out += std::string(line).substr(0, 64) + "\n";
    }
    out += std::string("\x1dV\x00", 3);
    return Bytes(out.begin(), out.end());
}

// A short receipt: sizes, alignment, a rule and a cut, about 500 bytes.
Bytes ShortReceipt() {
    std::string out = "\x1b@\x1b\x61\x01\x1d!\x11KQT-50\n\x1d!\x00virtual printer\n\x1b\x61\x00";
    for (int i = 1; i <= 8; ++i) {
        out += "item " + std::to_string(i) + std::string(30, '.') + std::to_string(i * 125) + "\n";
    }
    out += "\x1b\x45\x01TOTAL          4,500\x1b\x45" + std::string(1, '\0') + "\n\x1b\x64\x03";
    out += std::string("\x1dV\x42\x00", 4);
    return Bytes(out.begin(), out.end());
}

class VirtualPrinterTest : public KqspoolTest {
  protected:
    void TearDown() override {
        if (printer_ > 0) {
            // it ends cleanly when told: under the sanitizers, a leak or a fault of its own shows here
            kill(printer_, SIGTERM);
            int status = 0;
            waitpid(printer_, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "vkqt50 ended with " << status;
        }
        if (background_ > 0) {
            kill(background_, SIGKILL);
            waitpid(background_, nullptr, 0);
        }
        KqspoolTest::TearDown();
    }

    // Starts vkqt50 with `args`, its pictures, log and control socket in the test's folder; the line it
    // gives a sender (pty path or socket://...).
    std::string StartPrinter(const std::vector<std::string>& args) {
        std::vector<std::string> argv{std::string(std::getenv("KQ_TEST_BIN")) + "/vkqt50",
                                      "--pictures",
                                      Path("pics"),
                                      "--log",
                                      Path("printer.log"),
                                      "--control",
                                      Path("ctl")};
        argv.insert(argv.end(), args.begin(), args.end());
        int out[2];
        if (pipe(out) != 0) {
            ADD_FAILURE() << "no pipe";
            return {};
        }
        const int null = open("/dev/null", O_WRONLY);
        printer_ = Spawn(argv, "/dev/null", out[1], null);
        close(null);
        close(out[1]);
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        close(out[0]);
        EXPECT_FALSE(line.empty()) << "vkqt50 did not say where it listens; its log:\n" << Log();
        return line;
    }

    // Runs kqspool in the background; Finish waits for it.
    void StartKqspool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{Program("kqspool")};
        argv.insert(argv.end(), args.begin(), args.end());
        const int out = open(Path("bg-stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(Path("bg-stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        background_ = Spawn(argv, "/dev/null", out, err);
        close(out);
        close(err);
    }
    RunResult Finish(std::chrono::seconds limit = 60s) {
        RunResult r;
        int status = 0;
        const auto end = Clock::now() + limit;
        while (waitpid(background_, &status, WNOHANG) == 0) {
            if (Clock::now() > end) {
                ADD_FAILURE() << "kqspool did not end; printer log:\n" << Log();
                return r;
            }
            std::this_thread::sleep_for(20ms);
        }
        background_ = -1;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const Bytes err = ReadFile(Path("bg-stderr.txt"));
        r.err.assign(err.begin(), err.end());
        return r;
    }
    std::string BackgroundErr() const {
        const Bytes err = ReadFile(Path("bg-stderr.txt"));
        return std::string(err.begin(), err.end());
    }

    // One command to the printer's control socket; its reply.
    std::string Control(const std::string& command) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, Path("ctl").c_str(), sizeof(addr.sun_path) - 1);
        std::string reply;
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
            const std::string line = command + "\n";
            if (write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
                char c = 0;
                while (read(fd, &c, 1) == 1 && c != '\n') {
                    reply += c;
                }
            }
        }
        close(fd);
        return reply;
    }
    std::map<std::string, std::string> Stats() {
        std::map<std::string, std::string> out;
        std::istringstream in(Control("stats"));
        for (std::string word; in >> word;) {
            const size_t eq = word.find('=');
            if (eq != std::string::npos) {
                out[word.substr(0, eq)] = word.substr(eq + 1);
            }
        }
        return out;
    }
    unsigned long long Stat(const std::string& name) { return std::stoull(Stats()[name]); }
    bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = 30s) {
        const auto end = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
    std::string Log() const {
        const Bytes log = ReadFile(Path("printer.log"));
        return std::string(log.begin(), log.end());
    }
    std::string WriteJob(const std::string& name, const Bytes& job) {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(job.data()), job.size());
        return Path(name);
    }
    // The printer's receipt `n` is the same PNG as kqspool's preview.
    void ExpectPictureAsPreview(int n, const std::string& preview) {
        char name[32];
        std::snprintf(name, sizeof(name), "pics/receipt-%04d.png", n);
        const Bytes picture = ReadFile(Path(name));
        ASSERT_FALSE(picture.empty()) << name << " missing; printer log:\n" << Log();
        EXPECT_TRUE(picture == ReadFile(preview)) << name << " is not the preview's picture";
    }

  private:
    pid_t printer_ = -1;
    pid_t background_ = -1;
};

struct LineCase {
    const char* name;
    const char* line; // the printer's and the port's; none: TCP
    double rate;      // bits per second
    int bits;         // a character's bits on the line
    bool shortJob;
};

class PictureTest : public VirtualPrinterTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(PictureTest, AReceiptComesOutAsThePreviewDrawsItAndNoFasterThanTheLine) {
    const LineCase& c = GetParam();
    const std::string job =
        c.shortJob ? WriteJob("short.prn", ShortReceipt()) : SourceDir() + "/samples/receipt.prn";
    const std::string where = StartPrinter(c.line ? std::vector<std::string>{"--line", c.line}
                                                  : std::vector<std::string>{"--tcp", "0"});
    ASSERT_FALSE(where.empty());
    std::vector<std::string> args{"print", "--out", where, "--preview", Path("preview.png"), job};
    if (c.line) {
        args.insert(args.begin() + 1, {"--line", c.line});
    }
    const auto start = Clock::now();
    const RunResult r = Kqspool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::optional<Summary> s = ParseSummary(r.err);
    ASSERT_TRUE(s);
    ASSERT_TRUE(WaitFor([&] { return Stat("received") >= s->bytesOut && Stat("receipts") >= 1; }))
        << Control("stats") << "\n"
        << Log();
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(Stat("received"), s->bytesOut) << "every byte once";
    EXPECT_EQ(Stat("lost"), 0u);
    EXPECT_EQ(Stat("garbled"), 0u);
    EXPECT_EQ(Stat("receipts"), 1u);
    ExpectPictureAsPreview(1, Path("preview.png"));
    if (c.line) {
        // the bytes that reached the printer took at least the line's time for their bits
        EXPECT_GE(took, static_cast<double>(s->bytesOut) * c.bits / c.rate) << s->bytesOut << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, PictureTest,
                         ::testing::Values(LineCase{"pty9600", "9600,8,n,1,none", 9600, 10, true},
                                           LineCase{"pty115200", "115200,8,e,1,xon", 115200, 11, false},
                                           LineCase{"tcp", nullptr, 0, 0, false}),
                         [](const ::testing::TestParamInfo<LineCase>& info) {
                             return std::string(info.param.name);
                         });

// Paper runs out after 700 mm of a 40 KB receipt (1.6 m long).
constexpr int kLongReceiptLines = 630;
constexpr const char* kRoll = "700";

TEST_F(VirtualPrinterTest, PaperOutInTheMiddleOfAReceiptOnTcpWaitsAndTheReceiptCompletes) {
    const std::string job = WriteJob("long.prn", TextReceipt(kLongReceiptLines));
    const std::string where = StartPrinter({"--tcp", "0", "--paper", kRoll});
    ASSERT_FALSE(where.empty());
    StartKqspool({"print", "--out", where, "--preview", Path("preview.png"), job});
    ASSERT_TRUE(WaitFor([&] { return Control("status").find("paper out") != std::string::npos; })) << Log();
    // asked on a connection of its own while the print waits: the printer answers in real time
    const RunResult status = Kqspool({"status", "--out", where});
    EXPECT_EQ(status.status, 9) << status.err;
    EXPECT_EQ(status.out, "paper out, off line\nDLE EOT 1-4: 1a 32 12 7e\n");
    ASSERT_TRUE(WaitFor([&] { return BackgroundErr().find("has taken no data for") != std::string::npos; }))
        << BackgroundErr();
    const unsigned long long before = Stat("received");
    EXPECT_EQ(Control("load 0"), "ok ready");
    const RunResult r = Finish();
    ASSERT_EQ(r.status, 0) << r.err;
    const std::optional<Summary> s = ParseSummary(r.err);
    ASSERT_TRUE(s);
    EXPECT_LT(before, s->bytesOut) << "the printer had not taken it all before the paper came";
    EXPECT_TRUE(WaitFor([&] { return Stat("receipts") == 1; })) << Log();
    EXPECT_EQ(Stat("received"), s->bytesOut) << "every byte once: none lost, none twice";
    EXPECT_EQ(Stat("printed"), s->bytesOut);
    EXPECT_EQ(Stat("lost"), 0u);
    ExpectPictureAsPreview(1, Path("preview.png"));
}

class FlowTest : public VirtualPrinterTest, public ::testing::WithParamInterface<const char*> {};

// A pseudo-terminal takes up to some 20 KB from a sender before its writes wait, and a sender that runs
// while the printer does not (a loaded machine) fills it before the printer stops it. What is left of the
// job when the printer holds the sender off must be more than that, or the sender has written it all:
// paper out after 200 mm (some 5 KB, 9 KB with the receive buffer) leaves some 31 KB of the 40 KB.
constexpr const char* kShortRoll = "200";

TEST_P(FlowTest, APrinterOutOfPaperHoldsTheSenderOffOnItsLine) {
    const std::string line = std::string("460800,8,n,1,") + GetParam();
    const std::string job = WriteJob("long.prn", TextReceipt(kLongReceiptLines));
    const std::string where = StartPrinter({"--line", line, "--paper", kShortRoll});
    ASSERT_FALSE(where.empty());
    StartKqspool({"print", "--line", line, "--out", where, "--preview", Path("preview.png"), job});
    ASSERT_TRUE(WaitFor([&] { return BackgroundErr().find("has taken no data for") != std::string::npos; }))
        << BackgroundErr() << Log();
    const unsigned long long before = Stat("received");
    EXPECT_NE(Control("status").find("paper out"), std::string::npos);
    EXPECT_EQ(Control("load 0"), "ok ready");
    const RunResult r = Finish();
    ASSERT_EQ(r.status, 0) << r.err;
    const std::optional<Summary> s = ParseSummary(r.err);
    ASSERT_TRUE(s);
    EXPECT_LT(before, s->bytesOut) << "the printer had not taken it all before the paper came";
    EXPECT_TRUE(WaitFor([&] { return Stat("received") == s->bytesOut && Stat("receipts") == 1; })) << Log();
    EXPECT_EQ(Stat("lost"), 0u);
    ExpectPictureAsPreview(1, Path("preview.png"));
}

INSTANTIATE_TEST_SUITE_P(Flow, FlowTest, ::testing::Values("xon", "hardware"));

TEST_F(VirtualPrinterTest, ASenderThatIgnoresTheFlowControlLosesWhatFindsTheBufferFull) {
    const std::string job = WriteJob("long.prn", TextReceipt(200));
    const std::string where =
        StartPrinter({"--line", "460800,8,n,1,xon", "--paper", "100", "--buffer", "1024"});
    ASSERT_FALSE(where.empty());
    // the port is not set for XON/XOFF: its XOFF is only a byte to it, and it sends on
    const RunResult r = Kqspool({"print", "--line", "460800,8,n,1,none", "--out", where, job});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::optional<Summary> s = ParseSummary(r.err);
    ASSERT_TRUE(s);
    ASSERT_TRUE(WaitFor([&] { return Stat("received") == s->bytesOut; })) << Control("stats");
    EXPECT_GT(Stat("lost"), 0u);
    EXPECT_EQ(Stat("received") - Stat("lost"), Stat("buffered") + Stat("printed"));
}

TEST_F(VirtualPrinterTest, KqspoolGivesUpAfterItsTimeoutWithItsOwnExitStatus) {
    const std::string job = WriteJob("long.prn", TextReceipt(kLongReceiptLines));
    const std::string where = StartPrinter({"--tcp", "0"});
    ASSERT_FALSE(where.empty());
    EXPECT_EQ(Control("cover open"), "ok cover open, off line");
    const auto start = Clock::now();
    const RunResult r = Kqspool({"print", "--timeout", "2", "--out", where, job, job});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_GE(Clock::now() - start, 2s);
    EXPECT_NE(r.err.find("long.prn: not printed: the printer took no data for 2 s: gave up"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("not printed: an earlier job gave up on the printer"), std::string::npos) << r.err;
}

TEST_F(VirtualPrinterTest, StatusSaysEachStateInWordsWithAnExitStatusOfItsOwn) {
    const std::string where = StartPrinter({"--tcp", "0"});
    ASSERT_FALSE(where.empty());
    struct Case {
        const char* set;   // control command
        const char* reset; // and the one that undoes it
        int status;
        const char* words;
    } const cases[] = {
        {"online", "online", 0, "ready"},
        {"near-end on", "near-end off", 7, "paper near end"},
        {"offline", "online", 8, "off line"},
        {"paper-out", "load", 9, "paper out, off line"},
        {"cover open", "cover close", 10, "cover open, off line"},
        {"error cutter", "clear", 11, "error: autocutter, off line"},
        {"drawer open", "drawer close", 0, "ready, drawer pin 3 high"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        ASSERT_EQ(Control(c.set).substr(0, 2), "ok");
        const RunResult r = Kqspool({"status", "--out", where});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.words);
        ASSERT_EQ(Control(c.reset).substr(0, 2), "ok");
    }
    // a port whose device says nothing back
    const RunResult silent = Kqspool({"status", "--timeout", "1", "--out", Path("file.prn")});
    EXPECT_EQ(silent.status, 6) << silent.err;
    EXPECT_NE(silent.err.find("gave 0 of 4 replies"), std::string::npos) << silent.err;
}

TEST_F(VirtualPrinterTest, StatusOverASerialLineAndALineSetOtherwiseSendsGarbage) {
    const std::string where = StartPrinter({"--line", "19200,8,n,1,xon"});
    ASSERT_FALSE(where.empty());
    setenv("KQT50_DEBUG", "1", 1); // the libraries' debugger output on standard error
    const RunResult r = Kqspool({"status", "--line", "19200,8,n,1,xon", "--out", where});
    unsetenv("KQT50_DEBUG");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ready\nDLE EOT 1-4: 12 12 12 12\n");
    EXPECT_NE(r.err.find("KQMonReadPort"), std::string::npos)
        << "the replies came through the language monitor";
    // the port's rate is not the printer's: nothing it sends is read as sent, so nothing is answered
    const RunResult other = Kqspool({"status", "--timeout", "1", "--line", "9600,8,n,1,xon", "--out", where});
    EXPECT_EQ(other.status, 6) << other.err;
    EXPECT_EQ(Stat("garbled"), 12u);
    EXPECT_NE(Log().find("the sender's end is set 9600 bit/s, 1 stop bit, XON/XOFF; the printer's line is "
                         "19200 8N1, XON/XOFF: what it sends is garbage"),
              std::string::npos)
        << Log();
}

} // namespace
} // namespace e2e
