// Where windows are and what state they are in: rectangles and client areas, showing, minimising and
// restoring, enabling, activation, the foreground window and the focus.
#include "user32_private.h"

namespace kqwin {
namespace {

void Minimize(const std::shared_ptr<Wnd>& w) {
    if (w->iconic) {
        return;
    }
    w->restoreRect = w->rect;
    w->iconic = true;
    w->style |= WS_MINIMIZE;
    const RECT nc = NonClient(*w);
    w->rect = RECT{w->rect.left, w->rect.top, w->rect.left + nc.left + kIconicClientWidth + nc.right,
                   w->rect.top + nc.top + kIconicClientHeight + nc.bottom};
    CallProc(w, WM_SIZE, SIZE_MINIMIZED, 0);
    InvalidateRect(w->self, nullptr, TRUE);
    UpdateWindow(w->self);
}

void Restore(const std::shared_ptr<Wnd>& w) {
    if (!w->iconic) {
        return;
    }
    w->iconic = false;
    w->style &= ~static_cast<DWORD>(WS_MINIMIZE);
    w->rect = w->restoreRect;
    const SIZE size = ClientSize(*w);
    CallProc(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(size.cx, size.cy));
    InvalidateRect(w->self, nullptr, TRUE);
    UpdateWindow(w->self);
}

} // namespace

// Border and caption thickness around the client area.
RECT NonClient(const Wnd& w) {
    int frame = 0;
    if ((w.exStyle & WS_EX_DLGMODALFRAME) || (w.style & WS_DLGFRAME)) {
        frame = kDialogFrame;
    } else if (w.style & WS_THICKFRAME) {
        frame = kDialogFrame + 1;
    } else if (w.style & WS_BORDER) {
        frame = 1;
    }
    if (w.exStyle & WS_EX_CLIENTEDGE) {
        frame += 2;
    } else if (w.exStyle & WS_EX_STATICEDGE) {
        frame += 1;
    }
    const int caption = ((w.style & WS_CAPTION) == WS_CAPTION) ? kCaptionHeight : 0;
    return RECT{frame, frame + caption, frame, frame};
}

POINT ClientOrigin(const Wnd& w) {
    const RECT nc = NonClient(w);
    return POINT{w.rect.left + nc.left, w.rect.top + nc.top};
}

SIZE ClientSize(const Wnd& w) {
    if (w.iconic) {
        return SIZE{kIconicClientWidth, kIconicClientHeight};
    }
    const RECT nc = NonClient(w);
    return SIZE{std::max<LONG>(0, w.rect.right - w.rect.left - nc.left - nc.right),
                std::max<LONG>(0, w.rect.bottom - w.rect.top - nc.top - nc.bottom)};
}

void Activate(HWND h) {
    ThreadQueue& t = CurrentThreadQueue();
    t.active = h;
    std::lock_guard lock(Desktop().mutex);
    Desktop().foreground = h;
}

int MulDivRound(int value, int num, int den) {
    const long long p = static_cast<long long>(value) * num;
    return static_cast<int>(p >= 0 ? (p + den / 2) / den : (p - den / 2) / den);
}

} // namespace kqwin

using namespace kqwin;

extern "C" {

BOOL WINAPI EnableWindow(HWND h, BOOL enable) {
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    const bool wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable && wasDisabled) {
        w->style &= ~static_cast<DWORD>(WS_DISABLED);
        CallProc(w, WM_ENABLE, TRUE, 0);
    } else if (!enable && !wasDisabled) {
        CallProc(w, WM_CANCELMODE, 0, 0);
        w->style |= WS_DISABLED;
        const HWND focus = GetFocus();
        if (focus == h || IsDescendant(h, focus)) {
            SetFocus(nullptr); // a disabled window cannot keep the focus
        }
        CallProc(w, WM_ENABLE, FALSE, 0);
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND h) {
    auto w = GetWnd(h);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND h) {
    for (auto w = GetWnd(h); w; w = w->parent ? GetWnd(w->parent) : nullptr) {
        if (!HasVisibleStyle(*w)) {
            return FALSE;
        }
        if (!w->parent) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI ShowWindow(HWND h, int cmd) {
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    const bool wasVisible = HasVisibleStyle(*w);
    auto show = [&] {
        if (!HasVisibleStyle(*w)) {
            CallProc(w, WM_SHOWWINDOW, TRUE, 0);
            w->style |= WS_VISIBLE;
            w->needsPaint = true;
        }
        if (!w->parent && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE && cmd != SW_SHOWMINNOACTIVE) {
            Activate(h);
        }
    };
    switch (cmd) {
    case SW_HIDE:
        if (wasVisible) {
            CallProc(w, WM_SHOWWINDOW, FALSE, 0);
            w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        }
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
        show();
        Minimize(w);
        break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
    case SW_SHOWDEFAULT:
        show();
        Restore(w);
        break;
    default:
        show();
        break;
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND h) {
    auto w = GetWnd(h);
    return w && w->iconic ? TRUE : FALSE;
}

BOOL WINAPI GetClientRect(HWND h, LPRECT rect) {
    auto w = GetWnd(h);
    if (!w || !rect) {
        return FALSE;
    }
    const SIZE size = ClientSize(*w);
    *rect = RECT{0, 0, size.cx, size.cy};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND h, LPRECT rect) {
    auto w = GetWnd(h);
    if (!w || !rect) {
        return FALSE;
    }
    *rect = w->rect;
    return TRUE;
}

BOOL WINAPI SetForegroundWindow(HWND h) {
    if (!GetWnd(h)) {
        return FALSE;
    }
    Activate(TopLevelOf(h));
    return TRUE;
}

HWND WINAPI GetForegroundWindow(void) {
    std::lock_guard lock(Desktop().mutex);
    return IsWindow(Desktop().foreground) ? Desktop().foreground : nullptr;
}

HWND WINAPI GetActiveWindow(void) {
    const HWND active = CurrentThreadQueue().active;
    return IsWindow(active) ? active : nullptr;
}

HWND WINAPI SetFocus(HWND h) {
    if (h && !GetWnd(h)) {
        return nullptr;
    }
    ThreadQueue& t = CurrentThreadQueue();
    const HWND previous = IsWindow(t.focus) ? t.focus : nullptr;
    if (previous == h) {
        return previous;
    }
    t.focus = h;
    if (previous) {
        SendMessageA(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(h), 0);
    }
    if (h && t.focus == h) {
        SendMessageA(h, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    }
    return previous;
}

HWND WINAPI GetFocus(void) {
    const HWND focus = CurrentThreadQueue().focus;
    return IsWindow(focus) ? focus : nullptr;
}

} // extern "C"
