#include "signals.h"

#include "machine.h"

#include <poll.h>
#include <unistd.h>

#include <csignal>

namespace kqspool {
namespace {

int& WriteEnd() {
    static int fd = -1; // the signal handler's only way to the watcher
    return fd;
}

} // namespace

InterruptWatch::InterruptWatch() {
    if (pipe(fds_) != 0) {
        fds_[0] = fds_[1] = -1;
        return;
    }
    WriteEnd() = fds_[1];
    struct sigaction sa {};
    sa.sa_handler = [](int) {
        const char c = 'c';
        [[maybe_unused]] const ssize_t n = write(WriteEnd(), &c, 1);
        std::signal(SIGINT, SIG_DFL);
    };
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &previous_);
    watcher_ = std::thread([this] { Watch(); });
}

InterruptWatch::~InterruptWatch() {
    if (fds_[1] < 0) {
        return;
    }
    sigaction(SIGINT, &previous_, nullptr);
    const char quit = 'q';
    [[maybe_unused]] const ssize_t n = write(fds_[1], &quit, 1);
    watcher_.join();
    close(fds_[0]);
    close(fds_[1]);
}

void InterruptWatch::Watch() {
    for (;;) {
        // Once interrupted, a job still being spooled is cancelled as soon as its processor runs.
        pollfd p{fds_[0], POLLIN, 0};
        if (poll(&p, 1, interrupted_ ? 10 : -1) > 0) {
            char c = 0;
            if (read(fds_[0], &c, 1) != 1 || c != 'c') {
                return;
            }
            interrupted_ = true;
        }
        if (interrupted_) {
            control::CancelRunningJob();
        }
    }
}

} // namespace kqspool
