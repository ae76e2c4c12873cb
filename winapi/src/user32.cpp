// The headless user32: windows and their hierarchy, messages sent and posted, thread timers, modal dialogs
// from templates, the dialog manager's default processing, focus, painting, icons, cursors, menus and
// message boxes. Nothing is drawn; everything else happens as on Windows, so a program's dialog code runs here
// unchanged and tests drive it as a person would.
#include "user32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kqwin {
namespace {

// ---- metrics of the simulated screen -------------------------------------------------------------------------

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kCaptionHeight = 19;
constexpr int kDialogFrame = 3;
constexpr int kIconSize = 32;
constexpr int kSmallIconSize = 16;
// The client area of a minimised window: small, and not square, so that a program's centring arithmetic
// on it can be checked.
constexpr int kIconicClientWidth = 48;
constexpr int kIconicClientHeight = 40;
constexpr UINT kTimerMinimum = 10;          // USER_TIMER_MINIMUM
constexpr int kTimerOnlyLimit = 100000;     // timer rounds with nothing else happening: a loop that is stuck

struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    uint64_t due = 0;
    uint64_t seq = 0;
};

struct ThreadData {
    std::deque<MSG> queue;
    std::vector<Timer> timers;
    HWND focus = nullptr;
    HWND active = nullptr;
    uint64_t clock = 0; // milliseconds; moves only when a waiting loop lets a timer fire
    bool quit = false;
    int quitCode = 0;
};

struct IconObj : Object {
    IconObj() : Object(ObjType::Icon) {}
    bool cursor = false;
    int width = kIconSize;
    int height = kIconSize;
};

struct BitmapObj : Object {
    BitmapObj() : Object(ObjType::Bitmap) {}
    LONG width = 0;
    LONG height = 0;
};

struct MenuObj : Object {
    MenuObj() : Object(ObjType::Menu) {}
    struct Item {
        UINT flags = 0;
        UINT_PTR id = 0;
        std::u16string text;
    };
    std::vector<Item> items;
};

struct PaintDc : DcObj {
    HWND window = nullptr;
};

struct User32State {
    std::recursive_mutex mutex;
    std::vector<HWND> windows; // every live window, in creation order
    std::map<DWORD, ThreadData> threads;
    HWND foreground = nullptr;
    HCURSOR cursor = nullptr;
    uint64_t timerSeq = 0;
    UINT_PTR nextThreadTimer = 1;
    std::map<std::pair<bool, WORD>, HICON> systemImages; // stable for the life of the process
    std::map<std::pair<std::u16string, WORD>, HICON> programIcons;
    std::map<HDC, HWND> paintDcs;
    std::vector<control::MessageBoxRecord> boxes;
    std::function<int(const control::MessageBoxRecord&)> answer;
    std::vector<control::IconDraw> draws;
    std::vector<std::string> modalErrors;
};

User32State& S() {
    static User32State state;
    return state;
}

ThreadData& T() {
    User32State& s = S();
    std::lock_guard lock(s.mutex);
    return s.threads[GetCurrentThreadId()];
}

std::vector<HWND> LiveWindows() {
    User32State& s = S();
    std::lock_guard lock(s.mutex);
    return s.windows;
}

template <class T> std::shared_ptr<T> Get(HANDLE h, ObjType type, DWORD error) {
    auto obj = std::static_pointer_cast<T>(Handles().Get(h, type));
    if (!obj) {
        SetLastError(error);
    }
    return obj;
}

std::shared_ptr<MenuObj> GetMenu(HMENU h) { return Get<MenuObj>(h, ObjType::Menu, ERROR_INVALID_MENU_HANDLE); }

bool Visible(const Wnd& w) { return (w.style & WS_VISIBLE) != 0; }

// Border and caption thickness around the client area.
RECT NonClient(const Wnd& w) {
    int frame = 0;
    if ((w.exStyle & WS_EX_DLGMODALFRAME) || (w.style & WS_DLGFRAME)) {
        frame = kDialogFrame;
    } else if (w.style & WS_THICKFRAME) {
        frame = kDialogFrame + 1;
    } else if (w.style & WS_BORDER) {
        frame = 1;
    }
    if (w.exStyle & WS_EX_CLIENTEDGE) {
        frame += 2;
    } else if (w.exStyle & WS_EX_STATICEDGE) {
        frame += 1;
    }
    const int caption = ((w.style & WS_CAPTION) == WS_CAPTION) ? kCaptionHeight : 0;
    return RECT{frame, frame + caption, frame, frame};
}

POINT ClientOrigin(const Wnd& w) {
    const RECT nc = NonClient(w);
    return POINT{w.rect.left + nc.left, w.rect.top + nc.top};
}

SIZE ClientSize(const Wnd& w) {
    if (w.iconic) {
        return SIZE{kIconicClientWidth, kIconicClientHeight};
    }
    const RECT nc = NonClient(w);
    return SIZE{std::max<LONG>(0, w.rect.right - w.rect.left - nc.left - nc.right),
                std::max<LONG>(0, w.rect.bottom - w.rect.top - nc.top - nc.bottom)};
}

