// Menus: the system menu of a window, as Windows makes it, and menus made with AppendMenuA.
#include "user32_private.h"

namespace kqwin {
namespace {

struct MenuObj : Object {
    MenuObj() : Object(ObjType::Menu) {}
    struct Item {
        UINT flags = 0;
        UINT_PTR id = 0;
        std::u16string text;
    };
    std::vector<Item> items;
};

std::shared_ptr<MenuObj> GetMenu(HMENU h) {
    return GetHandleObject<MenuObj>(h, ObjType::Menu, ERROR_INVALID_MENU_HANDLE);
}

MenuObj::Item* FindItem(const std::shared_ptr<MenuObj>& m, UINT item, UINT flags) {
    if (!m) {
        return nullptr;
    }
    if (flags & MF_BYPOSITION) {
        return item < m->items.size() ? &m->items[item] : nullptr;
    }
    for (MenuObj::Item& i : m->items) {
        if (i.flags & MF_POPUP) {
            auto sub = std::static_pointer_cast<MenuObj>(Handles().Get(reinterpret_cast<HANDLE>(i.id), ObjType::Menu));
            if (MenuObj::Item* found = FindItem(sub, item, flags)) {
                return found;
            }
        } else if (!(i.flags & MF_SEPARATOR) && i.id == item) {
            return &i;
        }
    }
    return nullptr;
}

// The system menu as Windows makes it: a window with a modal dialog frame and neither sizing border nor
// minimise and maximise boxes gets Move and Close only.
HMENU MakeSystemMenu(const Wnd& w) {
    auto menu = std::make_shared<MenuObj>();
    const bool dialogFrame = (w.exStyle & WS_EX_DLGMODALFRAME) &&
                             !(w.style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    const std::u16string close = u"\uB2EB\uAE30(&C)\tAlt+F4";
    if (dialogFrame) {
        menu->items = {{MF_STRING, SC_MOVE, u"\uC774\uB3D9(&M)"}, {MF_STRING, SC_CLOSE, close}};
    } else {
        auto state = [&](DWORD style) { return static_cast<UINT>((w.style & style) ? MF_STRING : MF_GRAYED); };
        menu->items = {{MF_GRAYED, SC_RESTORE, u"\uC774\uC804 \uD06C\uAE30\uB85C(&R)"},
                       {MF_STRING, SC_MOVE, u"\uC774\uB3D9(&M)"},
                       {state(WS_THICKFRAME), SC_SIZE, u"\uD06C\uAE30 \uC870\uC815(&S)"},
                       {state(WS_MINIMIZEBOX), SC_MINIMIZE, u"\uCD5C\uC18C\uD654(&N)"},
                       {state(WS_MAXIMIZEBOX), SC_MAXIMIZE, u"\uCD5C\uB300\uD654(&X)"},
                       {MF_SEPARATOR, 0, {}},
                       {MF_STRING, SC_CLOSE, close}};
    }
    return static_cast<HMENU>(Handles().Add(std::move(menu)));
}

} // namespace

} // namespace kqwin

namespace kqwin::control {

bool ChooseSystemMenuItem(HWND window, UINT id) {
    const HMENU menu = GetSystemMenu(window, FALSE);
    const MenuObj::Item* item = FindItem(GetMenu(menu), id, MF_BYCOMMAND);
    if (!item || (item->flags & (MF_GRAYED | MF_DISABLED))) {
        return false;
    }
    return PostMessageA(window, WM_SYSCOMMAND, id, 0) != FALSE;
}

} // namespace kqwin::control

using namespace kqwin;

extern "C" {

HMENU WINAPI GetSystemMenu(HWND h, BOOL revert) {
    auto w = GetWnd(h);
    if (!w) {
        return nullptr;
    }
    if (revert) {
        if (w->sysMenu) {
            Handles().Remove(w->sysMenu, ObjType::Menu);
            w->sysMenu = nullptr;
        }
        return nullptr;
    }
    if (!(w->style & WS_SYSMENU) || w->parent) {
        return nullptr;
    }
    if (!w->sysMenu) {
        w->sysMenu = MakeSystemMenu(*w);
    }
    return w->sysMenu;
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
    auto m = GetMenu(menu);
    if (!m) {
        return FALSE;
    }
    MenuObj::Item item{flags & ~static_cast<UINT>(MF_BYPOSITION | MF_APPEND), id, {}};
    if (!(flags & (MF_SEPARATOR | MF_BITMAP | MF_OWNERDRAW)) && text) {
        item.text = AnsiToUtf16(text);
    }
    if (flags & MF_SEPARATOR) {
        item.id = 0;
    }
    m->items.push_back(std::move(item));
    return TRUE;
}

int WINAPI GetMenuItemCount(HMENU menu) {
    auto m = GetMenu(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT WINAPI GetMenuItemID(HMENU menu, int pos) {
    auto m = GetMenu(menu);
    if (!m || pos < 0 || static_cast<size_t>(pos) >= m->items.size()) {
        return static_cast<UINT>(-1);
    }
    const MenuObj::Item& item = m->items[static_cast<size_t>(pos)];
    return (item.flags & MF_POPUP) ? static_cast<UINT>(-1) : static_cast<UINT>(item.id);
}

int WINAPI GetMenuStringA(HMENU menu, UINT id, LPSTR text, int max, UINT flags) {
    const MenuObj::Item* item = FindItem(GetMenu(menu), id, flags);
    if (!item) {
        if (text && max > 0) {
            text[0] = '\0';
        }
        return 0;
    }
    if (!text || max <= 0) {
        return static_cast<int>(Utf16ToAnsi(item->text).size());
    }
    return CopyAnsiOut(item->text, text, max);
}

UINT WINAPI GetMenuState(HMENU menu, UINT id, UINT flags) {
    const MenuObj::Item* item = FindItem(GetMenu(menu), id, flags);
    if (!item) {
        return static_cast<UINT>(-1);
    }
    return item->flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR | MF_POPUP | MF_HILITE | MF_DEFAULT |
                          MF_MENUBARBREAK | MF_MENUBREAK | MF_OWNERDRAW | MF_BITMAP);
}

} // extern "C"
