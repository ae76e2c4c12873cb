// The button control: push buttons, check boxes and radio buttons, with their check and push state.
#include "user32_private.h"

namespace kqwin {
namespace {

struct ButtonState : ControlState {
    UINT check = 0; // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE
    UINT state = 0; // BST_PUSHED and BST_FOCUS
};

} // namespace

LRESULT WINAPI ButtonProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    if (msg == WM_NCCREATE) {
        w->control = std::make_unique<ButtonState>();
        return DefWindowProcA(h, msg, wp, lp);
    }
    ButtonState* state = ControlStateOf<ButtonState>(*w);
    if (!state) {
        return DefWindowProcA(h, msg, wp, lp);
    }
    ButtonState& b = *state;
    const DWORD type = w->style & BS_TYPEMASK;
    switch (msg) {
    case BM_CLICK:
        // a click reaches only an enabled button; it takes the focus, flips an automatic box, and notifies
        if ((w->style & WS_DISABLED) || type == BS_GROUPBOX) {
            return 0;
        }
        SetFocus(h);
        if (type == BS_AUTOCHECKBOX) {
            b.check = b.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        } else if (type == BS_AUTO3STATE) {
            b.check = (b.check + 1) % 3;
        } else if (type == BS_AUTORADIOBUTTON) {
            b.check = BST_CHECKED;
        }
        Notify(w, BN_CLICKED);
        return 0;
    case BM_GETCHECK:
        return b.check;
    case BM_SETCHECK:
        b.check = static_cast<UINT>(wp) & 3;
        return 0;
    case BM_GETSTATE:
        return b.check | b.state;
    case BM_SETSTATE:
        b.state = wp ? (b.state | BST_PUSHED) : (b.state & ~static_cast<UINT>(BST_PUSHED));
        return 0;
    case BM_SETSTYLE:
        w->style = (w->style & ~static_cast<DWORD>(0xFFFF)) | (static_cast<DWORD>(wp) & 0xFFFF);
        return 0;
    case WM_GETDLGCODE:
        if (type == BS_DEFPUSHBUTTON) {
            return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        }
        if (type == BS_PUSHBUTTON) {
            return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        }
        if (type == BS_GROUPBOX) {
            return DLGC_STATIC;
        }
        return (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) ? (DLGC_BUTTON | DLGC_RADIOBUTTON) : DLGC_BUTTON;
    case WM_SETFOCUS:
        b.state |= BST_FOCUS;
        if (w->style & BS_NOTIFY) {
            Notify(w, BN_SETFOCUS);
        }
        return 0;
    case WM_KILLFOCUS:
        b.state &= ~static_cast<UINT>(BST_FOCUS);
        if (w->style & BS_NOTIFY) {
            Notify(w, BN_KILLFOCUS);
        }
        return 0;
    default:
        return DefWindowProcA(h, msg, wp, lp);
    }
}

} // namespace kqwin
