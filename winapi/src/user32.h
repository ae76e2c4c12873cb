// Internals shared by the headless user32, its controls and the program's resources.
#pragma once

#include "core.h"

#include <deque>
#include <map>

namespace kqwin {

// ---- the program and its resources ------------------------------------------------------------------------

// The program's module handle: the classic image base, which no handle of the table can be.
inline HMODULE ProgramModule() { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000)); }
inline bool IsProgramModule(HMODULE m) { return m == nullptr || m == ProgramModule(); }

// A resource type or name: an ordinal, or a name (kept upper case, as resource compilers store names).
struct ResName {
    WORD id = 0;
    std::u16string name;
    bool operator==(const ResName& other) const { return id == other.id && name == other.name; }
};
ResName ResNameOf(LPCSTR s); // MAKEINTRESOURCE, "#123" or a name
inline ResName ResId(WORD id) { return ResName{id, {}}; }

struct ResourceBytes {
    const BYTE* data = nullptr;
    DWORD size = 0;
};
// A resource of the program in any language; sets the last error Windows sets when there is none.
std::optional<ResourceBytes> ProgramResource(const ResName& type, const ResName& name);

// A dialog template, either form.
struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    WORD classAtom = 0;     // 0x0080 button ... 0x0085 combo box; 0 when named
    std::u16string className;
    std::u16string title;
    WORD titleOrdinal = 0;  // an image's resource id (0xFFFF + ordinal in the template)
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

// Copies UTF-16 text as ANSI into a caller's buffer of `max` bytes the way the A calls do: as many whole
// characters as fit before the terminating zero. Returns the bytes copied without the zero.
int CopyAnsiOut(std::u16string_view text, LPSTR out, int max);
// Orders two texts as CompareString with NORM_IGNORECASE does for these: case-insensitive, punctuation
// before digits before letters before other scripts.
int CompareNoCase(std::u16string_view a, std::u16string_view b);
// Case-insensitive prefix and whole-text tests, as list boxes search.
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);
bool EqualsNoCase16(std::u16string_view a, std::u16string_view b);

// ---- windows ------------------------------------------------------------------------------------------------

enum class WndKind { Plain, Dialog, Button, Static, Edit, ComboBox, Progress };

struct ComboItem {
    std::u16string text;
    LPARAM data = 0;
};

struct Wnd : Object {
    Wnd() : Object(ObjType::Window) {}
    HWND self = nullptr;
    DWORD thread = 0;
    WndKind kind = WndKind::Plain;
    std::string className;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    LONG_PTR id = 0;
    HWND parent = nullptr; // children only
    HWND owner = nullptr;  // top-level windows only
    std::vector<HWND> children; // in z-order: the first created first, as a dialog makes them
    std::u16string text;
    RECT rect{};          // window rectangle, screen coordinates
    RECT restoreRect{};   // while iconic
    bool iconic = false;
    bool needsPaint = false;
    LONG_PTR userData = 0;
    HFONT font = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    HMENU sysMenu = nullptr;
    // dialogs
    DLGPROC dlgProc = nullptr;
    LONG_PTR msgResult = 0;
    LONG_PTR dlgUser = 0;
    int baseX = 8;  // dialog base units, pixels
    int baseY = 16;
    int defId = 0;
    bool modal = false;
    bool ended = false;
    INT_PTR result = 0;
    bool messageBox = false;
    // controls
    std::vector<ComboItem> items;
    int curSel = -1;
    int pbLow = 0, pbHigh = 100, pbPos = 0, pbStep = 10;
    COLORREF pbBar = 0xFF000000u, pbBk = 0xFF000000u;
    HANDLE image = nullptr; // a static's icon or bitmap
    bool ownsImage = false;
    UINT check = 0;
    UINT buttonState = 0;
};

// The window behind a handle; null (last error ERROR_INVALID_WINDOW_HANDLE) for anything else.
std::shared_ptr<Wnd> GetWnd(HWND h);
// Makes a window of one of the built-in classes (by name or dialog atom); null for an unknown class.
HWND CreateWnd(const std::u16string& className, WORD classAtom, const std::u16string& text, DWORD style,
               DWORD exStyle, RECT rect, HWND parent, HWND owner, LONG_PTR id);
LRESULT CallProc(const std::shared_ptr<Wnd>& w, UINT msg, WPARAM wp, LPARAM lp);
void Notify(const std::shared_ptr<Wnd>& control, int code); // WM_COMMAND to the parent

// The window procedures of the built-in classes (controls.cpp).
LRESULT WINAPI ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT WINAPI StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT WINAPI EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT WINAPI ComboBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT WINAPI ProgressProc(HWND, UINT, WPARAM, LPARAM);

// Images from the program's resources, for statics.
HICON LoadProgramIcon(const ResName& name);
HBITMAP LoadProgramBitmap(WORD id);
void FreeBitmap(HBITMAP bitmap);

} // namespace kqwin
