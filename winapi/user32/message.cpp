// Messages: each thread's queue of posted messages, its timers and its clock; sending, posting, getting,
// peeking and dispatching, and the thread's modal-loop failures.
#include "user32_private.h"

#include "observers.h"

#include <algorithm>
#include <cstdio>

namespace kqwin {
namespace {

constexpr UINT kTimerMinimum = 10; // USER_TIMER_MINIMUM

void ScheduleTimer(ThreadQueue& t, Timer& timer) { timer.due = t.clock + timer.elapse; }

bool InRange(UINT msg, UINT min, UINT max) { return (min == 0 && max == 0) || (msg >= min && msg <= max); }

bool MatchesWindow(HWND filter, HWND h) {
    if (!filter) {
        return true;
    }
    if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
        return h == nullptr;
    }
    return h == filter || IsDescendant(filter, h);
}

} // namespace

DesktopState& Desktop() {
    static DesktopState state;
    return state;
}

ThreadQueue& CurrentThreadQueue() {
    DesktopState& s = Desktop();
    std::lock_guard lock(s.mutex);
    return s.threads[GetCurrentThreadId()];
}

bool NextTimerMessage(MSG* out, const std::function<bool(const Timer&)>& eligible, bool remove, bool wait) {
    DesktopState& s = Desktop();
    ThreadQueue& t = CurrentThreadQueue();
    std::lock_guard lock(s.mutex);
    Timer* next = nullptr;
    for (Timer& timer : t.timers) {
        if (eligible(timer) &&
            (!next || timer.due < next->due || (timer.due == next->due && timer.seq < next->seq))) {
            next = &timer;
        }
    }
    if (!next || (next->due > t.clock && !wait)) {
        return false;
    }
    t.clock = std::max(t.clock, next->due);
    *out = MSG{next->hwnd, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->proc), static_cast<DWORD>(t.clock), {}};
    if (remove) {
        ScheduleTimer(t, *next);
    }
    return true;
}

// The next message of the calling thread, as GetMessage and PeekMessage find it: posted messages first, then
// a quit request, then windows to paint, then timers. A timer that is not due yet is taken only when the
// caller would wait for it; the thread's clock then moves to its due time.
bool NextMessage(MSG* out, HWND filter, UINT min, UINT max, bool remove, bool wait) {
    DesktopState& s = Desktop();
    ThreadQueue& t = CurrentThreadQueue();
    const DWORD self = GetCurrentThreadId();
    {
        std::lock_guard lock(s.mutex);
        for (auto it = t.queue.begin(); it != t.queue.end(); ++it) {
            if (InRange(it->message, min, max) && MatchesWindow(filter, it->hwnd)) {
                *out = *it;
                if (remove) {
                    t.queue.erase(it);
                }
                return true;
            }
        }
        if (t.quit && InRange(WM_QUIT, min, max)) {
            *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(t.quitCode), 0, static_cast<DWORD>(t.clock), {}};
            if (remove) {
                t.quit = false;
            }
            return true;
        }
    }
    for (HWND h : LiveWindows()) {
        auto w = PeekWnd(h);
        if (w && w->thread == self && w->needsPaint && IsWindowVisible(h) && InRange(WM_PAINT, min, max) &&
            MatchesWindow(filter, h)) {
            *out = MSG{h, WM_PAINT, 0, 0, static_cast<DWORD>(t.clock), {}};
            return true;
        }
    }
    if (!InRange(WM_TIMER, min, max)) {
        return false;
    }
    return NextTimerMessage(
        out, [filter](const Timer& timer) { return !filter || (timer.hwnd && MatchesWindow(filter, timer.hwnd)); },
        remove, wait);
}

void ReportModalLoopFailure(const std::string& what) {
    std::fprintf(stderr, "kqwin: %s\n", what.c_str());
    if (User32Observer* observer = User32Hook().Get()) {
        observer->ModalLoopFailed(what);
    }
}

} // namespace kqwin

using namespace kqwin;

extern "C" {

LRESULT WINAPI SendMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    return w ? CallProc(w, msg, wp, lp) : 0;
}

BOOL WINAPI PostMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD thread = GetCurrentThreadId();
    if (h) {
        auto w = GetWnd(h);
        if (!w) {
            return FALSE;
        }
        thread = w->thread;
    }
    DesktopState& s = Desktop();
    std::lock_guard lock(s.mutex);
    ThreadQueue& t = s.threads[thread];
    t.queue.push_back(MSG{h, msg, wp, lp, static_cast<DWORD>(t.clock), {}});
    return TRUE;
}

VOID WINAPI PostQuitMessage(int code) {
    ThreadQueue& t = CurrentThreadQueue();
    std::lock_guard lock(Desktop().mutex);
    t.quit = true;
    t.quitCode = code;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND h, UINT min, UINT max) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (h && !IsWindow(h)) {
        return -1;
    }
    if (!NextMessage(msg, h, min, max, true, true)) {
        // nothing can ever arrive: a real GetMessage would block for good; end the caller's loop instead
        ReportModalLoopFailure("GetMessage found no posted message, no window to paint and no timer: it returned "
                         "WM_QUIT");
        *msg = MSG{nullptr, WM_QUIT, 0, 0, 0, {}};
    }
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND h, UINT min, UINT max, UINT remove) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return NextMessage(msg, h, min, max, (remove & PM_REMOVE) != 0, false) ? TRUE : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (msg->message == WM_TIMER && msg->lParam) {
        const auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        if (msg->hwnd && !IsWindow(msg->hwnd)) {
            return 0;
        }
        proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    auto w = GetWnd(msg->hwnd);
    if (!w) {
        return 0;
    }
    const LRESULT r = CallProc(w, msg->message, msg->wParam, msg->lParam);
    if (msg->message == WM_PAINT) {
        w->needsPaint = false; // a handler that did not validate is not asked again
    }
    return r;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return proc ? proc(h, msg, wp, lp) : 0;
}

UINT_PTR WINAPI SetTimer(HWND h, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    if (h && !GetWnd(h)) {
        return 0;
    }
    DesktopState& s = Desktop();
    ThreadQueue& t = CurrentThreadQueue();
    std::lock_guard lock(s.mutex);
    Timer timer{h, id, std::clamp<UINT>(elapse, kTimerMinimum, 0x7FFFFFFF), proc, 0, ++s.timerSeq};
    ScheduleTimer(t, timer);
    auto same = std::find_if(t.timers.begin(), t.timers.end(),
                             [&](const Timer& x) { return x.hwnd == h && x.id == id && (h || id != 0); });
    if (same != t.timers.end()) {
        *same = timer;
        return h ? (id ? id : 1) : id;
    }
    if (!h) { // a thread timer gets an id of its own
        auto used = [&](UINT_PTR v) {
            return std::any_of(t.timers.begin(), t.timers.end(), [&](const Timer& x) { return !x.hwnd && x.id == v; });
        };
        while (used(s.nextThreadTimer) || s.nextThreadTimer == 0) {
            ++s.nextThreadTimer;
        }
        timer.id = s.nextThreadTimer++;
    }
    t.timers.push_back(timer);
    return h ? (id ? id : 1) : timer.id;
}

BOOL WINAPI KillTimer(HWND h, UINT_PTR id) {
    DesktopState& s = Desktop();
    ThreadQueue& t = CurrentThreadQueue();
    std::lock_guard lock(s.mutex);
    const auto it = std::find_if(t.timers.begin(), t.timers.end(), [&](const Timer& x) { return x.hwnd == h && x.id == id; });
    if (it == t.timers.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    t.timers.erase(it);
    return TRUE;
}

} // extern "C"
