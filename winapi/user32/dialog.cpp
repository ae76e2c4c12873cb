// Dialogs: made from their templates with their controls, run modally, ended; the dialog manager's keyboard
// handling (IsDialogMessageA), and finding and addressing a dialog's controls.
#include "user32_private.h"

#include <algorithm>

namespace kqwin {
namespace {

constexpr int kTimerOnlyLimit = 100000; // timer rounds with nothing else happening: a loop that is stuck

// Dialog base units for a template's font: the average width of the font's letters and its height, in pixels
// at 96 dots per inch.
std::pair<int, int> BaseUnits(const DialogTemplate& t) {
    if (!(t.style & DS_SETFONT)) {
        return {8, 16}; // the system font of Korean Windows
    }
    std::u16string face = t.font;
    for (char16_t& c : face) {
        c = AsciiLower(c);
    }
    const bool korean = face == u"\uAD74\uB9BC" || face == u"gulim" || face == u"\uAD74\uB9BC\uCCB4" ||
                        face == u"gulimche" || face == u"\uB3CB\uC6C0" || face == u"dotum";
    if (korean && t.pointSize == 9) {
        return {6, 12};
    }
    if ((face == u"ms shell dlg" || face == u"ms sans serif" || face == u"ms shell dlg 2" || face == u"tahoma") &&
        t.pointSize == 8) {
        return {6, 13};
    }
    const int height = std::max(1, MulDivRound(t.pointSize ? t.pointSize : 9, 96, 72));
    return {std::max(1, (height + 1) / 2), height};
}

// A dialog made from its template, controls and all, with WM_INITDIALOG sent.
HWND CreateDialogFromTemplate(const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param, bool modal) {
    if (!t.className.empty() || t.classOrdinal != 0) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS); // no class can be registered here
        return nullptr;
    }
    const auto [baseX, baseY] = BaseUnits(t);
    const HWND ownerTop = owner ? TopLevelOf(owner) : nullptr;
    DWORD exStyle = t.exStyle;
    if (t.style & DS_MODALFRAME) {
        exStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
    }
    Wnd probe;
    probe.style = t.style;
    probe.exStyle = exStyle;
    const RECT nc = NonClient(probe);
    const int cw = MulDivRound(t.cx, baseX, 4);
    const int ch = MulDivRound(t.cy, baseY, 8);
    const int ww = cw + nc.left + nc.right;
    const int wh = ch + nc.top + nc.bottom;
    POINT at{MulDivRound(t.x, baseX, 4), MulDivRound(t.y, baseY, 8)};
    if (t.style & DS_CENTER) {
        at = POINT{(kScreenWidth - ww) / 2, (kScreenHeight - wh) / 2};
    } else if (!(t.style & DS_ABSALIGN) && ownerTop) {
        if (auto o = GetWnd(ownerTop)) {
            const POINT origin = ClientOrigin(*o);
            at.x += origin.x;
            at.y += origin.y;
        }
    }
    const HWND dlg = CreateWnd(u"#32770", 0, t.title, t.style & ~static_cast<DWORD>(WS_VISIBLE), exStyle,
                               RECT{at.x, at.y, at.x + ww, at.y + wh}, nullptr, ownerTop, 0);
    auto d = GetWnd(dlg);
    if (!d) {
        return nullptr;
    }
    d->dialog->proc = proc;
    d->dialog->baseX = baseX;
    d->dialog->baseY = baseY;
    d->dialog->modal = modal;
    if (modal && ownerTop && IsWindowEnabled(ownerTop)) {
        EnableWindow(ownerTop, FALSE);
    }
    const POINT origin = ClientOrigin(*d);
    for (const DialogItem& item : t.items) {
        RECT r{origin.x + MulDivRound(item.x, baseX, 4), origin.y + MulDivRound(item.y, baseY, 8), 0, 0};
        r.right = r.left + MulDivRound(item.cx, baseX, 4);
        r.bottom = r.top + MulDivRound(item.cy, baseY, 8);
        const bool combo = item.classAtom == kComboBoxAtom || EqualsNoCase16(item.className, u"ComboBox");
        if (combo && (item.style & 0x3) != CBS_SIMPLE) {
            r.bottom = r.top + baseY + 8; // a drop-down combo box is as tall as its selection field
        }
        const HWND c = CreateWnd(item.className, item.classAtom, item.hasTitleOrdinal ? u"" : item.title,
                                 item.style | WS_CHILD, item.exStyle | WS_EX_NOPARENTNOTIFY, r, dlg, nullptr,
                                 static_cast<LONG_PTR>(static_cast<int>(item.id)),
                                 item.hasTitleOrdinal ? item.titleOrdinal : 0);
        if (!c) {
            if (t.style & DS_NOFAILCREATE) {
                continue;
            }
            const DWORD error = GetLastError();
            if (modal && ownerTop) {
                EnableWindow(ownerTop, TRUE);
            }
            DestroyWindow(dlg);
            SetLastError(error);
            return nullptr;
        }
    }
    const HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
    const LRESULT focusDefault = SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
    if (!IsWindow(dlg)) {
        return nullptr;
    }
    if (focusDefault) {
        if (const HWND f = GetNextDlgTabItem(dlg, nullptr, FALSE)) {
            SetFocus(f);
        }
    }
    if (t.style & WS_VISIBLE) {
        ShowWindow(dlg, SW_SHOWNORMAL);
    }
    return dlg;
}

} // namespace

