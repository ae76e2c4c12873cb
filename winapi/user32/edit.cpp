// The edit control: its text is the window's; it keeps nothing else.
#include "user32_private.h"

namespace kqwin {

LRESULT WINAPI EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_GETDLGCODE) {
        return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    }
    return DefWindowProcA(h, msg, wp, lp);
}

} // namespace kqwin
