#include "serve.h"

#include "control.h"
#include "fd.h"
#include "pty.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <optional>
#include <vector>

namespace vkqt50 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

// The line reaches the printer in pieces this long at most, so that it is busy before its buffer overflows.
constexpr size_t kLinePiece = 16;
// Bytes a waiting TCP sender may have read ahead of its turn.
constexpr size_t kWaitingAhead = 4096;
// How often the event log says how many bytes came in.
constexpr auto kInNoteEvery = std::chrono::milliseconds(250);

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Writes what fits now; the bytes it wrote.
size_t WriteSome(int fd, const uint8_t* data, size_t size, bool socket) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            socket ? send(fd, data + done, size - done, MSG_NOSIGNAL) : write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

// A sender on the TCP port: the first one's bytes go to the printer; the others wait their turn, though
// the printer answers the real-time requests they start with.
struct Connection {
    Fd fd;
    std::string peer;
    std::deque<uint8_t> ahead; // read before its turn
    bool ended = false;        // the sender has sent all it will
    uint64_t taken = 0;        // bytes the printer took from it
};

class Server final : public Events {
  public:
    Server(const ServeOptions& o, const preview::Fonts& fonts)
        : o_(o), start_(Clock::now()), printer_(fonts, o.printer, *this), charTime_(o.line.CharNanoseconds()),
          wireHigh_(
              std::max<size_t>(16, static_cast<size_t>(20'000'000 / std::max<uint64_t>(charTime_, 1)))) {}
    ~Server();

    bool Start(std::string* error);
    int Run();

    void Note(std::string_view line) override;
    void Receipt(int number, const preview::Preview& receipt) override;

  private:
    bool StartPty(std::string* error);
    bool StartTcp(std::string* error);
    bool StartControl(std::string* error);
    bool StartSignals(std::string* error);

    // One turn of the loop: what the descriptors had to say, then the line, the printer and the replies.
    void Turn(const std::vector<pollfd>& fds);
    std::vector<pollfd> PollSet() const;
    int PollTimeout(Clock::time_point now) const;

    void ReadPty();
    void DeliverPty(Clock::time_point now);
    void CheckSender();
    bool SenderHolds() const;
    void HoldPty();

    void Accept();
    void ReadConnection(size_t index);
    void FeedFromAhead();
    void CloseActiveIfDone();

    void ControlAccept();
    void ControlRead(size_t index);
    void Signal();

    void PrintAndReply();
    void SendReplies(int fd, bool socket);
    void NoteIn(bool now);

    const ServeOptions o_;
    const Clock::time_point start_;
    std::FILE* log_ = stderr;
    Printer printer_;
    bool quit_ = false;

    // the pseudo-terminal
    std::optional<Pty> pty_;
    const uint64_t charTime_;      // nanoseconds a character takes on the line
    const size_t wireHigh_;        // bytes on their way at which the sender is stopped: 20 ms of line
    std::deque<uint8_t> wire_;     // read from the sender, not yet carried by the line
    Clock::time_point lineFree_{}; // when the line has carried the last character it took
    bool stopped_ = false;         // the sender's output is stopped
    bool drained_ = true;          // the last read found nothing more from the sender
    SenderSettings sender_;
    bool senderKnown_ = false;
    uint64_t garbled_ = 0; // bytes sent with other framing than the printer's

    // the TCP port
    Fd listener_;
    std::deque<Connection> connections_; // the first one is the printer's

    // control and signals
    Fd control_;
    std::vector<Fd> controlClients_;
    std::vector<std::string> controlInput_;
    Fd signals_;

    // bytes in, for the event log
    uint64_t inSinceNote_ = 0;
    Clock::time_point lastInNote_{};
};

Server::~Server() {
    if (log_ && log_ != stderr) {
        std::fclose(log_);
    }
    std::error_code ec;
    if (!o_.control.empty() && control_) {
        std::filesystem::remove(o_.control, ec);
    }
    if (!o_.link.empty() && pty_) {
        std::filesystem::remove(o_.link, ec);
    }
}

void Server::Note(std::string_view line) {
    const double t = std::chrono::duration<double>(Clock::now() - start_).count();
    std::fprintf(log_, "%9.3f %.*s\n", t, static_cast<int>(line.size()), line.data());
    std::fflush(log_);
}

