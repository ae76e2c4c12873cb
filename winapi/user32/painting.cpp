// Painting: which windows need it, and the device context of BeginPaint. Nothing is drawn.
#include "user32_private.h"

#include <cstring>

namespace kqwin {
namespace {

struct PaintDc : DcObj {
    HWND window = nullptr;
};

} // namespace

} // namespace kqwin

using namespace kqwin;

extern "C" {

BOOL WINAPI InvalidateRect(HWND h, const RECT*, BOOL) {
    if (!h) {
        for (HWND each : LiveWindows()) {
            if (auto w = GetWnd(each)) {
                w->needsPaint = true;
            }
        }
        return TRUE;
    }
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    w->needsPaint = true;
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND h) {
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    if (w->needsPaint && IsWindowVisible(h)) {
        CallProc(w, WM_PAINT, 0, 0);
        w->needsPaint = false;
    }
    return TRUE;
}

HDC WINAPI BeginPaint(HWND h, LPPAINTSTRUCT ps) {
    auto w = GetWnd(h);
    if (!w || !ps) {
        return nullptr;
    }
    auto dc = std::make_shared<PaintDc>();
    dc->window = h;
    dc->logPixelsX = dc->logPixelsY = 96;
    const auto hdc = static_cast<HDC>(Handles().Add(dc));
    {
        std::lock_guard lock(Desktop().mutex);
        Desktop().paintDcs[hdc] = h;
    }
    std::memset(ps, 0, sizeof(*ps));
    ps->hdc = hdc;
    ps->fErase = TRUE;
    const SIZE size = ClientSize(*w);
    ps->rcPaint = RECT{0, 0, size.cx, size.cy};
    w->needsPaint = false;
    return hdc;
}

BOOL WINAPI EndPaint(HWND h, const PAINTSTRUCT* ps) {
    if (!GetWnd(h) || !ps) {
        return FALSE;
    }
    {
        std::lock_guard lock(Desktop().mutex);
        Desktop().paintDcs.erase(ps->hdc);
    }
    Handles().Remove(ps->hdc, ObjType::Dc);
    return TRUE;
}

} // extern "C"
