// The controls of the headless user32: button, static, edit, combo box (drop-down list) and progress bar,
// answering their messages with the values and side effects of user32 and comctl32.
#include "user32.h"

#include <commctrl.h>

#include <algorithm>

namespace kqwin {
namespace {

std::u16string TextArg(LPARAM lp) { return lp ? AnsiToUtf16(reinterpret_cast<LPCSTR>(lp)) : std::u16string(); }

bool IsDropDownList(const Wnd& w) { return (w.style & 0x3) == CBS_DROPDOWNLIST; }

// The index of the item a list-box search finds, starting after `start` (-1: from the top) and wrapping round.
int FindItem(const Wnd& w, int start, const std::u16string& text, bool exact) {
    const int count = static_cast<int>(w.items.size());
    if (count == 0) {
        return CB_ERR;
    }
    const int first = (start < -1 || start >= count) ? 0 : start + 1;
    for (int i = 0; i < count; ++i) {
        const int at = (first + i) % count;
        const std::u16string& item = w.items[static_cast<size_t>(at)].text;
        if (exact ? EqualsNoCase16(item, text) : StartsWithNoCase(item, text)) {
            return at;
        }
    }
    return CB_ERR;
}

bool ValidIndex(const Wnd& w, WPARAM index) { return static_cast<int>(index) >= 0 && index < w.items.size(); }

// A progress bar's position stays inside its range.
void ClampPos(Wnd& w) {
    if (w.pbPos < w.pbLow) {
        w.pbPos = w.pbLow;
    }
    if (w.pbPos > w.pbHigh) {
        w.pbPos = w.pbHigh;
    }
}

LRESULT SetRange(Wnd& w, int low, int high) {
    const LRESULT old = MAKELONG(LOWORD(w.pbLow), LOWORD(w.pbHigh));
    w.pbLow = low;
    w.pbHigh = high;
    ClampPos(w);
    return old;
}

} // namespace

LRESULT WINAPI ButtonProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    const DWORD type = w->style & BS_TYPEMASK;
    switch (msg) {
    case BM_CLICK:
        // a click reaches only an enabled button; it takes the focus, flips an automatic box, and notifies
        if ((w->style & WS_DISABLED) || type == BS_GROUPBOX) {
            return 0;
        }
        SetFocus(h);
        if (type == BS_AUTOCHECKBOX) {
            w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        } else if (type == BS_AUTO3STATE) {
            w->check = (w->check + 1) % 3;
        } else if (type == BS_AUTORADIOBUTTON) {
            w->check = BST_CHECKED;
        }
        Notify(w, BN_CLICKED);
        return 0;
    case BM_GETCHECK:
        return w->check;
    case BM_SETCHECK:
        w->check = static_cast<UINT>(wp) & 3;
        return 0;
    case BM_GETSTATE:
        return w->check | w->buttonState;
    case BM_SETSTATE:
        w->buttonState = wp ? (w->buttonState | BST_PUSHED) : (w->buttonState & ~static_cast<UINT>(BST_PUSHED));
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
        w->buttonState |= BST_FOCUS;
        if (w->style & BS_NOTIFY) {
            Notify(w, BN_SETFOCUS);
        }
        return 0;
    case WM_KILLFOCUS:
        w->buttonState &= ~static_cast<UINT>(BST_FOCUS);
        if (w->style & BS_NOTIFY) {
            Notify(w, BN_KILLFOCUS);
        }
        return 0;
    default:
        return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT WINAPI StaticProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    const DWORD type = w->style & SS_TYPEMASK;
    switch (msg) {
    case STM_GETICON:
        return type == SS_ICON ? reinterpret_cast<LRESULT>(w->image) : 0;
    case STM_GETIMAGE:
        if ((wp == IMAGE_BITMAP && type == SS_BITMAP) || ((wp == IMAGE_ICON || wp == IMAGE_CURSOR) && type == SS_ICON)) {
            return reinterpret_cast<LRESULT>(w->image);
        }
        return 0;
    case STM_SETICON:
    case STM_SETIMAGE: {
        const bool icon = msg == STM_SETICON || wp == IMAGE_ICON || wp == IMAGE_CURSOR;
        if ((icon && type != SS_ICON) || (!icon && type != SS_BITMAP)) {
            return 0;
        }
        const HANDLE old = w->image;
        w->image = reinterpret_cast<HANDLE>(msg == STM_SETICON ? static_cast<LPARAM>(wp) : lp);
        w->ownsImage = false; // the caller's image; the one from the template is the caller's to keep now
        InvalidateRect(h, nullptr, TRUE);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    default:
        return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT WINAPI EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_GETDLGCODE) {
        return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    }
    return DefWindowProcA(h, msg, wp, lp);
}

LRESULT WINAPI ComboBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    Wnd& c = *w;
    const int count = static_cast<int>(c.items.size());
    switch (msg) {
    case CB_ADDSTRING: {
        ComboItem item{TextArg(lp), 0};
        auto at = c.items.end();
        if (c.style & CBS_SORT) {
            at = std::lower_bound(c.items.begin(), c.items.end(), item.text, [](const ComboItem& x, const std::u16string& t) {
                return CompareNoCase(x.text, t) < 0;
            });
        }
        const int index = static_cast<int>(at - c.items.begin());
        c.items.insert(at, std::move(item));
        if (c.curSel >= index) {
            ++c.curSel; // the selected item stays selected
        }
        return index;
    }
    case CB_INSERTSTRING: {
        const int index = static_cast<int>(wp) == -1 ? count : static_cast<int>(wp);
        if (index < 0 || index > count) {
            return CB_ERR;
        }
        c.items.insert(c.items.begin() + index, ComboItem{TextArg(lp), 0});
        if (c.curSel >= index) {
            ++c.curSel;
        }
        return index;
    }
    case CB_DELETESTRING: {
        if (!ValidIndex(c, wp)) {
            return CB_ERR;
        }
        const int index = static_cast<int>(wp);
        c.items.erase(c.items.begin() + index);
        if (c.curSel == index) {
            c.curSel = -1;
        } else if (c.curSel > index) {
            --c.curSel;
        }
        return static_cast<LRESULT>(c.items.size());
    }
    case CB_RESETCONTENT:
        c.items.clear();
        c.curSel = -1;
        return CB_OKAY;
    case CB_GETCOUNT:
        return count;
    case CB_GETCURSEL:
        return c.curSel;
    case CB_SETCURSEL:
        // an index outside the list clears the selection; no notification either way
        if (!ValidIndex(c, wp)) {
            c.curSel = -1;
            return CB_ERR;
        }
        c.curSel = static_cast<int>(wp);
        return c.curSel;
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
        return FindItem(c, static_cast<int>(wp), TextArg(lp), msg == CB_FINDSTRINGEXACT);
    case CB_SELECTSTRING: {
        const int found = FindItem(c, static_cast<int>(wp), TextArg(lp), false);
        if (found != CB_ERR) {
            c.curSel = found;
        }
        return found;
    }
    case CB_GETLBTEXT:
        if (!ValidIndex(c, wp) || !lp) {
            return CB_ERR;
        }
        {
            const std::string text = Utf16ToAnsi(c.items[wp].text);
            std::copy(text.begin(), text.end(), reinterpret_cast<LPSTR>(lp));
            reinterpret_cast<LPSTR>(lp)[text.size()] = '\0';
            return static_cast<LRESULT>(text.size());
        }
    case CB_GETLBTEXTLEN:
        return ValidIndex(c, wp) ? static_cast<LRESULT>(Utf16ToAnsi(c.items[wp].text).size()) : CB_ERR;
    case CB_GETITEMDATA:
        return ValidIndex(c, wp) ? c.items[wp].data : CB_ERR;
    case CB_SETITEMDATA:
        if (!ValidIndex(c, wp)) {
            return CB_ERR;
        }
        c.items[wp].data = lp;
        return TRUE;
    case CB_GETDROPPEDSTATE:
        return FALSE;
    case CB_SHOWDROPDOWN:
    case CB_LIMITTEXT:
    case CB_SETEXTENDEDUI:
        return TRUE;
    case WM_GETTEXT:
        if (IsDropDownList(c)) {
            return CopyAnsiOut(c.curSel >= 0 ? c.items[static_cast<size_t>(c.curSel)].text : u"",
                               reinterpret_cast<LPSTR>(lp), static_cast<int>(wp));
        }
        break;
    case WM_GETTEXTLENGTH:
        if (IsDropDownList(c)) {
            return c.curSel >= 0 ? static_cast<LRESULT>(Utf16ToAnsi(c.items[static_cast<size_t>(c.curSel)].text).size()) : 0;
        }
        break;
    case WM_SETFOCUS:
        Notify(w, CBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        Notify(w, CBN_KILLFOCUS);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS | DLGC_WANTARROWS;
    default:
        break;
    }
    return DefWindowProcA(h, msg, wp, lp);
}

LRESULT WINAPI ProgressProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    Wnd& p = *w;
    switch (msg) {
    case PBM_SETRANGE:
        return SetRange(p, LOWORD(lp), HIWORD(lp));
    case PBM_SETRANGE32:
        return SetRange(p, static_cast<int>(wp), static_cast<int>(lp));
    case PBM_GETRANGE:
        if (lp) {
            auto* range = reinterpret_cast<PBRANGE*>(lp);
            range->iLow = p.pbLow;
            range->iHigh = p.pbHigh;
        }
        return wp ? p.pbLow : p.pbHigh;
    case PBM_SETPOS: {
        const int old = p.pbPos;
        p.pbPos = static_cast<int>(wp);
        ClampPos(p);
        return static_cast<UINT>(old);
    }
    case PBM_DELTAPOS: {
        const int old = p.pbPos;
        p.pbPos += static_cast<int>(wp);
        ClampPos(p);
        return old;
    }
    case PBM_STEPIT: {
        // past the end the bar starts over from the beginning
        const int old = p.pbPos;
        p.pbPos += p.pbStep;
        if (p.pbPos > p.pbHigh) {
            p.pbPos = p.pbLow;
        }
        return old;
    }
    case PBM_SETSTEP: {
        const int old = p.pbStep;
        p.pbStep = static_cast<int>(wp);
        return old;
    }
    case PBM_GETSTEP:
        return p.pbStep;
    case PBM_GETPOS:
        return p.pbPos;
    case PBM_SETBARCOLOR: {
        const COLORREF old = p.pbBar;
        p.pbBar = static_cast<COLORREF>(lp);
        return old;
    }
    case PBM_SETBKCOLOR: {
        const COLORREF old = p.pbBk;
        p.pbBk = static_cast<COLORREF>(lp);
        return old;
    }
    case PBM_GETBARCOLOR:
        return p.pbBar;
    case PBM_GETBKCOLOR:
        return p.pbBk;
    default:
        return DefWindowProcA(h, msg, wp, lp);
    }
}

} // namespace kqwin

namespace kqwin::control {

bool PickComboItem(HWND combo, int index) {
    auto w = GetWnd(combo);
    if (!w || w->kind != WndKind::ComboBox || !IsWindowEnabled(combo) || !IsWindowVisible(combo) || index < 0 ||
        static_cast<size_t>(index) >= w->items.size()) {
        return false;
    }
    w->curSel = index;
    Notify(w, CBN_SELCHANGE);
    return true;
}

} // namespace kqwin::control
