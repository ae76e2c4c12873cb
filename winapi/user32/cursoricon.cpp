// Icons and cursors: the system's, and the program's icons and bitmaps from its resources; the cursor; icons
// drawn on a window's paint DC, which are reported to the observer.
#include "user32_private.h"

#include "observers.h"
#include "resfields.h"

#include <algorithm>
#include <iterator>

namespace kqwin {
namespace {

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

// Icons and cursors are shared: each is made once and stays for the life of the process.
struct SharedImages {
    std::mutex mutex;
    std::map<std::pair<bool, WORD>, HICON> system; // (cursor, id)
    std::map<const BYTE*, HICON> program;        // by the icon group's resource
};

SharedImages& Images() {
    static SharedImages images;
    return images;
}

// The ordinal of an IDC_ or IDI_ value (wide under UNICODE).
WORD Ordinal(LPCWSTR id) { return static_cast<WORD>(reinterpret_cast<uintptr_t>(id)); }

} // namespace

HICON LoadProgramIcon(HINSTANCE module, LPCSTR name) {
    const std::optional<ResourceBytes> group = FindResourceBytes(module, name, AnsiResourceId(RT_GROUP_ICON));
    if (!group || group->size < 6) {
        return nullptr;
    }
    SharedImages& images = Images();
    {
        std::lock_guard lock(images.mutex);
        if (auto it = images.program.find(group->data); it != images.program.end()) {
            return it->second;
        }
    }
    const WORD count = ReadField<WORD>(group->data + 4);
    // the group's entry for the standard size, or its first; its image must be there too
    WORD imageId = 0;
    int width = kIconSize;
    int height = kIconSize;
    for (WORD i = 0; i < count && 6 + size_t{i + 1u} * 14 <= group->size; ++i) {
        const BYTE* e = group->data + 6 + size_t{i} * 14;
        const WORD id = ReadField<WORD>(e + 12);
        const int ew = e[0] ? e[0] : 256;
        const int eh = e[1] ? e[1] : 256;
        if (imageId == 0 || ew == kIconSize) {
            imageId = id;
            width = ew;
            height = eh;
        }
    }
    if (imageId == 0 || !FindResourceA(module, MAKEINTRESOURCEA(imageId), AnsiResourceId(RT_ICON))) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    auto icon = std::make_shared<IconObj>();
    icon->width = width;
    icon->height = height;
    const auto h = static_cast<HICON>(Handles().Add(icon));
    std::lock_guard lock(images.mutex);
    images.program[group->data] = h;
    return h;
}

HBITMAP LoadProgramBitmap(HINSTANCE module, WORD id) {
    const std::optional<ResourceBytes> res = FindResourceBytes(module, MAKEINTRESOURCEA(id), AnsiResourceId(RT_BITMAP));
    if (!res || res->size < 12) {
        return nullptr;
    }
    auto bitmap = std::make_shared<BitmapObj>();
    bitmap->width = ReadField<LONG>(res->data + 4);
    bitmap->height = ReadField<LONG>(res->data + 8);
    return static_cast<HBITMAP>(Handles().Add(bitmap));
}

void FreeBitmap(HBITMAP bitmap) { Handles().Remove(bitmap, ObjType::Bitmap); }

} // namespace kqwin

using namespace kqwin;

extern "C" {

BOOL WINAPI DrawIcon(HDC hdc, int x, int y, HICON icon) {
    if (!Handles().Get(hdc, ObjType::Dc)) {
        return FALSE;
    }
    if (!GetHandleObject<IconObj>(icon, ObjType::Icon, ERROR_INVALID_CURSOR_HANDLE)) {
        return FALSE;
    }
    HWND window = nullptr;
    {
        DesktopState& s = Desktop();
        std::lock_guard lock(s.mutex);
        const auto it = s.paintDcs.find(hdc);
        window = it == s.paintDcs.end() ? nullptr : it->second;
    }
    if (User32Observer* observer = User32Hook().Get()) {
        observer->IconDrawn(window, x, y, icon);
    }
    return TRUE;
}

BOOL WINAPI DestroyIcon(HICON icon) {
    // every icon handed out here is shared (LoadIcon): it stays valid and destroying it is harmless
    return GetHandleObject<IconObj>(icon, ObjType::Icon, ERROR_INVALID_CURSOR_HANDLE) ? TRUE : FALSE;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (instance == nullptr) { // the system's icons
        const auto id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
        if (!IS_INTRESOURCE(name) || id < Ordinal(IDI_APPLICATION) || id > Ordinal(IDI_WINLOGO)) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        SharedImages& images = Images();
        std::lock_guard lock(images.mutex);
        HICON& h = images.system[{false, id}];
        if (!h) {
            h = static_cast<HICON>(Handles().Add(std::make_shared<IconObj>()));
        }
        return h;
    }
    return LoadProgramIcon(instance, name);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    static const LPCWSTR kSystemCursors[] = {IDC_ARROW,    IDC_IBEAM,  IDC_WAIT,   IDC_CROSS,    IDC_UPARROW, IDC_SIZE,
                                             IDC_ICON,     IDC_SIZENWSE, IDC_SIZENESW, IDC_SIZEWE, IDC_SIZENS,
                                             IDC_SIZEALL, IDC_NO,     IDC_HAND,   IDC_APPSTARTING, IDC_HELP};
    const auto id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    if (instance != nullptr || !name || !IS_INTRESOURCE(name) ||
        std::none_of(std::begin(kSystemCursors), std::end(kSystemCursors),
                     [id](LPCWSTR cursor) { return Ordinal(cursor) == id; })) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND); // the program brings no cursors of its own
        return nullptr;
    }
    SharedImages& images = Images();
    std::lock_guard lock(images.mutex);
    HICON& h = images.system[{true, id}];
    if (!h) {
        auto cursor = std::make_shared<IconObj>();
        cursor->cursor = true;
        h = static_cast<HICON>(Handles().Add(cursor));
    }
    return h;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    const HCURSOR previous = GetCursor();
    std::lock_guard lock(Desktop().mutex);
    Desktop().cursor = cursor;
    return previous;
}

HCURSOR WINAPI GetCursor(void) {
    {
        std::lock_guard lock(Desktop().mutex);
        if (Desktop().cursor) {
            return Desktop().cursor;
        }
    }
    const HCURSOR arrow = LoadCursorA(nullptr, AnsiResourceId(IDC_ARROW)); // the pointer starts as the arrow
    std::lock_guard lock(Desktop().mutex);
    Desktop().cursor = arrow;
    return arrow;
}

} // extern "C"
