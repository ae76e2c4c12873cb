// DefDlgProcA: the dialog class's procedure, which calls the dialog procedure and does the dialog manager's
// default processing for what it leaves.
#include "user32_private.h"

namespace kqwin {
namespace {

// The dialog's default push button, as the dialog manager finds it: the child that says it is one.
HWND DefaultButton(HWND dlg) {
    auto d = GetWnd(dlg);
    if (!d) {
        return nullptr;
    }
    for (HWND c : d->children) {
        if (SendMessageA(c, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) {
            return c;
        }
    }
    return nullptr;
}

LRESULT DialogDefault(const std::shared_ptr<Wnd>& w, UINT msg, WPARAM wp, LPARAM lp) {
    const HWND h = w->self;
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFOCUS: {
        const HWND first = GetNextDlgTabItem(h, nullptr, FALSE);
        if (first) {
            SetFocus(first);
        }
        return 0;
    }
    case DM_SETDEFID: {
        const HWND oldDef = w->dialog->defId ? GetDlgItem(h, w->dialog->defId) : DefaultButton(h);
        const HWND newDef = GetDlgItem(h, static_cast<int>(wp));
        if (oldDef && oldDef != newDef) {
            SendMessageA(oldDef, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        }
        if (newDef) {
            SendMessageA(newDef, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        }
        w->dialog->defId = static_cast<int>(wp);
        return TRUE;
    }
    case DM_GETDEFID: {
        if (w->dialog->defId) {
            return MAKELONG(w->dialog->defId, DC_HASDEFID);
        }
        const HWND def = DefaultButton(h);
        return def ? MAKELONG(GetDlgCtrlID(def), DC_HASDEFID) : 0;
    }
    case WM_NEXTDLGCTL: {
        const HWND target = LOWORD(lp) ? reinterpret_cast<HWND>(wp) : GetNextDlgTabItem(h, GetFocus(), wp != 0);
        if (target) {
            SetFocus(target);
        }
        return 0;
    }
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(w->font);
    case WM_CLOSE: {
        // the close box does what the cancel button does, and nothing while that button is disabled
        const DWORD error = GetLastError();
        const HWND cancel = GetDlgItem(h, IDCANCEL);
        SetLastError(error);
        if (cancel && !IsWindowEnabled(cancel)) {
            MessageBeep(0);
            return 0;
        }
        PostMessageA(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    default:
        return DefWindowProcA(h, msg, wp, lp);
    }
}

} // namespace

} // namespace kqwin

using namespace kqwin;

extern "C" {

LRESULT WINAPI DefDlgProcA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    if (!w->dialog) { // the dialog's own state, made on its first message
        w->dialog = std::make_unique<DialogInfo>();
    }
    w->dialog->msgResult = 0;
    const DLGPROC proc = w->dialog->proc;
    const INT_PTR handled = proc ? proc(h, msg, wp, lp) : 0;
    if (!handled && IsWindow(h)) {
        switch (msg) {
        case WM_INITDIALOG:
        case WM_VKEYTOITEM:
        case WM_COMPAREITEM:
        case WM_CHARTOITEM:
            break;
        default:
            return DialogDefault(w, msg, wp, lp);
        }
    }
    switch (msg) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return handled; // the dialog procedure's own return value
    default:
        return w->dialog->msgResult;
    }
}

} // extern "C"
