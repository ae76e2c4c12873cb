// user32's own: windows and their classes, the desktop and each thread's message queue, dialogs, and the
// helpers its files share. A window keeps what every window has; a dialog keeps its DialogInfo, and each
// built-in control keeps its own state, made by its class procedure at WM_NCCREATE, in its own file.
#pragma once

#include "machine.h"

#include <deque>
#include <functional>
#include <map>

namespace kqwin {

// ---- screen metrics ------------------------------------------------------------------------------------

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

// ---- window classes ----------------------------------------------------------------------------------

// The atoms of the built-in classes, as dialog templates name them.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboBoxAtom = 0x0085;
constexpr WORD kDialogAtom = 0x8002; // WC_DIALOG, "#32770"

// The class procedures of the built-in controls (one file each).
LRESULT WINAPI ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT WINAPI StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT WINAPI EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT WINAPI ComboBoxProc(HWND, UINT, WPARAM, LPARAM);

// ---- windows -----------------------------------------------------------------------------------------

// What a built-in control keeps of its own; its class makes it at WM_NCCREATE and the window owns it.
struct ControlState {
    virtual ~ControlState() = default;
};

// What a dialog keeps besides a window's own: its dialog procedure and the DWLP_ values, its base units,
// its default button, and how a modal one ended.
struct DialogInfo {
    DLGPROC proc = nullptr;
    LONG_PTR msgResult = 0;
    LONG_PTR user = 0;
    int baseX = 8; // dialog base units, pixels
    int baseY = 16;
    int defId = 0;
    bool modal = false;
    bool ended = false;
    INT_PTR result = 0;
};

struct Wnd : Object {
    Wnd() : Object(ObjType::Window) {}
    HWND self = nullptr;
    DWORD thread = 0;
    std::string className; // as the class is registered
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    LONG_PTR id = 0;
    HWND parent = nullptr;      // children only
    HWND owner = nullptr;       // top-level windows only
    std::vector<HWND> children; // in z-order: the first created first, as a dialog makes them
    std::u16string text;
    RECT rect{};        // window rectangle, screen coordinates
    RECT restoreRect{}; // while iconic
    bool iconic = false;
    bool needsPaint = false;
    LONG_PTR userData = 0;
    HFONT font = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    HMENU sysMenu = nullptr;
    std::unique_ptr<DialogInfo> dialog;     // windows of the dialog class
    std::unique_ptr<ControlState> control; // built-in controls
};

// The state a control of type S keeps in a window; null for a window that is not such a control.
template <class S> S* ControlStateOf(Wnd& w) { return dynamic_cast<S*>(w.control.get()); }

inline bool HasVisibleStyle(const Wnd& w) { return (w.style & WS_VISIBLE) != 0; }

// The object behind a handle of one of user32's types; null, with `error` as the last error, for anything else.
template <class T> std::shared_ptr<T> GetHandleObject(HANDLE h, ObjType type, DWORD error) {
    auto obj = std::static_pointer_cast<T>(Handles().Get(h, type));
    if (!obj) {
        SetLastError(error);
    }
    return obj;
}

// The window behind a handle; null (last error ERROR_INVALID_WINDOW_HANDLE) for anything else.
std::shared_ptr<Wnd> GetWnd(HWND h);
// The same for the stand-in's own look-ups: a handle that is not a window leaves the last error alone.
std::shared_ptr<Wnd> PeekWnd(HWND h);
// Makes a window of a registered class (by name, or by atom when `classAtom` is not 0) and sends it
// WM_NCCREATE; null for an unknown class or a refused creation. `titleOrdinal` (not 0) is a resource
// ordinal that the template gave as the title, passed to the class as its CREATESTRUCT name.
HWND CreateWnd(const std::u16string& className, WORD classAtom, const std::u16string& text, DWORD style,
               DWORD exStyle, RECT rect, HWND parent, HWND owner, LONG_PTR id, WORD titleOrdinal = 0);
LRESULT CallProc(const std::shared_ptr<Wnd>& w, UINT msg, WPARAM wp, LPARAM lp);
void Notify(const std::shared_ptr<Wnd>& control, int code); // WM_COMMAND to the parent
// Every live window, in creation order.
std::vector<HWND> LiveWindows();
HWND TopLevelOf(HWND h);
bool IsDescendant(HWND ancestor, HWND h);
// Forgets a destroyed window in the desktop and the message queues.
void RemoveWindowTraces(HWND h);

// Border and caption thickness around the client area, and the client area itself.
RECT NonClient(const Wnd& w);
POINT ClientOrigin(const Wnd& w);
SIZE ClientSize(const Wnd& w);
// Makes a top-level window the active and foreground one.
void Activate(HWND h);
int MulDivRound(int value, int num, int den);

// ---- the desktop and the threads' queues ---------------------------------------------------------------

struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    uint64_t due = 0;
    uint64_t seq = 0;
};

