// Keeps the thread's last error across calls (clean-up, traces) that may change it, so that a failure is
// reported with the error of the call that failed.
#pragma once

#include <windows.h>

namespace kqkit {

class LastErrorKeeper {
  public:
    LastErrorKeeper() : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

  private:
    DWORD error_;
};

} // namespace kqkit
