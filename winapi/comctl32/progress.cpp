// The progress bar (msctls_progress32): a position in a range, a step, and its colours. comctl32 keeps each
// bar's state itself, by window, as a DLL outside user32 does; the class is registered when the library is
// loaded, as comctl32 registers its classes when it is attached.
#include "comctl32_private.h"

#include <commctrl.h>

#include <map>

namespace kqwin {
namespace {

struct ProgressState {
    int low = 0;
    int high = 100;
    int pos = 0;
    int step = 10;
    COLORREF bar = CLR_DEFAULT;
    COLORREF background = CLR_DEFAULT;
};

// Every bar's state, by its window. Windows of a machine that was reset go with it.
// A bar's state stays where it is until its window is destroyed (map nodes do not move).
class ProgressBars {
  public:
    void Make(HWND h) {
        std::lock_guard lock(mutex_);
        bars_[h] = ProgressState{};
    }
    void Forget(HWND h) {
        std::lock_guard lock(mutex_);
        bars_.erase(h);
    }
    ProgressState* Find(HWND h) {
        std::lock_guard lock(mutex_);
        const auto it = bars_.find(h);
        return it == bars_.end() ? nullptr : &it->second;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        bars_.clear();
    }

  private:
    std::mutex mutex_;
    std::map<HWND, ProgressState> bars_;
};

ProgressBars& Bars() {
    static ProgressBars bars;
    return bars;
}

void ForgetBars() { Bars().Clear(); }
const ResetHook kBarsOnReset(&ForgetBars);

// A progress bar's position stays inside its range.
void ClampPos(ProgressState& w) {
    if (w.pos < w.low) {
        w.pos = w.low;
    }
    if (w.pos > w.high) {
        w.pos = w.high;
    }
}

LRESULT SetRange(ProgressState& w, int low, int high) {
    const LRESULT old = MAKELONG(LOWORD(w.low), LOWORD(w.high));
    w.low = low;
    w.high = high;
    ClampPos(w);
    return old;
}

LRESULT WINAPI ProgressProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        Bars().Make(h);
        return DefWindowProcA(h, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        Bars().Forget(h);
        return DefWindowProcA(h, msg, wp, lp);
    }
    ProgressState* state = Bars().Find(h);
    if (!state) {
        return DefWindowProcA(h, msg, wp, lp);
    }
    ProgressState& p = *state;
    switch (msg) {
    case PBM_SETRANGE:
        return SetRange(p, LOWORD(lp), HIWORD(lp));
    case PBM_SETRANGE32:
        return SetRange(p, static_cast<int>(wp), static_cast<int>(lp));
    case PBM_GETRANGE:
        if (lp) {
            auto* range = reinterpret_cast<PBRANGE*>(lp);
            range->iLow = p.low;
            range->iHigh = p.high;
        }
        return wp ? p.low : p.high;
    case PBM_SETPOS: {
        const int old = p.pos;
        p.pos = static_cast<int>(wp);
        ClampPos(p);
        return static_cast<UINT>(old);
    }
    case PBM_DELTAPOS: {
        const int old = p.pos;
        p.pos += static_cast<int>(wp);
        ClampPos(p);
        return old;
    }
    case PBM_STEPIT: {
        // past the end the bar starts over from the beginning
        const int old = p.pos;
        p.pos += p.step;
        if (p.pos > p.high) {
            p.pos = p.low;
        }
        return old;
    }
    case PBM_SETSTEP: {
        const int old = p.step;
        p.step = static_cast<int>(wp);
        return old;
    }
    case PBM_GETSTEP:
        return p.step;
    case PBM_GETPOS:
        return p.pos;
    case PBM_SETBARCOLOR: {
        const COLORREF old = p.bar;
        p.bar = static_cast<COLORREF>(lp);
        return old;
    }
    case PBM_SETBKCOLOR: {
        const COLORREF old = p.background;
        p.background = static_cast<COLORREF>(lp);
        return old;
    }
    case PBM_GETBARCOLOR:
        return p.bar;
    case PBM_GETBKCOLOR:
        return p.background;
    default:
        return DefWindowProcA(h, msg, wp, lp);
    }
}

const bool kRegistered = [] {
    WNDCLASSA progress{};
    progress.lpfnWndProc = ProgressProc;
    progress.lpszClassName = "msctls_progress32";
    return RegisterClassA(&progress) != 0;
}();

} // namespace
} // namespace kqwin

using namespace kqwin;

extern "C" {

void WINAPI InitCommonControls(void) {}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    return init && init->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

} // extern "C"
