// DefWindowProcA: what a window does with the messages its procedure leaves to the system.
#include "user32_private.h"

using namespace kqwin;

extern "C" {

LRESULT WINAPI DefWindowProcA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    switch (msg) {
    case WM_NCCREATE:
    case WM_QUERYOPEN:
    case WM_NCACTIVATE:
    case WM_ERASEBKGND:
    case WM_ICONERASEBKGND:
        return TRUE;
    case WM_SETTEXT:
        w->text = lp ? AnsiToUtf16(reinterpret_cast<LPCSTR>(lp)) : std::u16string();
        return TRUE;
    case WM_GETTEXT:
        return CopyAnsiOut(w->text, reinterpret_cast<LPSTR>(lp), static_cast<int>(wp));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(Utf16ToAnsi(w->text).size());
    case WM_CLOSE:
        DestroyWindow(h);
        return 0;
    case WM_SYSCOMMAND:
        switch (wp & 0xFFF0) {
        case SC_CLOSE:
            SendMessageA(h, WM_CLOSE, 0, 0);
            break;
        case SC_MINIMIZE:
            ShowWindow(h, SW_MINIMIZE);
            break;
        case SC_RESTORE:
            ShowWindow(h, SW_RESTORE);
            break;
        default:
            break; // moving and sizing need a mouse; the rest has nothing to act on here
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(h, &ps);
        EndPaint(h, &ps);
        return 0;
    }
    case WM_SETICON: {
        HICON& slot = wp == ICON_BIG ? w->bigIcon : w->smallIcon;
        const HICON old = slot;
        slot = reinterpret_cast<HICON>(lp);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETICON:
        if (wp == ICON_BIG) {
            return reinterpret_cast<LRESULT>(w->bigIcon);
        }
        return reinterpret_cast<LRESULT>(wp == ICON_SMALL2 && !w->smallIcon ? w->bigIcon : w->smallIcon);
    case WM_SETFONT:
        w->font = reinterpret_cast<HFONT>(wp);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(w->font);
    case WM_MOUSEACTIVATE:
        return 1; // MA_ACTIVATE
    default:
        return 0;
    }
}

} // extern "C"
