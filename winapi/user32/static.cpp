// The static control, and the icon or bitmap an image static shows.
#include "user32_private.h"

namespace kqwin {
namespace {

struct StaticState : ControlState {
    ~StaticState() override {
        if (ownsImage) {
            FreeBitmap(static_cast<HBITMAP>(image));
        }
    }
    HANDLE image = nullptr; // an icon or a bitmap
    bool ownsImage = false; // a bitmap loaded from the template, freed with the control
};

// An image static loads its image from the module, named by its title: an icon by name or ordinal, a bitmap
// by ordinal.
std::unique_ptr<StaticState> MakeState(DWORD type, const CREATESTRUCTA& create) {
    auto state = std::make_unique<StaticState>();
    const LPCSTR name = create.lpszName;
    if (type == SS_ICON && name && (IS_INTRESOURCE(name) || *name)) {
        state->image = LoadProgramIcon(create.hInstance, name);
    } else if (type == SS_BITMAP && name && IS_INTRESOURCE(name)) {
        state->image = LoadProgramBitmap(create.hInstance, static_cast<WORD>(reinterpret_cast<uintptr_t>(name)));
        state->ownsImage = state->image != nullptr;
    }
    return state;
}

} // namespace

LRESULT WINAPI StaticProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto w = GetWnd(h);
    if (!w) {
        return 0;
    }
    const DWORD type = w->style & SS_TYPEMASK;
    if (msg == WM_NCCREATE) {
        w->control = MakeState(type, *reinterpret_cast<const CREATESTRUCTA*>(lp));
        return DefWindowProcA(h, msg, wp, lp);
    }
    StaticState* state = ControlStateOf<StaticState>(*w);
    if (!state) {
        return DefWindowProcA(h, msg, wp, lp);
    }
    StaticState& s = *state;
    switch (msg) {
    case STM_GETICON:
        return type == SS_ICON ? reinterpret_cast<LRESULT>(s.image) : 0;
    case STM_GETIMAGE:
        if ((wp == IMAGE_BITMAP && type == SS_BITMAP) || ((wp == IMAGE_ICON || wp == IMAGE_CURSOR) && type == SS_ICON)) {
            return reinterpret_cast<LRESULT>(s.image);
        }
        return 0;
    case STM_SETICON:
    case STM_SETIMAGE: {
        const bool icon = msg == STM_SETICON || wp == IMAGE_ICON || wp == IMAGE_CURSOR;
        if ((icon && type != SS_ICON) || (!icon && type != SS_BITMAP)) {
            return 0;
        }
        const HANDLE old = s.image;
        s.image = reinterpret_cast<HANDLE>(msg == STM_SETICON ? static_cast<LPARAM>(wp) : lp);
        s.ownsImage = false; // the caller's image; the one from the template is the caller's to keep now
        InvalidateRect(h, nullptr, TRUE);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    default:
        return DefWindowProcA(h, msg, wp, lp);
    }
}

} // namespace kqwin