void Server::Receipt(int number, const preview::Preview& receipt) {
    char name[32];
    std::snprintf(name, sizeof(name), "receipt-%04d.png", number);
    const std::string path = (std::filesystem::path(o_.pictures) / name).string();
    std::string error;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f && preview::WritePng(receipt.picture, f, &error);
    if (f && std::fclose(f) != 0) {
        error = std::strerror(errno);
    }
    Note(ok && error.empty() ? "cut: receipt " + std::to_string(number) + " drawn into " + path + ", " +
                                   std::to_string(receipt.picture.width) + " x " +
                                   std::to_string(receipt.picture.height) + " dots"
                             : "cut: receipt " + std::to_string(number) + ": cannot write " + path + ": " +
                                   (error.empty() ? std::strerror(errno) : error));
    for (const std::string& w : receipt.warnings) {
        Note("  preview: " + w);
    }
}

bool Server::Start(std::string* error) {
    if (!o_.log.empty()) {
        log_ = std::fopen(o_.log.c_str(), "a");
        if (!log_) {
            log_ = stderr;
            *error = Errno("cannot open the event log " + o_.log);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(o_.pictures, ec);
    if (!std::filesystem::is_directory(o_.pictures)) {
        *error = "cannot make the pictures' folder " + o_.pictures;
        return false;
    }
    return StartSignals(error) && (o_.tcp ? StartTcp(error) : StartPty(error)) && StartControl(error);
}

bool Server::StartSignals(std::string* error) {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) {
        sigaddset(&set, s);
    }
    signal(SIGPIPE, SIG_IGN);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        *error = Errno("cannot take signals");
        return false;
    }
    signals_ = Fd(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_) {
        *error = Errno("cannot take signals");
        return false;
    }
    return true;
}

bool Server::StartPty(std::string* error) {
    pty_ = Pty::Open(o_.line, error);
    if (!pty_) {
        return false;
    }
    if (!o_.link.empty()) {
        std::error_code ec;
        std::filesystem::remove(o_.link, ec);
        std::filesystem::create_symlink(pty_->path(), o_.link, ec);
        if (ec) {
            *error = "cannot link " + o_.link + " to " + pty_->path() + ": " + ec.message();
            return false;
        }
    }
    sender_ = pty_->Sender();
    senderKnown_ = true;
    return true;
}

bool Server::StartTcp(std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(o_.port);
    if (const int rc = getaddrinfo(o_.host.empty() ? nullptr : o_.host.c_str(), port.c_str(), &hints, &found);
        rc != 0) {
        *error = "cannot listen on " + o_.host + ":" + port + ": " + gai_strerror(rc);
        return false;
    }
    for (addrinfo* a = found; a && !listener_; a = a->ai_next) {
        Fd fd(socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        const int one = 1;
        // a small receive buffer, as a printer has: a sender that fills it waits
        const int small = static_cast<int>(std::min<size_t>(o_.printer.bufferSize, 65536));
        if (fd && setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) == 0 &&
            setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof(small)) == 0 &&
            bind(fd.get(), a->ai_addr, a->ai_addrlen) == 0 && listen(fd.get(), 8) == 0) {
            listener_ = std::move(fd);
        }
    }
    freeaddrinfo(found);
    if (!listener_) {
        *error = Errno("cannot listen on " + o_.host + ":" + port);
        return false;
    }
    return true;
}

bool Server::StartControl(std::string* error) {
    if (o_.control.empty()) {
        return true;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (o_.control.size() >= sizeof(addr.sun_path)) {
        *error = "the control socket's path is too long: " + o_.control;
        return false;
    }
    std::memcpy(addr.sun_path, o_.control.c_str(), o_.control.size() + 1);
    std::error_code ec;
    std::filesystem::remove(o_.control, ec);
    Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd || bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(fd.get(), 8) != 0) {
        *error = Errno("cannot make the control socket " + o_.control);
        return false;
    }
    control_ = std::move(fd);
    return true;
}

std::string LocalName(int fd) {
    sockaddr_storage addr{};
    socklen_t size = sizeof(addr);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        return {};
    }
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<sockaddr*>(&addr), size, host, sizeof(host), port, sizeof(port),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return {};
    }
    const bool v6 = addr.ss_family == AF_INET6;
    return std::string(v6 ? "[" : "") + host + (v6 ? "]" : "") + ":" + port;
}