INT_PTR RunModal(HWND dlg) {
    auto d = GetWnd(dlg);
    const HWND owner = d->owner;
    bool shown = IsWindowVisible(dlg) != FALSE;
    int timerOnly = 0;
    DialogInfo& info = *d->dialog;
    while (IsWindow(dlg) && !info.ended) {
        MSG msg{};
        if (!NextMessage(&msg, nullptr, 0, 0, true, false)) {
            if (!shown) { // a dialog without WS_VISIBLE shows once its queue first runs dry
                shown = true;
                ShowWindow(dlg, SW_SHOWNORMAL);
                continue;
            }
            if (!NextMessage(&msg, nullptr, 0, 0, true, true)) {
                ReportModalLoopFailure("the modal loop of dialog \"" + Utf16ToUtf8(d->text) +
                                 "\" had no posted message, no window to paint and no timer: nothing could ever "
                                 "end it, so it ended with -1");
                info.ended = true;
                info.result = -1;
                break;
            }
        }
        timerOnly = msg.message == WM_TIMER ? timerOnly + 1 : 0;
        if (timerOnly > kTimerOnlyLimit) {
            ReportModalLoopFailure("the modal loop of dialog \"" + Utf16ToUtf8(d->text) +
                             "\" ran only timers " + std::to_string(kTimerOnlyLimit) +
                             " times in a row without an end: it ended with -1");
            info.ended = true;
            info.result = -1;
            break;
        }
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam)); // the loop that owns the quit gets it again
            break;
        }
        if (!IsDialogMessageA(dlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    const INT_PTR result = info.ended ? info.result : -1;
    if (owner && IsWindow(owner) && !IsWindowEnabled(owner)) {
        EnableWindow(owner, TRUE);
    }
    if (IsWindow(dlg)) {
        DestroyWindow(dlg);
    }
    if (owner && IsWindow(owner)) {
        Activate(owner);
    }
    return result;
}

} // namespace kqwin

using namespace kqwin;

