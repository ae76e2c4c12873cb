// The observation hooks: what a DLL reports as it works, to the one observer it may have. The test-control
// side (control/) is that observer and keeps the recordings; a DLL keeps none of them in its own state, and
// with no observer set it reports nothing.
#pragma once

#include <windows.h>

#include "kqwin/test_control.h"

#include <atomic>
#include <string_view>

namespace kqwin {

template <class Observer> class ObservationHook {
  public:
    void Set(Observer* observer) { observer_.store(observer, std::memory_order_release); }
    Observer* Get() const { return observer_.load(std::memory_order_acquire); }

  private:
    std::atomic<Observer*> observer_{nullptr};
};

// kernel32: each OutputDebugStringA/W, as UTF-8; each block GlobalAlloc gave (+1) and GlobalFree took back
// (-1).
class Kernel32Observer {
  public:
    virtual void DebugOutput(std::string_view utf8) = 0;
    virtual void GlobalBlocks(int change) = 0;

  protected:
    ~Kernel32Observer() = default;
};
ObservationHook<Kernel32Observer>& Kernel32Hook();

// user32: message boxes (the box window, from its opening to the answer MessageBoxA returns), icons drawn
// on a window's paint DC, and modal loops that could never end.
class User32Observer {
  public:
    virtual void MessageBoxOpened(HWND box, HWND owner, std::string_view text, std::string_view caption,
                                  UINT type) = 0;
    virtual void MessageBoxAnswered(HWND box, int answer) = 0;
    virtual void IconDrawn(HWND window, int x, int y, HICON icon) = 0;
    virtual void ModalLoopFailed(std::string_view what) = 0;

  protected:
    ~User32Observer() = default;
};
ObservationHook<User32Observer>& User32Hook();

// shell32: each program ShellExecuteExA started, after it ran.
class Shell32Observer {
  public:
    virtual void ProcessStarted(const control::ProcessStart& start) = 0;

  protected:
    ~Shell32Observer() = default;
};
ObservationHook<Shell32Observer>& Shell32Hook();

// winspool: each WritePrinter a print processor made, with the bytes it offered, the count the port took and
// the result. Set only while someone listens, so that an unwatched write costs one load.
class WinspoolObserver {
  public:
    virtual void PrintProcessorWrite(const BYTE* bytes, DWORD offered, DWORD accepted, BOOL result) = 0;

  protected:
    ~WinspoolObserver() = default;
};
ObservationHook<WinspoolObserver>& WinspoolHook();

// localspl: a port whose device has taken nothing (or, at a document's end, not yet said it is done) for
// `stalled` milliseconds, told about every second it waits; the observer answers whether to wait on.
class LocalsplObserver {
  public:
    virtual bool PortStalled(std::string_view port, DWORD stalled) = 0;

  protected:
    ~LocalsplObserver() = default;
};
ObservationHook<LocalsplObserver>& LocalsplHook();

} // namespace kqwin