int Server::Run() {
    const std::string where = o_.tcp ? "socket://" + LocalName(listener_.get()) : pty_->path();
    Note("ready on " + where + (o_.tcp ? "" : ", " + o_.line.Text()) + "; receive buffer " +
         escpos::Thousands(o_.printer.bufferSize) + " bytes; " +
         (o_.printer.paperMm > 0
              ? "a roll of " + std::to_string(static_cast<long>(o_.printer.paperMm)) + " mm"
              : std::string("paper without end")));
    std::printf("%s\n", where.c_str());
    std::fflush(stdout);
    while (!quit_) {
        std::vector<pollfd> fds = PollSet();
        const int rc = poll(fds.data(), fds.size(), PollTimeout(Clock::now()));
        if (rc < 0 && errno != EINTR) {
            Note(Errno("poll"));
            return 1;
        }
        Turn(rc > 0 ? fds : std::vector<pollfd>{});
    }
    PrintAndReply();
    NoteIn(true);
    printer_.Finish();
    const Stats& s = printer_.stats();
    Note("quit: " + escpos::Thousands(s.received) + " byte(s) received, " + escpos::Thousands(s.lost) +
         " lost, " + escpos::Thousands(s.printed) + " printed, " + std::to_string(s.receipts) +
         " receipt(s)");
    return 0;
}

std::vector<pollfd> Server::PollSet() const {
    std::vector<pollfd> fds;
    fds.push_back({signals_.get(), POLLIN, 0});
    if (pty_ && wire_.size() < wireHigh_) {
        fds.push_back({pty_->master(), POLLIN, 0});
    }
    if (listener_) {
        fds.push_back({listener_.get(), POLLIN, 0});
    }
    for (size_t i = 0; i < connections_.size(); ++i) {
        const Connection& c = connections_[i];
        // the printer's sender is read while its buffer has room, a waiting one a little ahead; a sender not
        // read is not watched either, so that one that has gone wakes nobody until its turn
        const bool read =
            !c.ended && (i == 0 ? printer_.Room() > 0 && c.ahead.empty() : c.ahead.size() < kWaitingAhead);
        if (read) {
            fds.push_back({c.fd.get(), POLLIN, 0});
        }
    }
    if (control_) {
        fds.push_back({control_.get(), POLLIN, 0});
    }
    for (const Fd& c : controlClients_) {
        fds.push_back({c.get(), POLLIN, 0});
    }
    return fds;
}

