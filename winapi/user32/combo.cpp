// The combo box control: a list of items, kept sorted when the style asks, with a selection and the list box
// searches (by prefix or whole text, case-insensitive).
#include "user32_private.h"

#include <algorithm>

namespace kqwin {
namespace {

struct ComboItem {
    std::u16string text;
    LPARAM data = 0;
};

struct ComboState : ControlState {
    std::vector<ComboItem> items;
    int curSel = -1;
};

std::u16string TextArg(LPARAM lp) { return lp ? AnsiToUtf16(reinterpret_cast<LPCSTR>(lp)) : std::u16string(); }

bool IsDropDownList(const Wnd& w) { return (w.style & 0x3) == CBS_DROPDOWNLIST; }

// The index of the item a list-box search finds, starting after `start` (-1: from the top) and wrapping round.
int FindItem(const ComboState& w, int start, const std::u16string& text, bool exact) {
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

bool ValidIndex(const ComboState& w, WPARAM index) { return static_cast<int>(index) >= 0 && index < w.items.size(); }

} // namespace

LRESULT WINAPI ComboBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    if (msg == WM_NCCREATE) {
        w->control = std::make_unique<ComboState>();
        return DefWindowProcA(h, msg, wp, lp);
    }
    ComboState* state = ControlStateOf<ComboState>(*w);
    if (!state) {
        return DefWindowProcA(h, msg, wp, lp);
    }
    ComboState& c = *state;
    const int count = static_cast<int>(c.items.size());
    switch (msg) {
    case CB_ADDSTRING: {
        ComboItem item{TextArg(lp), 0};
        auto at = c.items.end();
        if (w->style & CBS_SORT) {
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
        if (IsDropDownList(*w)) {
            return CopyAnsiOut(c.curSel >= 0 ? c.items[static_cast<size_t>(c.curSel)].text : u"",
                               reinterpret_cast<LPSTR>(lp), static_cast<int>(wp));
        }
        break;
    case WM_GETTEXTLENGTH:
        if (IsDropDownList(*w)) {
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

} // namespace kqwin

namespace kqwin::control {

bool PickComboItem(HWND combo, int index) {
    auto w = GetWnd(combo);
    ComboState* c = w ? ControlStateOf<ComboState>(*w) : nullptr;
    if (!c || !IsWindowEnabled(combo) || !IsWindowVisible(combo) || index < 0 ||
        static_cast<size_t>(index) >= c->items.size()) {
        return false;
    }
    c->curSel = index;
    Notify(w, CBN_SELCHANGE);
    return true;
}

} // namespace kqwin::control