// A thread's posted messages, timers, focus and active window, and its clock.
struct ThreadQueue {
    std::deque<MSG> queue;
    std::vector<Timer> timers;
    HWND focus = nullptr;
    HWND active = nullptr;
    uint64_t clock = 0; // milliseconds; moves only when a waiting loop lets a timer fire
    bool quit = false;
    int quitCode = 0;
};

// What the desktop holds for every thread: the windows, the queues, the foreground window and the cursor.
struct DesktopState {
    std::recursive_mutex mutex;
    std::vector<HWND> windows; // every live window, in creation order
    std::map<DWORD, ThreadQueue> threads;
    HWND foreground = nullptr;
    HCURSOR cursor = nullptr;
    uint64_t timerSeq = 0;
    UINT_PTR nextThreadTimer = 1;
    std::map<HDC, HWND> paintDcs;
};
DesktopState& Desktop();
// The calling thread's queue.
ThreadQueue& CurrentThreadQueue();

// The next message of the calling thread, as GetMessage and PeekMessage find it: posted messages first, then
// a quit request, then windows to paint, then timers. A timer that is not due yet is taken only when the
// caller would wait for it; the thread's clock then moves to its due time.
bool NextMessage(MSG* out, HWND filter, UINT min, UINT max, bool remove, bool wait);
// The WM_TIMER of the calling thread's next timer that `eligible` accepts (the earliest due, the first set
// among equals), as NextMessage takes a timer; false when none is eligible, or none is due and `wait` is false.
bool NextTimerMessage(MSG* out, const std::function<bool(const Timer&)>& eligible, bool remove, bool wait);
// Reports a modal loop that nothing could ever end, to standard error and to the observer.
void ReportModalLoopFailure(const std::string& what);

// ---- dialogs, icons, text -------------------------------------------------------------------------------

// A dialog template, either form.
struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    WORD classAtom = 0; // kButtonAtom ... kComboBoxAtom; 0 when named
    std::u16string className;
    std::u16string title;
    WORD titleOrdinal = 0; // an image's resource id (0xFFFF + ordinal in the template)
    bool hasTitleOrdinal = false;
    std::vector<BYTE> creationData;
};
struct DialogTemplate {
    bool extended = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::u16string menu;
    WORD menuOrdinal = 0;
    std::u16string className;
    WORD classOrdinal = 0;
    std::u16string title;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::u16string font;
    std::vector<DialogItem> items;
};
// Parses `size` bytes (SIZE_MAX when the caller gave only a pointer); nothing for a malformed template.
std::optional<DialogTemplate> ParseDialogTemplate(const BYTE* data, size_t size);
// The dialog a modal loop runs; -1 when it could not run or nothing could end it.
INT_PTR RunModal(HWND dlg);

// A resource of a module, found with FindResourceA; nothing (with FindResourceA's last error) when there is
// none.
struct ResourceBytes {
    const BYTE* data = nullptr;
    DWORD size = 0;
};
std::optional<ResourceBytes> FindResourceBytes(HINSTANCE module, LPCSTR name, LPCSTR type);
// The stand-in's RT_ values are wide under UNICODE; the 8-bit calls take the same ordinal.
inline LPCSTR AnsiResourceId(LPCWSTR id) { return MAKEINTRESOURCEA(reinterpret_cast<ULONG_PTR>(id)); }

// Images from a module's resources, for statics: an icon is shared and stays; a bitmap is the caller's.
HICON LoadProgramIcon(HINSTANCE module, LPCSTR name);
HBITMAP LoadProgramBitmap(HINSTANCE module, WORD id);
void FreeBitmap(HBITMAP bitmap);

// Copies UTF-16 text as ANSI into a caller's buffer of `max` bytes the way the A calls do: as many whole
// characters as fit before the terminating zero. Returns the bytes copied without the zero.
int CopyAnsiOut(std::u16string_view text, LPSTR out, int max);
// Orders two texts as CompareString with NORM_IGNORECASE does for these: case-insensitive, punctuation
// before digits before letters before other scripts.
int CompareNoCase(std::u16string_view a, std::u16string_view b);
// Case-insensitive prefix and whole-text tests, as list boxes search.
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);
bool EqualsNoCase16(std::u16string_view a, std::u16string_view b);

} // namespace kqwin
