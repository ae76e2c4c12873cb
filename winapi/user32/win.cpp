// Windows: the window objects and their classes, the hierarchy of parents, owners and children, making and
// destroying windows, their text and their GetWindowLong values, and finding and enumerating them.
#include "user32_private.h"

#include <algorithm>

namespace kqwin {
namespace {

// A registered class: the built-in ones, and those a DLL registers (comctl32's).
struct WindowClass {
    std::string name;
    ATOM atom = 0;
    WNDPROC proc = nullptr;
};

struct ClassTable {
    std::mutex mutex;
    std::vector<WindowClass> classes = {{"Button", kButtonAtom, ButtonProc},
                                        {"Edit", kEditAtom, EditProc},
                                        {"Static", kStaticAtom, StaticProc},
                                        {"ComboBox", kComboBoxAtom, ComboBoxProc},
                                        {"#32770", kDialogAtom, DefDlgProcA}};
    ATOM nextAtom = 0xC000; // where Windows numbers registered classes from
};

ClassTable& Classes() {
    static ClassTable table;
    return table;
}

std::optional<WindowClass> FindClass(const std::u16string& name, WORD atom) {
    ClassTable& t = Classes();
    std::lock_guard lock(t.mutex);
    for (const WindowClass& c : t.classes) {
        if ((atom != 0 && atom == c.atom) || (atom == 0 && EqualsNoCase16(name, AnsiToUtf16(c.name)))) {
            return c;
        }
    }
    return std::nullopt;
}

std::vector<HWND> Siblings(const Wnd& w) {
    if (w.parent) {
        auto p = PeekWnd(w.parent);
        return p ? p->children : std::vector<HWND>{};
    }
    std::vector<HWND> top;
    for (HWND h : LiveWindows()) {
        auto o = PeekWnd(h);
        if (o && !o->parent) {
            top.push_back(h);
        }
    }
    return top;
}

// Forgets every window, queued message, timer and paint DC of the previous machine.
void ResetUser32() {
    DesktopState& s = Desktop();
    std::vector<HWND> windows;
    std::vector<HDC> dcs;
    {
        std::lock_guard lock(s.mutex);
        windows.swap(s.windows);
        for (const auto& [dc, w] : s.paintDcs) {
            dcs.push_back(dc);
        }
        s.paintDcs.clear();
        s.threads.clear();
        s.foreground = nullptr;
        s.cursor = nullptr;
        s.nextThreadTimer = 1;
    }
    for (HWND h : windows) {
        if (auto w = std::static_pointer_cast<Wnd>(Handles().Remove(h, ObjType::Window))) {
            if (w->sysMenu) {
                Handles().Remove(w->sysMenu, ObjType::Menu);
            }
        }
    }
    for (HDC dc : dcs) {
        Handles().Remove(dc, ObjType::Dc);
    }
}
const ResetHook kUser32OnReset(&ResetUser32);

} // namespace

std::shared_ptr<Wnd> GetWnd(HWND h) {
    return GetHandleObject<Wnd>(h, ObjType::Window, ERROR_INVALID_WINDOW_HANDLE);
}

// A window for the stand-in's own look-ups: a handle that is not one leaves the caller's last error alone.
std::shared_ptr<Wnd> PeekWnd(HWND h) {
    if (!h) {
        return nullptr;
    }
    const DWORD error = GetLastError();
    auto w = std::static_pointer_cast<Wnd>(Handles().Get(h, ObjType::Window));
    SetLastError(error);
    return w;
}

std::vector<HWND> LiveWindows() {
    DesktopState& s = Desktop();
    std::lock_guard lock(s.mutex);
    return s.windows;
}

HWND TopLevelOf(HWND h) {
    for (auto w = PeekWnd(h); w; w = PeekWnd(w->parent)) {
        if (!w->parent) {
            return w->self;
        }
    }
    return nullptr;
}

bool IsDescendant(HWND ancestor, HWND h) {
    if (!ancestor || !h) {
        return false;
    }
    for (auto w = PeekWnd(h); w && w->parent; w = PeekWnd(w->parent)) {
        if (w->parent == ancestor) {
            return true;
        }
    }
    return false;
}

LRESULT CallProc(const std::shared_ptr<Wnd>& w, UINT msg, WPARAM wp, LPARAM lp) {
    const WNDPROC proc = w->proc;
    return proc ? proc(w->self, msg, wp, lp) : 0;
}

void Notify(const std::shared_ptr<Wnd>& control, int code) {
    if (control->parent) {
        SendMessageA(control->parent, WM_COMMAND, MAKEWPARAM(control->id, code),
                     reinterpret_cast<LPARAM>(control->self));
    }
}

HWND CreateWnd(const std::u16string& className, WORD atom, const std::u16string& text, DWORD style, DWORD exStyle,
               RECT rect, HWND parent, HWND owner, LONG_PTR id, WORD titleOrdinal) {
    const std::optional<WindowClass> windowClass = FindClass(className, atom);
    if (!windowClass) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (parent && !GetWnd(parent)) {
        return nullptr;
    }
    auto w = std::make_shared<Wnd>();
    w->thread = GetCurrentThreadId();
    w->className = windowClass->name;
    w->proc = windowClass->proc;
    w->style = style;
    w->exStyle = exStyle;
    w->id = id;
    w->parent = parent;
    w->owner = parent ? nullptr : owner;
    w->text = text;
    w->rect = rect;
    w->needsPaint = true;
    const HWND h = static_cast<HWND>(Handles().Add(w));
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    w->self = h;
    {
        DesktopState& s = Desktop();
        std::lock_guard lock(s.mutex);
        s.windows.push_back(h);
    }
    if (parent) {
        GetWnd(parent)->children.push_back(h);
    }
    // The class makes what it keeps of its own; a title that is a resource ordinal reaches it as one.
    const std::string name = titleOrdinal ? std::string() : Utf16ToAnsi(text);
    CREATESTRUCTA create{nullptr,
                         GetModuleHandleA(nullptr),
                         nullptr,
                         parent ? parent : owner,
                         static_cast<int>(rect.bottom - rect.top),
                         static_cast<int>(rect.right - rect.left),
                         static_cast<int>(rect.top),
                         static_cast<int>(rect.left),
                         static_cast<LONG>(style),
                         titleOrdinal ? MAKEINTRESOURCEA(titleOrdinal) : name.c_str(),
                         windowClass->name.c_str(),
                         exStyle};
    if (!CallProc(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
        DestroyWindow(h);
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    return h;
}

void RemoveWindowTraces(HWND h) {
    DesktopState& s = Desktop();
    std::lock_guard lock(s.mutex);
    s.windows.erase(std::remove(s.windows.begin(), s.windows.end(), h), s.windows.end());
    for (auto& [id, t] : s.threads) {
        t.queue.erase(std::remove_if(t.queue.begin(), t.queue.end(), [&](const MSG& m) { return m.hwnd == h; }),
                      t.queue.end());
        t.timers.erase(std::remove_if(t.timers.begin(), t.timers.end(), [&](const Timer& x) { return x.hwnd == h; }),
                       t.timers.end());
        if (t.focus == h) {
            t.focus = nullptr;
        }
        if (t.active == h) {
            t.active = nullptr;
        }
    }
    if (s.foreground == h) {
        s.foreground = nullptr;
    }
}

} // namespace kqwin

using namespace kqwin;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpfnWndProc || !wc->lpszClassName || IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ClassTable& t = Classes();
    std::lock_guard lock(t.mutex);
    for (const WindowClass& c : t.classes) {
        if (EqualsNoCase(c.name, wc->lpszClassName)) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    }
    t.classes.push_back(WindowClass{wc->lpszClassName, t.nextAtom++, wc->lpfnWndProc});
    return t.classes.back().atom;
}

BOOL WINAPI DestroyWindow(HWND h) {
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    // windows it owns go first, then the window, its children after it
    for (HWND other : LiveWindows()) {
        auto o = PeekWnd(other);
        if (o && o->owner == h) {
            DestroyWindow(other);
        }
    }
    const HWND focus = GetFocus();
    if (focus == h || IsDescendant(h, focus)) {
        SetFocus(nullptr);
    }
    if (HasVisibleStyle(*w)) {
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    CallProc(w, WM_DESTROY, 0, 0);
    for (HWND c : std::vector<HWND>(w->children)) {
        DestroyWindow(c);
    }
    CallProc(w, WM_NCDESTROY, 0, 0);
    if (w->parent) {
        if (auto p = GetWnd(w->parent)) {
            p->children.erase(std::remove(p->children.begin(), p->children.end(), h), p->children.end());
        }
    }
    if (w->sysMenu) {
        Handles().Remove(w->sysMenu, ObjType::Menu);
    }
    RemoveWindowTraces(h);
    Handles().Remove(h, ObjType::Window);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND h) { return PeekWnd(h) ? TRUE : FALSE; }

BOOL WINAPI IsChild(HWND parent, HWND h) { return IsDescendant(parent, h) ? TRUE : FALSE; }

HWND WINAPI GetParent(HWND h) {
    auto w = GetWnd(h);
    if (!w) {
        return nullptr;
    }
    if (w->parent) {
        return w->parent;
    }
    return (w->style & WS_POPUP) ? w->owner : nullptr;
}

HWND WINAPI GetWindow(HWND h, UINT cmd) {
    auto w = GetWnd(h);
    if (!w) {
        return nullptr;
    }
    if (cmd == GW_CHILD) {
        return w->children.empty() ? nullptr : w->children.front();
    }
    if (cmd == GW_OWNER) {
        return w->owner;
    }
    const std::vector<HWND> siblings = Siblings(*w);
    const auto at = std::find(siblings.begin(), siblings.end(), h);
    switch (cmd) {
    case GW_HWNDFIRST:
        return siblings.empty() ? nullptr : siblings.front();
    case GW_HWNDLAST:
        return siblings.empty() ? nullptr : siblings.back();
    case GW_HWNDNEXT:
        return (at != siblings.end() && at + 1 != siblings.end()) ? *(at + 1) : nullptr;
    case GW_HWNDPREV:
        return (at != siblings.end() && at != siblings.begin()) ? *(at - 1) : nullptr;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
}

BOOL WINAPI EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lp) {
    if (!proc) {
        return FALSE;
    }
    std::vector<HWND> all;
    std::function<void(HWND)> collect = [&](HWND p) {
        auto w = GetWnd(p);
        for (HWND c : w ? w->children : std::vector<HWND>{}) {
            all.push_back(c);
            collect(c);
        }
    };
    if (parent) {
        if (!GetWnd(parent)) {
            return FALSE;
        }
        collect(parent);
    } else {
        for (HWND h : LiveWindows()) {
            if (auto w = GetWnd(h); w && !w->parent) {
                all.push_back(h);
            }
        }
    }
    for (HWND h : all) {
        if (IsWindow(h) && !proc(h, lp)) {
            break;
        }
    }
    return TRUE;
}

BOOL WINAPI EnumThreadWindows(DWORD thread, WNDENUMPROC proc, LPARAM lp) {
    if (!proc) {
        return FALSE;
    }
    bool any = false;
    for (HWND h : LiveWindows()) {
        auto w = PeekWnd(h);
        if (w && !w->parent && w->thread == thread) {
            any = true;
            if (!proc(h, lp)) {
                return FALSE;
            }
        }
    }
    return any ? TRUE : FALSE;
}

HWND WINAPI FindWindowA(LPCSTR cls, LPCSTR title) {
    std::u16string className;
    if (cls && IS_INTRESOURCE(cls)) {
        className = cls == reinterpret_cast<LPCSTR>(WC_DIALOG) ? u"#32770" : u"";
    } else if (cls) {
        className = AnsiToUtf16(cls);
    }
    const std::vector<HWND> all = LiveWindows();
    for (auto it = all.rbegin(); it != all.rend(); ++it) { // the newest window is on top
        auto w = PeekWnd(*it);
        if (!w || w->parent) {
            continue;
        }
        if (cls && !EqualsNoCase16(AnsiToUtf16(w->className), className)) {
            continue;
        }
        if (title && !EqualsNoCase16(w->text, AnsiToUtf16(title))) {
            continue;
        }
        return *it;
    }
    return nullptr;
}

BOOL WINAPI SetWindowTextA(HWND h, LPCSTR text) {
    return GetWnd(h) ? static_cast<BOOL>(SendMessageA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text))) : FALSE;
}