extern "C" {

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE, LPCDLGTEMPLATEA tmpl, HWND owner, DLGPROC proc, LPARAM param) {
    if (owner && !GetWnd(owner)) {
        return -1;
    }
    const auto parsed = ParseDialogTemplate(reinterpret_cast<const BYTE*>(tmpl), SIZE_MAX);
    if (!parsed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const HWND dlg = CreateDialogFromTemplate(*parsed, owner, proc, param, true);
    return dlg ? RunModal(dlg) : -1;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    if (owner && !GetWnd(owner)) {
        return -1;
    }
    if (!name) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return -1;
    }
    const auto res = FindResourceBytes(instance, name, AnsiResourceId(RT_DIALOG));
    if (!res) {
        return -1;
    }
    const auto parsed = ParseDialogTemplate(res->data, res->size);
    if (!parsed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const HWND dlg = CreateDialogFromTemplate(*parsed, owner, proc, param, true);
    return dlg ? RunModal(dlg) : -1;
}

BOOL WINAPI EndDialog(HWND h, INT_PTR result) {
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    if (!w->dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->dialog->ended = true;
    w->dialog->result = result;
    // as Windows: the owner is enabled again before the dialog goes, so activation can return to it
    if (w->dialog->modal && w->owner && IsWindow(w->owner) && !IsWindowEnabled(w->owner)) {
        EnableWindow(w->owner, TRUE);
    }
    ShowWindow(h, SW_HIDE);
    return TRUE;
}

BOOL WINAPI IsDialogMessageA(HWND dlg, LPMSG msg) {
    if (!msg || !GetWnd(dlg)) {
        return FALSE;
    }
    if (msg->hwnd != dlg && !IsDescendant(dlg, msg->hwnd)) {
        return FALSE;
    }
    if (msg->message == WM_KEYDOWN) {
        switch (msg->wParam) {
        case VK_TAB:
            SendMessageA(dlg, WM_NEXTDLGCTL, 0, 0);
            return TRUE;
        case VK_ESCAPE:
            SendMessageA(dlg, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)));
            return TRUE;
        case VK_RETURN: {
            const HWND focus = GetFocus();
            // a push button with the focus is the one pressed
            if (focus && IsDescendant(dlg, focus) &&
                (SendMessageA(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) {
                SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                             reinterpret_cast<LPARAM>(focus));
                return TRUE;
            }
            const LRESULT def = SendMessageA(dlg, DM_GETDEFID, 0, 0);
            if (HIWORD(def) == DC_HASDEFID) {
                const HWND button = GetDlgItem(dlg, LOWORD(def));
                if (!button || IsWindowEnabled(button)) {
                    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED),
                                 reinterpret_cast<LPARAM>(button));
                }
            } else {
                SendMessageA(dlg, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
            }
            return TRUE;
        }
        default:
            break;
        }
    }
    if (msg->message == WM_CHAR && (msg->wParam == '\t' || msg->wParam == '\x1b' || msg->wParam == '\r')) {
        return TRUE;
    }
    TranslateMessage(msg);
    DispatchMessageA(msg);
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dlg, int id) {
    auto d = GetWnd(dlg);
    if (!d) {
        return nullptr;
    }
    for (HWND c : d->children) {
        auto w = GetWnd(c);
        if (w && static_cast<int>(w->id) == id) {
            return c;
        }
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND h) {
    auto w = GetWnd(h);
    return w && w->parent ? static_cast<int>(w->id) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND dlg, int id, LPCSTR text) {
    const HWND item = GetDlgItem(dlg, id);
    return item ? SetWindowTextA(item, text) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dlg, int id, LPSTR text, int max) {
    const HWND item = GetDlgItem(dlg, id);
    if (!item) {
        if (text && max > 0) {
            text[0] = '\0';
        }
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(item, text, max));
}

LRESULT WINAPI SendDlgItemMessageA(HWND dlg, int id, UINT msg, WPARAM wp, LPARAM lp) {
    const HWND item = GetDlgItem(dlg, id);
    return item ? SendMessageA(item, msg, wp, lp) : 0;
}

HWND WINAPI GetNextDlgTabItem(HWND dlg, HWND current, BOOL previous) {
    auto d = GetWnd(dlg);
    if (!d) {
        return nullptr;
    }
    std::vector<HWND> order = d->children;
    if (previous) {
        std::reverse(order.begin(), order.end());
    }
    const auto at = std::find(order.begin(), order.end(), current);
    const size_t start = at == order.end() ? 0 : static_cast<size_t>(at - order.begin()) + 1;
    for (size_t i = 0; i < order.size(); ++i) {
        const HWND c = order[(start + i) % order.size()];
        auto w = GetWnd(c);
        if (w && (w->style & WS_TABSTOP) && (w->style & WS_VISIBLE) && !(w->style & WS_DISABLED)) {
            return c;
        }
    }
    return nullptr;
}

BOOL WINAPI MapDialogRect(HWND dlg, LPRECT rect) {
    auto d = GetWnd(dlg);
    if (!d || !d->dialog || !rect) {
        return FALSE;
    }
    const DialogInfo& info = *d->dialog;
    rect->left = MulDivRound(rect->left, info.baseX, 4);
    rect->right = MulDivRound(rect->right, info.baseX, 4);
    rect->top = MulDivRound(rect->top, info.baseY, 8);
    rect->bottom = MulDivRound(rect->bottom, info.baseY, 8);
    return TRUE;
}

} // extern "C"
