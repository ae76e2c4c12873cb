// Ctrl-C during a run: the first cancels the job that prints (or is about to) and skips the rest; a second
// one ends the program.
#pragma once

#include <signal.h>

#include <atomic>
#include <thread>

namespace kqspool {

// Watches for Ctrl-C while it lives; the program's own handling of it comes back when it ends.
class InterruptWatch {
  public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
    bool interrupted() const { return interrupted_; }

  private:
    void Watch();

    int fds_[2] = {-1, -1};
    struct sigaction previous_ {};
    std::atomic<bool> interrupted_{false};
    std::thread watcher_;
};

} // namespace kqspool