int WINAPI GetWindowTextA(HWND h, LPSTR text, int max) {
    if (!text || max <= 0) {
        return 0;
    }
    text[0] = '\0';
    return GetWnd(h) ? static_cast<int>(SendMessageA(h, WM_GETTEXT, max, reinterpret_cast<LPARAM>(text))) : 0;
}

int WINAPI GetWindowTextLengthA(HWND h) {
    return GetWnd(h) ? static_cast<int>(SendMessageA(h, WM_GETTEXTLENGTH, 0, 0)) : 0;
}

int WINAPI GetClassNameA(HWND h, LPSTR name, int max) {
    auto w = GetWnd(h);
    return w ? CopyAnsiOut(AnsiToUtf16(w->className), name, max) : 0;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND h, int index) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    switch (index) {
    case GWL_STYLE:
        return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
        return static_cast<LONG>(w->exStyle);
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(GetModuleHandleA(nullptr));
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWLP_ID:
        return w->id;
    case GWLP_USERDATA:
        return w->userData;
    default:
        break;
    }
    if (const DialogInfo* d = w->dialog.get()) {
        if (index == DWLP_MSGRESULT) {
            return d->msgResult;
        }
        if (index == static_cast<int>(DWLP_DLGPROC)) {
            return reinterpret_cast<LONG_PTR>(d->proc);
        }
        if (index == static_cast<int>(DWLP_USER)) {
            return d->user;
        }
    }
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND h, int index, LONG_PTR value) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    const LONG_PTR old = GetWindowLongPtrA(h, index);
    switch (index) {
    case GWL_STYLE:
        w->style = static_cast<DWORD>(value);
        return old;
    case GWL_EXSTYLE:
        w->exStyle = static_cast<DWORD>(value);
        return old;
    case GWLP_WNDPROC:
        w->proc = reinterpret_cast<WNDPROC>(value);
        return old;
    case GWLP_ID:
        w->id = value;
        return old;
    case GWLP_USERDATA:
        w->userData = value;
        return old;
    case GWLP_HWNDPARENT:
        if (!w->parent) {
            w->owner = reinterpret_cast<HWND>(value);
        }
        return old;
    default:
        break;
    }
    DialogInfo* d = w->dialog.get();
    if (d && index == DWLP_MSGRESULT) {
        d->msgResult = value;
    } else if (d && index == static_cast<int>(DWLP_DLGPROC)) {
        d->proc = reinterpret_cast<DLGPROC>(value);
    } else if (d && index == static_cast<int>(DWLP_USER)) {
        d->user = value;
    } else {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return old;
}

LONG WINAPI GetWindowLongA(HWND h, int index) { return static_cast<LONG>(GetWindowLongPtrA(h, index)); }

LONG WINAPI SetWindowLongA(HWND h, int index, LONG value) {
    return static_cast<LONG>(SetWindowLongPtrA(h, index, value));
}

} // extern "C"