// A window for the stand-in's own look-ups: a handle that is not one leaves the caller's last error alone.
std::shared_ptr<Wnd> Peek(HWND h) {
    if (!h) {
        return nullptr;
    }
    const DWORD error = GetLastError();
    auto w = std::static_pointer_cast<Wnd>(Handles().Get(h, ObjType::Window));
    SetLastError(error);
    return w;
}

HWND TopLevelOf(HWND h) {
    for (auto w = Peek(h); w; w = Peek(w->parent)) {
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
    for (auto w = Peek(h); w && w->parent; w = Peek(w->parent)) {
        if (w->parent == ancestor) {
            return true;
        }
    }
    return false;
}

std::vector<HWND> Siblings(const Wnd& w) {
    if (w.parent) {
        auto p = Peek(w.parent);
        return p ? p->children : std::vector<HWND>{};
    }
    std::vector<HWND> top;
    for (HWND h : LiveWindows()) {
        auto o = Peek(h);
        if (o && !o->parent) {
            top.push_back(h);
        }
    }
    return top;
}

int MulDivRound(int value, int num, int den) {
    const long long p = static_cast<long long>(value) * num;
    return static_cast<int>(p >= 0 ? (p + den / 2) / den : (p - den / 2) / den);
}

// Dialog base units for a template's font: the average width of the font's letters and its height, in pixels
// at 96 dots per inch.
std::pair<int, int> BaseUnits(const DialogTemplate& t) {
    if (!(t.style & DS_SETFONT)) {
        return {8, 16}; // the system font of Korean Windows
    }
    std::u16string face = t.font;
    for (char16_t& c : face) {
        c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
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

void ScheduleTimer(ThreadData& t, Timer& timer) { timer.due = t.clock + timer.elapse; }

bool InRange(UINT msg, UINT min, UINT max) { return (min == 0 && max == 0) || (msg >= min && msg <= max); }

bool MatchesWindow(HWND filter, HWND h) {
    if (!filter) {
        return true;
    }
    if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
        return h == nullptr;
    }
    return h == filter || IsDescendant(filter, h);
}

// The next message of the calling thread, as GetMessage and PeekMessage find it: posted messages first, then
// a quit request, then windows to paint, then timers. A timer that is not due yet is taken only when the
// caller would wait for it; the thread's clock then moves to its due time.
bool NextMessage(MSG* out, HWND filter, UINT min, UINT max, bool remove, bool wait) {
    User32State& s = S();
    ThreadData& t = T();
    const DWORD self = GetCurrentThreadId();
    {
        std::lock_guard lock(s.mutex);
        for (auto it = t.queue.begin(); it != t.queue.end(); ++it) {
            if (InRange(it->message, min, max) && MatchesWindow(filter, it->hwnd)) {
                *out = *it;
                if (remove) {
                    t.queue.erase(it);
                }
                return true;
            }
        }
        if (t.quit && InRange(WM_QUIT, min, max)) {
            *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(t.quitCode), 0, static_cast<DWORD>(t.clock), {}};
            if (remove) {
                t.quit = false;
            }
            return true;
        }
    }
    for (HWND h : LiveWindows()) {
        auto w = Peek(h);
        if (w && w->thread == self && w->needsPaint && IsWindowVisible(h) && InRange(WM_PAINT, min, max) &&
            MatchesWindow(filter, h)) {
            *out = MSG{h, WM_PAINT, 0, 0, static_cast<DWORD>(t.clock), {}};
            return true;
        }
    }
    if (!InRange(WM_TIMER, min, max)) {
        return false;
    }
    std::lock_guard lock(s.mutex);
    Timer* next = nullptr;
    for (Timer& timer : t.timers) {
        const bool matches = filter ? (timer.hwnd && MatchesWindow(filter, timer.hwnd)) : true;
        if (matches && (!next || timer.due < next->due || (timer.due == next->due && timer.seq < next->seq))) {
            next = &timer;
        }
    }
    if (!next || (next->due > t.clock && !wait)) {
        return false;
    }
    t.clock = std::max(t.clock, next->due);
    *out = MSG{next->hwnd, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->proc), static_cast<DWORD>(t.clock), {}};
    if (remove) {
        ScheduleTimer(t, *next);
    }
    return true;
}

void RecordModalError(const std::string& what) {
    std::fprintf(stderr, "kqwin: %s\n", what.c_str());
    User32State& s = S();
    std::lock_guard lock(s.mutex);
    s.modalErrors.push_back(what);
}

void Activate(HWND h) {
    ThreadData& t = T();
    t.active = h;
    std::lock_guard lock(S().mutex);
    S().foreground = h;
}

// ---- menus -------------------------------------------------------------------------------------------------

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

// ---- windows ---------------------------------------------------------------------------------------------

