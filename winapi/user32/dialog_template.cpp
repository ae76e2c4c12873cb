// The dialog template reader: both forms (DLGTEMPLATE and DLGTEMPLATEEX) with their items.
#include "user32_private.h"

#include "resfields.h"

namespace kqwin {

std::optional<DialogTemplate> ParseDialogTemplate(const BYTE* data, size_t size) {
    if (!data || size < 18) {
        return std::nullopt;
    }
    DialogTemplate t;
    size_t pos = 0;
    WORD count = 0;
    t.extended = ReadField<WORD>(data) == 1 && ReadField<WORD>(data + 2) == 0xFFFF;
    if (t.extended) {
        if (size < 26) {
            return std::nullopt;
        }
        t.exStyle = ReadField<DWORD>(data + 8);
        t.style = ReadField<DWORD>(data + 12);
        count = ReadField<WORD>(data + 16);
        t.x = ReadField<short>(data + 18);
        t.y = ReadField<short>(data + 20);
        t.cx = ReadField<short>(data + 22);
        t.cy = ReadField<short>(data + 24);
        pos = 26;
    } else {
        t.style = ReadField<DWORD>(data);
        t.exStyle = ReadField<DWORD>(data + 4);
        count = ReadField<WORD>(data + 8);
        t.x = ReadField<short>(data + 10);
        t.y = ReadField<short>(data + 12);
        t.cx = ReadField<short>(data + 14);
        t.cy = ReadField<short>(data + 16);
        pos = 18;
    }
    bool ordinal = false;
    WORD unused = 0;
    if (!ReadNameField(data, size, &pos, &t.menu, &t.menuOrdinal, &ordinal) ||
        !ReadNameField(data, size, &pos, &t.className, &t.classOrdinal, &ordinal) ||
        !ReadNameField(data, size, &pos, &t.title, &unused, &ordinal)) {
        return std::nullopt;
    }
    if (t.style & DS_SETFONT) {
        if (pos + 2 > size) {
            return std::nullopt;
        }
        t.pointSize = ReadField<WORD>(data + pos);
        pos += 2;
        if (t.extended) {
            if (pos + 4 > size) {
                return std::nullopt;
            }
            t.weight = ReadField<WORD>(data + pos);
            t.italic = data[pos + 2];
            t.charset = data[pos + 3];
            pos += 4;
        }
        if (!ReadNameField(data, size, &pos, &t.font, &unused, &ordinal)) {
            return std::nullopt;
        }
    }
    for (WORD i = 0; i < count; ++i) {
        pos = Align4(pos);
        DialogItem item;
        if (t.extended) {
            if (pos + 24 > size) {
                return std::nullopt;
            }
            item.exStyle = ReadField<DWORD>(data + pos + 4);
            item.style = ReadField<DWORD>(data + pos + 8);
            item.x = ReadField<short>(data + pos + 12);
            item.y = ReadField<short>(data + pos + 14);
            item.cx = ReadField<short>(data + pos + 16);
            item.cy = ReadField<short>(data + pos + 18);
            item.id = ReadField<DWORD>(data + pos + 20);
            pos += 24;
        } else {
            if (pos + 18 > size) {
                return std::nullopt;
            }
            item.style = ReadField<DWORD>(data + pos);
            item.exStyle = ReadField<DWORD>(data + pos + 4);
            item.x = ReadField<short>(data + pos + 8);
            item.y = ReadField<short>(data + pos + 10);
            item.cx = ReadField<short>(data + pos + 12);
            item.cy = ReadField<short>(data + pos + 14);
            item.id = ReadField<WORD>(data + pos + 16);
            pos += 18;
        }
        if (!ReadNameField(data, size, &pos, &item.className, &item.classAtom, &ordinal) ||
            !ReadNameField(data, size, &pos, &item.title, &item.titleOrdinal, &item.hasTitleOrdinal) ||
            pos + 2 > size) {
            return std::nullopt;
        }
        const WORD extra = ReadField<WORD>(data + pos);
        pos += 2;
        if (pos + extra > size) {
            return std::nullopt;
        }
        item.creationData.assign(data + pos, data + pos + extra);
        pos += extra;
        t.items.push_back(std::move(item));
    }
    return t;
}

} // namespace kqwin