int Server::PollTimeout(Clock::time_point now) const {
    std::optional<Clock::time_point> next;
    if (!wire_.empty() && !(printer_.Busy() && SenderHolds())) {
        next = std::max(now, lineFree_) + nanoseconds(charTime_);
    }
    if (inSinceNote_ > 0) {
        const auto note = lastInNote_ + kInNoteEvery;
        next = next ? std::min(*next, note) : note;
    }
    if (!next) {
        return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
    return static_cast<int>(std::clamp<int64_t>(wait, 0, 1000));
}

void Server::Turn(const std::vector<pollfd>& fds) {
    // the connections and control clients, by their descriptors: the set may change as they are read
    std::vector<int> ready;
    for (const pollfd& p : fds) {
        if (p.revents) {
            ready.push_back(p.fd);
        }
    }
    auto isReady = [&](int fd) {
        return fd >= 0 && std::find(ready.begin(), ready.end(), fd) != ready.end();
    };
    if (isReady(signals_.get())) {
        Signal();
    }
    if (pty_) {
        ReadPty(); // also when it said nothing: to learn that the sender has nothing waiting
    }
    if (listener_ && isReady(listener_.get())) {
        Accept();
    }
    for (size_t i = 0; i < connections_.size(); ++i) {
        if (isReady(connections_[i].fd.get())) {
            ReadConnection(i);
        }
    }
    if (control_ && isReady(control_.get())) {
        ControlAccept();
    }
    for (size_t i = 0; i < controlClients_.size(); ++i) {
        if (isReady(controlClients_[i].get())) {
            ControlRead(i);
        }
    }
    if (pty_) {
        DeliverPty(Clock::now());
    }
    PrintAndReply();
    if (!connections_.empty()) {
        FeedFromAhead();
        CloseActiveIfDone();
    }
    if (pty_) {
        HoldPty();
    }
    NoteIn(false);
}

// ---- the pseudo-terminal

void Server::ReadPty() {
    // no more than the line holds in waiting: the rest stays with the sender, which is then stopped
    uint8_t buf[4096];
    const bool wasEmpty = wire_.empty();
    while (wire_.size() < wireHigh_) {
        const ssize_t n = read(pty_->master(), buf, std::min(sizeof(buf), wireHigh_ - wire_.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        drained_ = n <= 0;
        if (n <= 0) {
            break;
        }
        wire_.insert(wire_.end(), buf, buf + n);
    }
    if (wasEmpty && !wire_.empty()) {
        lineFree_ = std::max(lineFree_, Clock::now()); // an idle line saves no time up
    }
    CheckSender();
}

void Server::CheckSender() {
    const SenderSettings now = pty_->Sender();
    if (senderKnown_ && now == sender_) {
        return;
    }
    sender_ = now;
    senderKnown_ = true;
    Note("line: the sender's end is set " + now.Text() +
         (now.Matches(o_.line) ? ""
                               : "; the printer's line is " + o_.line.Text() + ": what it sends is garbage"));
}

bool Server::SenderHolds() const {
    return (o_.line.flow == Flow::XonXoff && sender_.xonXoff) ||
           (o_.line.flow == Flow::Hardware && sender_.hardware);
}

void Server::DeliverPty(Clock::time_point now) {
    while (!wire_.empty()) {
        if (printer_.Busy() && SenderHolds()) {
            lineFree_ = std::max(lineFree_, now); // the sender waits: the line is idle
            return;
        }
        if (now < lineFree_ + nanoseconds(charTime_)) {
            return;
        }
        const uint64_t due = static_cast<uint64_t>((now - lineFree_).count()) / charTime_;
        const size_t n = static_cast<size_t>(std::min<uint64_t>({due, wire_.size(), kLinePiece}));
        uint8_t piece[kLinePiece];
        std::copy_n(wire_.begin(), n, piece);
        wire_.erase(wire_.begin(), wire_.begin() + static_cast<ptrdiff_t>(n));
        lineFree_ += nanoseconds(charTime_ * n);
        if (!sender_.Matches(o_.line)) {
            garbled_ += n;
            continue;
        }
        inSinceNote_ += n;
        printer_.Receive(std::span<const uint8_t>(piece, n));
        PrintAndReply();
    }
}

void Server::HoldPty() {
    // The sender is stopped while the busy printer holds it off, and while the line has enough to carry:
    // from when that is 20 ms of it until it is half as much and nothing else waits on the sender's side
    // (what the sender wrote before it stopped), so that the sender writes little more than the line takes.
    // It is stopped only when this loop runs: a sender that runs while the loop waits for the processor can
    // fill the pseudo-terminal's own buffer (some 20 KB) first, and its writes of those bytes are done.
    const bool full = stopped_ ? !(wire_.size() <= wireHigh_ / 2 && drained_) : wire_.size() >= wireHigh_;
    const bool stop = full || (printer_.Busy() && SenderHolds());
    if (stop != stopped_ && pty_->Hold(stop)) {
        stopped_ = stop;
    }
}

// ---- the TCP port

void Server::Accept() {
    for (;;) {
        sockaddr_storage addr{};
        socklen_t size = sizeof(addr);
        Fd fd(accept4(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &size,
                      SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            return;
        }
        const int one = 1;
        setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        char host[NI_MAXHOST] = "?", port[NI_MAXSERV] = "?";
        getnameinfo(reinterpret_cast<sockaddr*>(&addr), size, host, sizeof(host), port, sizeof(port),
                    NI_NUMERICHOST | NI_NUMERICSERV);
        Connection c;
        c.fd = std::move(fd);
        c.peer = std::string(host) + ":" + port;
        Note("connection from " + c.peer + (connections_.empty() ? "" : ": waits its turn"));
        connections_.push_back(std::move(c));
    }
}

void Server::ReadConnection(size_t index) {
    Connection& c = connections_[index];
    uint8_t buf[65536];
    const size_t want = index == 0 ? std::min(sizeof(buf), printer_.Room())
                                   : std::min(sizeof(buf), kWaitingAhead - c.ahead.size());
    if (want == 0 || (index == 0 && !c.ahead.empty())) {
        return;
    }
    const ssize_t n = recv(c.fd.get(), buf, want, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        c.ended = true;
        return;
    }
    if (n < 0) {
        return;
    }
    if (index == 0) {
        c.taken += static_cast<uint64_t>(n);
        inSinceNote_ += static_cast<uint64_t>(n);
        printer_.Receive(std::span<const uint8_t>(buf, static_cast<size_t>(n)));
        PrintAndReply();
        return;
    }
    c.ahead.insert(c.ahead.end(), buf, buf + n);
    // what it asks in real time is answered now; the rest waits
    const std::vector<uint8_t> ahead(c.ahead.begin(), c.ahead.end());
    const size_t answered = printer_.AnswerLeadingRequests(ahead);
    c.ahead.erase(c.ahead.begin(), c.ahead.begin() + static_cast<ptrdiff_t>(answered));
    SendReplies(c.fd.get(), true);
}

void Server::FeedFromAhead() {
    Connection& c = connections_.front();
    while (!c.ahead.empty() && printer_.Room() > 0) {
        const size_t n = std::min(c.ahead.size(), printer_.Room());
        const std::vector<uint8_t> piece(c.ahead.begin(), c.ahead.begin() + static_cast<ptrdiff_t>(n));
        c.ahead.erase(c.ahead.begin(), c.ahead.begin() + static_cast<ptrdiff_t>(n));
        c.taken += n;
        inSinceNote_ += n;
        printer_.Receive(piece);
        PrintAndReply();
    }
}

void Server::CloseActiveIfDone() {
    while (!connections_.empty() && connections_.front().ended && connections_.front().ahead.empty()) {
        NoteIn(true);
        Note("connection from " + connections_.front().peer + " closed, " +
             escpos::Thousands(connections_.front().taken) + " byte(s) taken from it");
        connections_.pop_front();
        if (!connections_.empty()) {
            Note("connection from " + connections_.front().peer + ": its turn");
            FeedFromAhead();
        }
    }
    // a waiting sender that asked only in real time and left
    for (size_t i = 1; i < connections_.size();) {
        if (connections_[i].ended && connections_[i].ahead.empty()) {
            connections_.erase(connections_.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

// ---- both

void Server::PrintAndReply() {
    printer_.Print();
    if (pty_) {
        SendReplies(pty_->master(), false);
    } else if (!connections_.empty()) {
        SendReplies(connections_.front().fd.get(), true);
    } else {
        printer_.TakeReplies(); // nobody to hear them
    }
}

void Server::SendReplies(int fd, bool socket) {
    const std::vector<uint8_t> replies = printer_.TakeReplies();
    if (!replies.empty() && WriteSome(fd, replies.data(), replies.size(), socket) < replies.size()) {
        Note("a reply could not be sent: the sender does not read");
    }
}

void Server::NoteIn(bool now) {
    const auto t = Clock::now();
    if (inSinceNote_ > 0 && (now || t - lastInNote_ >= kInNoteEvery)) {
        Note("in: " + escpos::Thousands(inSinceNote_) + " byte(s), " +
             escpos::Thousands(printer_.stats().received) + " in all");
        inSinceNote_ = 0;
        lastInNote_ = t;
    }
}

// ---- control and signals

void Server::ControlAccept() {
    for (;;) {
        Fd fd(accept4(control_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            return;
        }
        controlClients_.push_back(std::move(fd));
        controlInput_.emplace_back();
    }
}

void Server::ControlRead(size_t index) {
    char buf[1024];
    const ssize_t n = recv(controlClients_[index].get(), buf, sizeof(buf), 0);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            controlClients_.erase(controlClients_.begin() + static_cast<ptrdiff_t>(index));
            controlInput_.erase(controlInput_.begin() + static_cast<ptrdiff_t>(index));
        }
        return;
    }
    std::string& input = controlInput_[index];
    input.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = input.find('\n')) != std::string::npos;) {
        const std::string line = input.substr(0, nl);
        input.erase(0, nl + 1);
        Note("control: " + line);
        const std::string extra = pty_ ? " garbled=" + std::to_string(garbled_) : " garbled=0";
        ControlResult r = Execute(printer_, line, extra);
        r.reply += '\n';
        WriteSome(controlClients_[index].get(), reinterpret_cast<const uint8_t*>(r.reply.data()),
                  r.reply.size(), true);
        quit_ = quit_ || r.quit;
    }
    if (input.size() > 4096) {
        input.clear(); // no command is that long
    }
}

void Server::Signal() {
    signalfd_siginfo info{};
    while (read(signals_.get(), &info, sizeof(info)) == sizeof(info)) {
        switch (info.ssi_signo) {
        case SIGUSR1:
            Note("signal: SIGUSR1");
            if (printer_.conditions().paperOut) {
                printer_.LoadPaper();
            } else {
                printer_.RunOutOfPaper();
            }
            break;
        case SIGUSR2:
            Note("signal: SIGUSR2");
            printer_.SetOffline(!printer_.conditions().offlineSwitch);
            break;
        default:
            Note(std::string("signal: ") + strsignal(static_cast<int>(info.ssi_signo)));
            quit_ = true;
            break;
        }
    }
}

} // namespace

int Serve(const ServeOptions& options) {
    const preview::Fonts fonts = preview::Fonts::Load();
    Server server(options, fonts);
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "vkqt50: %s\n", error.c_str());
        return 1;
    }
    return server.Run();
}

} // namespace vkqt50