void RemoveWindowTraces(HWND h) {
    User32State& s = S();
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

void Minimize(const std::shared_ptr<Wnd>& w) {
    if (w->iconic) {
        return;
    }
    w->restoreRect = w->rect;
    w->iconic = true;
    w->style |= WS_MINIMIZE;
    const RECT nc = NonClient(*w);
    w->rect = RECT{w->rect.left, w->rect.top, w->rect.left + nc.left + kIconicClientWidth + nc.right,
                   w->rect.top + nc.top + kIconicClientHeight + nc.bottom};
    CallProc(w, WM_SIZE, SIZE_MINIMIZED, 0);
    InvalidateRect(w->self, nullptr, TRUE);
    UpdateWindow(w->self);
}

void Restore(const std::shared_ptr<Wnd>& w) {
    if (!w->iconic) {
        return;
    }
    w->iconic = false;
    w->style &= ~static_cast<DWORD>(WS_MINIMIZE);
    w->rect = w->restoreRect;
    const SIZE size = ClientSize(*w);
    CallProc(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(size.cx, size.cy));
    InvalidateRect(w->self, nullptr, TRUE);
    UpdateWindow(w->self);
}

HWND DefaultButton(HWND dlg) {
    auto d = GetWnd(dlg);
    if (!d) {
        return nullptr;
    }
    for (HWND c : d->children) {
        auto w = GetWnd(c);
        if (w && w->kind == WndKind::Button && (w->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
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
        const HWND oldDef = w->defId ? GetDlgItem(h, w->defId) : DefaultButton(h);
        const HWND newDef = GetDlgItem(h, static_cast<int>(wp));
        if (oldDef && oldDef != newDef) {
            SendMessageA(oldDef, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        }
        if (newDef) {
            SendMessageA(newDef, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        }
        w->defId = static_cast<int>(wp);
        return TRUE;
    }
    case DM_GETDEFID: {
        if (w->defId) {
            return MAKELONG(w->defId, DC_HASDEFID);
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

// A dialog made from its template, controls and all, with WM_INITDIALOG sent.
HWND CreateDialogFromTemplate(const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param, bool modal) {
    if (!t.className.empty() || t.classOrdinal != 0) {
        SetLastError(1407); // ERROR_CANNOT_FIND_WND_CLASS: no class can be registered here
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
    d->dlgProc = proc;
    d->baseX = baseX;
    d->baseY = baseY;
    d->modal = modal;
    if (modal && ownerTop && IsWindowEnabled(ownerTop)) {
        EnableWindow(ownerTop, FALSE);
    }
    const POINT origin = ClientOrigin(*d);
    for (const DialogItem& item : t.items) {
        RECT r{origin.x + MulDivRound(item.x, baseX, 4), origin.y + MulDivRound(item.y, baseY, 8), 0, 0};
        r.right = r.left + MulDivRound(item.cx, baseX, 4);
        r.bottom = r.top + MulDivRound(item.cy, baseY, 8);
        const bool combo = item.classAtom == 0x0085 || EqualsNoCase16(item.className, u"ComboBox");
        if (combo && (item.style & 0x3) != CBS_SIMPLE) {
            r.bottom = r.top + baseY + 8; // a drop-down combo box is as tall as its selection field
        }
        const HWND c = CreateWnd(item.className, item.classAtom, item.hasTitleOrdinal ? u"" : item.title,
                                 item.style | WS_CHILD, item.exStyle | WS_EX_NOPARENTNOTIFY, r, dlg, nullptr,
                                 static_cast<LONG_PTR>(static_cast<int>(item.id)));
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
        auto cw2 = GetWnd(c);
        if (cw2->kind == WndKind::Static) {
            const DWORD type = item.style & SS_TYPEMASK;
            if (type == SS_ICON) {
                cw2->image = item.hasTitleOrdinal ? LoadProgramIcon(ResId(item.titleOrdinal))
                                                  : (item.title.empty() ? nullptr : LoadProgramIcon(ResName{0, item.title}));
            } else if (type == SS_BITMAP && item.hasTitleOrdinal) {
                cw2->image = LoadProgramBitmap(item.titleOrdinal);
                cw2->ownsImage = cw2->image != nullptr;
            }
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

INT_PTR RunModal(HWND dlg) {
    auto d = GetWnd(dlg);
    const HWND owner = d->owner;
    bool shown = IsWindowVisible(dlg) != FALSE;
    int timerOnly = 0;
    while (IsWindow(dlg) && !d->ended) {
        MSG msg{};
        if (!NextMessage(&msg, nullptr, 0, 0, true, false)) {
            if (!shown) { // a dialog without WS_VISIBLE shows once its queue first runs dry
                shown = true;
                ShowWindow(dlg, SW_SHOWNORMAL);
                continue;
            }
            if (!NextMessage(&msg, nullptr, 0, 0, true, true)) {
                RecordModalError("the modal loop of dialog \"" + Utf16ToUtf8(d->text) +
                                 "\" had no posted message, no window to paint and no timer: nothing could ever "
                                 "end it, so it ended with -1");
                d->ended = true;
                d->result = -1;
                break;
            }
        }
        timerOnly = msg.message == WM_TIMER ? timerOnly + 1 : 0;
        if (timerOnly > kTimerOnlyLimit) {
            RecordModalError("the modal loop of dialog \"" + Utf16ToUtf8(d->text) +
                             "\" ran only timers " + std::to_string(kTimerOnlyLimit) +
                             " times in a row without an end: it ended with -1");
            d->ended = true;
            d->result = -1;
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
    const INT_PTR result = d->ended ? d->result : -1;
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

// ---- message boxes --------------------------------------------------------------------------------------

std::vector<int> BoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE:
        return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default:
        return {IDOK};
    }
}

INT_PTR CALLBACK MessageBoxProc(HWND box, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_COMMAND) {
        const int id = LOWORD(wp);
        const HWND button = GetDlgItem(box, id);
        if (button || (id == IDCANCEL && GetDlgItem(box, IDOK) && !GetDlgItem(box, IDNO))) {
            EndDialog(box, button ? id : IDOK); // Escape on a box with only OK answers OK
        }
        return TRUE;
    }
    return msg == WM_INITDIALOG;
}

} // namespace

// ---- shared with the controls ----------------------------------------------------------------------------

std::shared_ptr<Wnd> GetWnd(HWND h) {
    return Get<Wnd>(h, ObjType::Window, ERROR_INVALID_WINDOW_HANDLE);
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
               RECT rect, HWND parent, HWND owner, LONG_PTR id) {
    struct ClassInfo {
        WORD atom;
        const char16_t* name;
        const char* canonical;
        WndKind kind;
        WNDPROC proc;
    };
    static const ClassInfo kClasses[] = {
        {0x0080, u"button", "Button", WndKind::Button, ButtonProc},
        {0x0081, u"edit", "Edit", WndKind::Edit, EditProc},
        {0x0082, u"static", "Static", WndKind::Static, StaticProc},
        {0x0085, u"combobox", "ComboBox", WndKind::ComboBox, ComboBoxProc},
        {0, u"msctls_progress32", "msctls_progress32", WndKind::Progress, ProgressProc},
        {0x8002, u"#32770", "#32770", WndKind::Dialog, DefDlgProcA},
    };
    const ClassInfo* info = nullptr;
    for (const ClassInfo& c : kClasses) {
        if ((atom != 0 && atom == c.atom) || (atom == 0 && EqualsNoCase16(className, c.name))) {
            info = &c;
        }
    }
    if (!info) {
        SetLastError(1407); // ERROR_CANNOT_FIND_WND_CLASS
        return nullptr;
    }
    if (parent && !GetWnd(parent)) {
        return nullptr;
    }
    auto w = std::make_shared<Wnd>();
    w->thread = GetCurrentThreadId();
    w->kind = info->kind;
    w->className = info->canonical;
    w->proc = info->proc;
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
        User32State& s = S();
        std::lock_guard lock(s.mutex);
        s.windows.push_back(h);
    }
    if (parent) {
        GetWnd(parent)->children.push_back(h);
    }
    return h;
}

HICON LoadProgramIcon(const ResName& name) {
    User32State& s = S();
    const auto key = std::make_pair(name.name, name.id);
    {
        std::lock_guard lock(s.mutex);
        if (auto it = s.programIcons.find(key); it != s.programIcons.end()) {
            return it->second;
        }
    }
    const auto group = ProgramResource(ResId(14), name);
    if (!group || group->size < 6) {
        return nullptr;
    }
    WORD count = 0;
    std::memcpy(&count, group->data + 4, 2);
    // the group's entry for the standard size, or its first; its image must be there too
    WORD imageId = 0;
    int width = kIconSize;
    int height = kIconSize;
    for (WORD i = 0; i < count && 6 + size_t{i + 1u} * 14 <= group->size; ++i) {
        const BYTE* e = group->data + 6 + size_t{i} * 14;
        WORD id = 0;
        std::memcpy(&id, e + 12, 2);
        const int ew = e[0] ? e[0] : 256;
        const int eh = e[1] ? e[1] : 256;
        if (imageId == 0 || ew == kIconSize) {
            imageId = id;
            width = ew;
            height = eh;
        }
    }
    if (imageId == 0 || !ProgramResource(ResId(3), ResId(imageId))) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    auto icon = std::make_shared<IconObj>();
    icon->width = width;
    icon->height = height;
    const auto h = static_cast<HICON>(Handles().Add(icon));
    std::lock_guard lock(s.mutex);
    s.programIcons[key] = h;
    return h;
}

HBITMAP LoadProgramBitmap(WORD id) {
    const auto res = ProgramResource(ResId(2), ResId(id));
    if (!res || res->size < 12) {
        return nullptr;
    }
    auto bitmap = std::make_shared<BitmapObj>();
    std::memcpy(&bitmap->width, res->data + 4, 4);
    std::memcpy(&bitmap->height, res->data + 8, 4);
    return static_cast<HBITMAP>(Handles().Add(bitmap));
}

void FreeBitmap(HBITMAP bitmap) { Handles().Remove(bitmap, ObjType::Bitmap); }

void ResetUser32() {
    User32State& s = S();
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
        s.boxes.clear();
        s.answer = nullptr;
        s.draws.clear();
        s.modalErrors.clear();
    }
    for (HWND h : windows) {
        if (auto w = std::static_pointer_cast<Wnd>(Handles().Remove(h, ObjType::Window))) {
            if (w->sysMenu) {
                Handles().Remove(w->sysMenu, ObjType::Menu);
            }
            if (w->ownsImage) {
                FreeBitmap(static_cast<HBITMAP>(w->image));
            }
        }
    }
    for (HDC dc : dcs) {
        Handles().Remove(dc, ObjType::Dc);
    }
    ResetProgramSettings();
}

const ResetHook kUser32OnReset(&ResetUser32);

} // namespace kqwin

namespace kqwin::control {

std::vector<MessageBoxRecord> MessageBoxes() {
    std::lock_guard lock(S().mutex);
    return S().boxes;
}

void ClearMessageBoxes() {
    std::lock_guard lock(S().mutex);
    S().boxes.clear();
}

void SetMessageBoxAnswer(std::function<int(const MessageBoxRecord&)> answer) {
    std::lock_guard lock(S().mutex);
    S().answer = std::move(answer);
}

std::vector<IconDraw> IconDraws() {
    std::lock_guard lock(S().mutex);
    return S().draws;
}

void ClearIconDraws() {
    std::lock_guard lock(S().mutex);
    S().draws.clear();
}

std::vector<std::string> ModalLoopErrors() {
    std::lock_guard lock(S().mutex);
    return S().modalErrors;
}

void ClearModalLoopErrors() {
    std::lock_guard lock(S().mutex);
    S().modalErrors.clear();
}

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

// ---- messages ----------------------------------------------------------------------------------------------

LRESULT WINAPI SendMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    return w ? CallProc(w, msg, wp, lp) : 0;
}

BOOL WINAPI PostMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD thread = GetCurrentThreadId();
    if (h) {
        auto w = GetWnd(h);
        if (!w) {
            return FALSE;
        }
        thread = w->thread;
    }
    User32State& s = S();
    std::lock_guard lock(s.mutex);
    ThreadData& t = s.threads[thread];
    t.queue.push_back(MSG{h, msg, wp, lp, static_cast<DWORD>(t.clock), {}});
    return TRUE;
}

VOID WINAPI PostQuitMessage(int code) {
    ThreadData& t = T();
    std::lock_guard lock(S().mutex);
    t.quit = true;
    t.quitCode = code;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND h, UINT min, UINT max) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (h && !IsWindow(h)) {
        return -1;
    }
    if (!NextMessage(msg, h, min, max, true, true)) {
        // nothing can ever arrive: a real GetMessage would block for good; end the caller's loop instead
        RecordModalError("GetMessage found no posted message, no window to paint and no timer: it returned "
                         "WM_QUIT");
        *msg = MSG{nullptr, WM_QUIT, 0, 0, 0, {}};
    }
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND h, UINT min, UINT max, UINT remove) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return NextMessage(msg, h, min, max, (remove & PM_REMOVE) != 0, false) ? TRUE : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (msg->message == WM_TIMER && msg->lParam) {
        const auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        if (msg->hwnd && !IsWindow(msg->hwnd)) {
            return 0;
        }
        proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    auto w = GetWnd(msg->hwnd);
    if (!w) {
        return 0;
    }
    const LRESULT r = CallProc(w, msg->message, msg->wParam, msg->lParam);
    if (msg->message == WM_PAINT) {
        w->needsPaint = false; // a handler that did not validate is not asked again
    }
    return r;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return proc ? proc(h, msg, wp, lp) : 0;
}

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

LRESULT WINAPI DefDlgProcA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    w->msgResult = 0;
    const DLGPROC proc = w->dlgProc;
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
        return w->msgResult;
    }
}

// ---- timers ---------------------------------------------------------------------------------------------------

UINT_PTR WINAPI SetTimer(HWND h, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    if (h && !GetWnd(h)) {
        return 0;
    }
    User32State& s = S();
    ThreadData& t = T();
    std::lock_guard lock(s.mutex);
    Timer timer{h, id, std::clamp<UINT>(elapse, kTimerMinimum, 0x7FFFFFFF), proc, 0, ++s.timerSeq};
    ScheduleTimer(t, timer);
    auto same = std::find_if(t.timers.begin(), t.timers.end(),
                             [&](const Timer& x) { return x.hwnd == h && x.id == id && (h || id != 0); });
    if (same != t.timers.end()) {
        *same = timer;
        return h ? (id ? id : 1) : id;
    }
    if (!h) { // a thread timer gets an id of its own
        auto used = [&](UINT_PTR v) {
            return std::any_of(t.timers.begin(), t.timers.end(), [&](const Timer& x) { return !x.hwnd && x.id == v; });
        };
        while (used(s.nextThreadTimer) || s.nextThreadTimer == 0) {
            ++s.nextThreadTimer;
        }
        timer.id = s.nextThreadTimer++;
    }
    t.timers.push_back(timer);
    return h ? (id ? id : 1) : timer.id;
}

BOOL WINAPI KillTimer(HWND h, UINT_PTR id) {
    User32State& s = S();
    ThreadData& t = T();
    std::lock_guard lock(s.mutex);
    const auto it = std::find_if(t.timers.begin(), t.timers.end(), [&](const Timer& x) { return x.hwnd == h && x.id == id; });
    if (it == t.timers.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    t.timers.erase(it);
    return TRUE;
}

// ---- dialogs -------------------------------------------------------------------------------------------------

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
    if (!IsProgramModule(instance) || !name) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return -1;
    }
    const auto res = ProgramResource(ResId(5), ResNameOf(name));
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
    w->ended = true;
    w->result = result;
    // as Windows: the owner is enabled again before the dialog goes, so activation can return to it
    if (w->modal && w->owner && IsWindow(w->owner) && !IsWindowEnabled(w->owner)) {
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
            auto f = GetWnd(focus);
            if (f && f->kind == WndKind::Button && IsDescendant(dlg, focus) &&
                ((f->style & BS_TYPEMASK) == BS_PUSHBUTTON || (f->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)) {
                SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(f->id, BN_CLICKED), reinterpret_cast<LPARAM>(focus));
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
    if (!d || !rect) {
        return FALSE;
    }
    rect->left = MulDivRound(rect->left, d->baseX, 4);
    rect->right = MulDivRound(rect->right, d->baseX, 4);
    rect->top = MulDivRound(rect->top, d->baseY, 8);
    rect->bottom = MulDivRound(rect->bottom, d->baseY, 8);
    return TRUE;
}

// ---- windows -------------------------------------------------------------------------------------------------

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
    const bool dialog = w->kind == WndKind::Dialog;
    switch (index) {
    case GWL_STYLE:
        return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
        return static_cast<LONG>(w->exStyle);
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(ProgramModule());
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWLP_ID:
        return w->id;
    case GWLP_USERDATA:
        return w->userData;
    default:
        break;
    }
    if (dialog && index == DWLP_MSGRESULT) {
        return w->msgResult;
    }
    if (dialog && index == static_cast<int>(DWLP_DLGPROC)) {
        return reinterpret_cast<LONG_PTR>(w->dlgProc);
    }
    if (dialog && index == static_cast<int>(DWLP_USER)) {
        return w->dlgUser;
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
    const bool dialog = w->kind == WndKind::Dialog;
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
    if (dialog && index == DWLP_MSGRESULT) {
        w->msgResult = value;
    } else if (dialog && index == static_cast<int>(DWLP_DLGPROC)) {
        w->dlgProc = reinterpret_cast<DLGPROC>(value);
    } else if (dialog && index == static_cast<int>(DWLP_USER)) {
        w->dlgUser = value;
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

BOOL WINAPI EnableWindow(HWND h, BOOL enable) {
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    const bool wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable && wasDisabled) {
        w->style &= ~static_cast<DWORD>(WS_DISABLED);
        CallProc(w, WM_ENABLE, TRUE, 0);
    } else if (!enable && !wasDisabled) {
        CallProc(w, WM_CANCELMODE, 0, 0);
        w->style |= WS_DISABLED;
        const HWND focus = GetFocus();
        if (focus == h || IsDescendant(h, focus)) {
            SetFocus(nullptr); // a disabled window cannot keep the focus
        }
        CallProc(w, WM_ENABLE, FALSE, 0);
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND h) {
    auto w = GetWnd(h);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND h) {
    for (auto w = GetWnd(h); w; w = w->parent ? GetWnd(w->parent) : nullptr) {
        if (!Visible(*w)) {
            return FALSE;
        }
        if (!w->parent) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI ShowWindow(HWND h, int cmd) {
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    const bool wasVisible = Visible(*w);
    auto show = [&] {
        if (!Visible(*w)) {
            CallProc(w, WM_SHOWWINDOW, TRUE, 0);
            w->style |= WS_VISIBLE;
            w->needsPaint = true;
        }
        if (!w->parent && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE && cmd != SW_SHOWMINNOACTIVE) {
            Activate(h);
        }
    };
    switch (cmd) {
    case SW_HIDE:
        if (wasVisible) {
            CallProc(w, WM_SHOWWINDOW, FALSE, 0);
            w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        }
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
        show();
        Minimize(w);
        break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
    case SW_SHOWDEFAULT:
        show();
        Restore(w);
        break;
    default:
        show();
        break;
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND h) {
    auto w = GetWnd(h);
    return w && w->iconic ? TRUE : FALSE;
}

BOOL WINAPI IsWindow(HWND h) { return Peek(h) ? TRUE : FALSE; }

BOOL WINAPI IsChild(HWND parent, HWND h) { return IsDescendant(parent, h) ? TRUE : FALSE; }

BOOL WINAPI DestroyWindow(HWND h) {
    auto w = GetWnd(h);
    if (!w) {
        return FALSE;
    }
    // windows it owns go first, then the window, its children after it
    for (HWND other : LiveWindows()) {
        auto o = Peek(other);
        if (o && o->owner == h) {
            DestroyWindow(other);
        }
    }
    const HWND focus = GetFocus();
    if (focus == h || IsDescendant(h, focus)) {
        SetFocus(nullptr);
    }
    if (Visible(*w)) {
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
    if (w->ownsImage) {
        FreeBitmap(static_cast<HBITMAP>(w->image));
    }
    RemoveWindowTraces(h);
    Handles().Remove(h, ObjType::Window);
    return TRUE;
}

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

BOOL WINAPI GetClientRect(HWND h, LPRECT rect) {
    auto w = GetWnd(h);
    if (!w || !rect) {
        return FALSE;
    }
    const SIZE size = ClientSize(*w);
    *rect = RECT{0, 0, size.cx, size.cy};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND h, LPRECT rect) {
    auto w = GetWnd(h);
    if (!w || !rect) {
        return FALSE;
    }
    *rect = w->rect;
    return TRUE;
}

BOOL WINAPI SetForegroundWindow(HWND h) {
    if (!GetWnd(h)) {
        return FALSE;
    }
    Activate(TopLevelOf(h));
    return TRUE;
}

HWND WINAPI GetForegroundWindow(void) {
    std::lock_guard lock(S().mutex);
    return IsWindow(S().foreground) ? S().foreground : nullptr;
}

HWND WINAPI GetActiveWindow(void) {
    const HWND active = T().active;
    return IsWindow(active) ? active : nullptr;
}

HWND WINAPI SetFocus(HWND h) {
    if (h && !GetWnd(h)) {
        return nullptr;
    }
    ThreadData& t = T();
    const HWND previous = IsWindow(t.focus) ? t.focus : nullptr;
    if (previous == h) {
        return previous;
    }
    t.focus = h;
    if (previous) {
        SendMessageA(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(h), 0);
    }
    if (h && t.focus == h) {
        SendMessageA(h, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    }
    return previous;
}

HWND WINAPI GetFocus(void) {
    const HWND focus = T().focus;
    return IsWindow(focus) ? focus : nullptr;
}

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
        auto w = Peek(h);
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
        className = reinterpret_cast<uintptr_t>(cls) == 0x8002 ? u"#32770" : u"";
    } else if (cls) {
        className = AnsiToUtf16(cls);
    }
    const std::vector<HWND> all = LiveWindows();
    for (auto it = all.rbegin(); it != all.rend(); ++it) { // the newest window is on top
        auto w = Peek(*it);
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

// ---- painting, icons, cursors ----------------------------------------------------------------------------

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
        std::lock_guard lock(S().mutex);
        S().paintDcs[hdc] = h;
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
        std::lock_guard lock(S().mutex);
        S().paintDcs.erase(ps->hdc);
    }
    Handles().Remove(ps->hdc, ObjType::Dc);
    return TRUE;
}

BOOL WINAPI DrawIcon(HDC hdc, int x, int y, HICON icon) {
    if (!Handles().Get(hdc, ObjType::Dc)) {
        return FALSE;
    }
    if (!Get<IconObj>(icon, ObjType::Icon, ERROR_INVALID_CURSOR_HANDLE)) {
        return FALSE;
    }
    User32State& s = S();
    std::lock_guard lock(s.mutex);
    const auto it = s.paintDcs.find(hdc);
    s.draws.push_back(control::IconDraw{it == s.paintDcs.end() ? nullptr : it->second, x, y, icon});
    return TRUE;
}

BOOL WINAPI DestroyIcon(HICON icon) {
    // every icon handed out here is shared (LoadIcon): it stays valid and destroying it is harmless
    return Get<IconObj>(icon, ObjType::Icon, ERROR_INVALID_CURSOR_HANDLE) ? TRUE : FALSE;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (instance == nullptr) { // the system's icons
        const auto id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
        if (!IS_INTRESOURCE(name) || id < 32512 || id > 32517) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        User32State& s = S();
        std::lock_guard lock(s.mutex);
        HICON& h = s.systemImages[{false, id}];
        if (!h) {
            h = static_cast<HICON>(Handles().Add(std::make_shared<IconObj>()));
        }
        return h;
    }
    if (!IsProgramModule(instance)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return LoadProgramIcon(ResNameOf(name));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    static const WORD kSystemCursors[] = {32512, 32513, 32514, 32515, 32516, 32640, 32641, 32642, 32643,
                                          32644, 32645, 32646, 32648, 32649, 32650, 32651};
    const auto id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    if (instance != nullptr || !name || !IS_INTRESOURCE(name) ||
        std::find(std::begin(kSystemCursors), std::end(kSystemCursors), id) == std::end(kSystemCursors)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND); // the program brings no cursors of its own
        return nullptr;
    }
    User32State& s = S();
    std::lock_guard lock(s.mutex);
    HICON& h = s.systemImages[{true, id}];
    if (!h) {
        auto cursor = std::make_shared<IconObj>();
        cursor->cursor = true;
        h = static_cast<HICON>(Handles().Add(cursor));
    }
    return h;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    const HCURSOR previous = GetCursor();
    std::lock_guard lock(S().mutex);
    S().cursor = cursor;
    return previous;
}

HCURSOR WINAPI GetCursor(void) {
    {
        std::lock_guard lock(S().mutex);
        if (S().cursor) {
            return S().cursor;
        }
    }
    const HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // the pointer starts as the arrow
    std::lock_guard lock(S().mutex);
    S().cursor = arrow;
    return arrow;
}

// ---- menus -------------------------------------------------------------------------------------------------

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

// ---- message boxes and the rest --------------------------------------------------------------------------

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (owner && !GetWnd(owner)) {
        return 0;
    }
    User32State& s = S();
    control::MessageBoxRecord record;
    record.owner = owner;
    record.text = text ? text : "";
    record.caption = caption ? std::string(caption) : Utf16ToAnsi(u"\uC624\uB958"); // the system's "Error"
    record.type = type;
    size_t index = 0;
    {
        std::lock_guard lock(s.mutex);
        index = s.boxes.size();
        s.boxes.push_back(record);
    }
    // The box is a dialog of its own while it is up, so that a timer can find it and press a button.
    const HWND ownerTop = owner ? TopLevelOf(owner) : nullptr;
    const std::vector<int> buttons = BoxButtons(type);
    const RECT rect{200, 200, 200 + 60 + 80 * static_cast<LONG>(buttons.size()), 320};
    const HWND box = CreateWnd(u"#32770", 0, AnsiToUtf16(record.caption),
                               WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE,
                               WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE, rect, nullptr, ownerTop, 0);
    auto b = GetWnd(box);
    b->dlgProc = MessageBoxProc;
    b->messageBox = true;
    b->modal = true;
    CreateWnd(u"Static", 0, AnsiToUtf16(record.text), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0,
              RECT{rect.left + 60, rect.top + 40, rect.right - 10, rect.top + 70}, box, nullptr, 0xFFFF);
    for (size_t i = 0; i < buttons.size(); ++i) {
        const LONG left = rect.left + 30 + 80 * static_cast<LONG>(i);
        const bool isDefault = i == ((type & MB_DEFMASK) >> 8);
        CreateWnd(u"Button", 0, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
                  0, RECT{left, rect.bottom - 35, left + 75, rect.bottom - 12}, box, nullptr, buttons[i]);
    }
    const HWND previousActive = GetActiveWindow();
    const bool disabledOwner = ownerTop && IsWindowEnabled(ownerTop);
    if (disabledOwner) {
        EnableWindow(ownerTop, FALSE);
    }
    Activate(box);
    // Each timer armed now gets its turn once, in the order of its due time, while the box is up.
    std::vector<Timer> armed;
    {
        std::lock_guard lock(s.mutex);
        armed = T().timers;
    }
    std::sort(armed.begin(), armed.end(),
              [](const Timer& a, const Timer& x) { return a.due != x.due ? a.due < x.due : a.seq < x.seq; });
    for (const Timer& timer : armed) {
        if (b->ended) {
            break;
        }
        MSG msg{};
        {
            std::lock_guard lock(s.mutex);
            ThreadData& t = T();
            const auto it = std::find_if(t.timers.begin(), t.timers.end(),
                                         [&](const Timer& x) { return x.hwnd == timer.hwnd && x.id == timer.id; });
            if (it == t.timers.end()) {
                continue;
            }
            t.clock = std::max(t.clock, it->due);
            msg = MSG{it->hwnd, WM_TIMER, it->id, reinterpret_cast<LPARAM>(it->proc), static_cast<DWORD>(t.clock), {}};
            ScheduleTimer(t, *it);
        }
        DispatchMessageA(&msg);
    }
    int answer = 0;
    if (b->ended) {
        answer = static_cast<int>(b->result);
    } else {
        std::function<int(const control::MessageBoxRecord&)> callback;
        {
            std::lock_guard lock(s.mutex);
            callback = s.answer;
        }
        answer = callback ? callback(record) : buttons.front();
    }
    if (disabledOwner && IsWindow(ownerTop)) {
        EnableWindow(ownerTop, TRUE);
    }
    DestroyWindow(box);
    if (previousActive && IsWindow(previousActive)) {
        Activate(previousActive);
    }
    std::lock_guard lock(s.mutex);
    if (index < s.boxes.size()) {
        s.boxes[index].answer = answer;
    }
    return answer;
}

BOOL WINAPI MessageBeep(UINT) { return TRUE; }

int WINAPI GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
        return kScreenWidth;
    case SM_CYSCREEN:
        return kScreenHeight;
    case SM_CYFULLSCREEN:
        return kScreenHeight - kCaptionHeight;
    case SM_CYCAPTION:
        return kCaptionHeight;
    case SM_CXBORDER:
    case SM_CYBORDER:
        return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
        return kDialogFrame;
    case SM_CXFRAME:
    case SM_CYFRAME:
        return kDialogFrame + 1;
    case SM_CXEDGE:
    case SM_CYEDGE:
        return 2;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
        return kIconSize;
    case SM_CXSMICON:
    case SM_CYSMICON:
        return kSmallIconSize;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
        return 16;
    case SM_CYMENU:
        return 19;
    case SM_CXSIZE:
    case SM_CYSIZE:
        return 18;
    case SM_CXMIN:
        return 112;
    case SM_CYMIN:
        return 27;
    case SM_CXMINIMIZED:
        return 160;
    case SM_CYMINIMIZED:
        return 24;
    case SM_MOUSEPRESENT:
    case SM_DBCSENABLED: // code page 949 is a double-byte code page
    case SM_CMONITORS:
        return 1;
    case SM_CMOUSEBUTTONS:
        return 3;
    default:
        return 0;
    }
}

void WINAPI InitCommonControls(void) {}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    return init && init->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

} // extern "C"
