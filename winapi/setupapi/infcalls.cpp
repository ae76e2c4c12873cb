// The INF calls of setupapi: opening an INF (and appending others to it), finding its lines and reading their
// fields, setting directory ids, and installing a section's files and registry entries.
#include "setupapi_private.h"

#include <setupapi.h>

#include <cstring>

namespace kqwin::inf {
namespace {

// An open INF: the set of INFs appended to it, and the sections its contexts have named (a context's Section
// is an index into them).
struct InfObj : Object {
    explicit InfObj(File primary) : Object(ObjType::Inf), set(std::move(primary)) {}
    InfSet set;
    std::vector<std::string> sections; // lower case
};

std::shared_ptr<InfObj> GetInf(HINF h) { return GetObject<InfObj>(h, ObjType::Inf); }

UINT SectionIndex(InfObj& inf, const std::string& section) {
    const std::string lower = LowerAscii(section);
    for (size_t i = 0; i < inf.sections.size(); ++i) {
        if (inf.sections[i] == lower) {
            return static_cast<UINT>(i);
        }
    }
    inf.sections.push_back(lower);
    return static_cast<UINT>(inf.sections.size() - 1);
}

// The first line at or after `from` of a section whose key is `key` (any line for no key).
BOOL FindFrom(HINF h, InfObj& inf, UINT section, size_t from, LPCSTR key, PINFCONTEXT out) {
    const std::string& name = inf.sections[section];
    const std::vector<Line> lines = inf.set.Read(name);
    for (size_t i = from; i < lines.size(); ++i) {
        if (!key || (lines[i].hasKey && EqualsNoCase(lines[i].key, key))) {
            *out = INFCONTEXT{h, const_cast<File*>(inf.set.Owner(name)), section, static_cast<UINT>(i)};
            return TRUE;
        }
    }
    SetLastError(ERROR_LINE_NOT_FOUND);
    return FALSE;
}

// The line a context names; false (last error set) for a context that names none.
bool LineOf(const INFCONTEXT* context, Line* line) {
    const std::shared_ptr<InfObj> inf = context ? GetInf(context->Inf) : nullptr;
    if (!inf || context->Section >= inf->sections.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const std::vector<Line> lines = inf->set.Read(inf->sections[context->Section]);
    if (context->Line >= lines.size()) {
        SetLastError(ERROR_LINE_NOT_FOUND);
        return false;
    }
    *line = lines[context->Line];
    return true;
}

// Hands the handler of SetupInstallFromInfSection each file the install put in place.
struct CopyNotifier {
    PSP_FILE_CALLBACK_A handler;
    PVOID context;
    void operator()(const std::string& target, const std::string& source) const {
        FILEPATHS_A paths{target.c_str(), source.c_str(), 0, 0};
        handler(context, SPFILENOTIFY_ENDCOPY, reinterpret_cast<UINT_PTR>(&paths), 0);
    }
};

} // namespace
} // namespace kqwin::inf

using namespace kqwin;
using namespace kqwin::inf;

extern "C" {

HINF WINAPI SetupOpenInfFileA(PCSTR fileName, PCSTR, DWORD style, PUINT errorLine) {
    if (errorLine) {
        *errorLine = 0;
    }
    if (!fileName || !(style & (INF_STYLE_WIN4 | INF_STYLE_OLDNT))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    File file;
    if (const DWORD error = Open(fileName, &file)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto inf = std::make_shared<InfObj>(std::move(file));
    inf->set.dirids = StandardDirids();
    const HINF h = Handles().Add(std::move(inf));
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

BOOL WINAPI SetupOpenAppendInfFileA(PCSTR fileName, HINF h, PUINT errorLine) {
    if (errorLine) {
        *errorLine = 0;
    }
    const std::shared_ptr<InfObj> inf = GetInf(h);
    if (!inf) {
        return FALSE;
    }
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // a bare name is one of the system's INFs
    const std::string name = fileName;
    const std::string path = name.find('\\') == std::string::npos ? JoinPath(InfDirectory(), name) : name;
    if (const DWORD error = inf->set.Append(path)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

VOID WINAPI SetupCloseInfFile(HINF h) { Handles().Remove(h, ObjType::Inf); }

LONG WINAPI SetupGetLineCountA(HINF h, PCSTR section) {
    const std::shared_ptr<InfObj> inf = GetInf(h);
    if (!inf || !section) {
        return -1;
    }
    if (!inf->set.Has(section)) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return -1;
    }
    return static_cast<LONG>(inf->set.Read(section).size());
}

BOOL WINAPI SetupFindFirstLineA(HINF h, PCSTR section, PCSTR key, PINFCONTEXT context) {
    const std::shared_ptr<InfObj> inf = GetInf(h);
    if (!inf) {
        return FALSE;
    }
    if (!section || !context) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!inf->set.Has(section)) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return FALSE;
    }
    return FindFrom(h, *inf, SectionIndex(*inf, section), 0, key, context);
}

BOOL WINAPI SetupFindNextMatchLineA(PINFCONTEXT in, PCSTR key, PINFCONTEXT out) {
    const std::shared_ptr<InfObj> inf = in ? GetInf(in->Inf) : nullptr;
    if (!inf || !out || in->Section >= inf->sections.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return FindFrom(in->Inf, *inf, in->Section, size_t{in->Line} + 1, key, out);
}

BOOL WINAPI SetupFindNextLine(PINFCONTEXT in, PINFCONTEXT out) { return SetupFindNextMatchLineA(in, nullptr, out); }

DWORD WINAPI SetupGetFieldCount(PINFCONTEXT context) {
    Line line;
    return LineOf(context, &line) ? static_cast<DWORD>(line.fields.size()) : 0;
}

// Field 0 is the line's key (empty for a line without one); fields 1 and on are its values.
BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT context, DWORD index, PSTR buffer, DWORD size, PDWORD required) {
    Line line;
    if (!LineOf(context, &line)) {
        return FALSE;
    }
    if (index > line.fields.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& text = index == 0 ? line.key : line.fields[index - 1];
    const auto needed = static_cast<DWORD>(text.size() + 1);
    if (required) {
        *required = needed;
    }
    if (!buffer) {
        return TRUE;
    }
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, text.c_str(), needed);
    return TRUE;
}

BOOL WINAPI SetupSetDirectoryIdA(HINF h, DWORD id, PCSTR directory) {
    const std::shared_ptr<InfObj> inf = GetInf(h);
    if (!inf) {
        return FALSE;
    }
    if (!directory) {
        inf->set.dirids.erase(static_cast<int>(id));
    } else {
        inf->set.dirids[static_cast<int>(id)] = directory;
    }
    return TRUE;
}

BOOL WINAPI SetupInstallFromInfSectionA(HWND, HINF h, PCSTR section, UINT flags, HKEY, PCSTR sourceRoot, UINT,
                                        PSP_FILE_CALLBACK_A handler, PVOID context, HDEVINFO, PSP_DEVINFO_DATA) {
    const std::shared_ptr<InfObj> inf = GetInf(h);
    if (!inf) {
        return FALSE;
    }
    if (!section) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!inf->set.Has(section)) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return FALSE;
    }
    if (sourceRoot) {
        inf->set.sourceRoot = sourceRoot;
    }
    Installer installer(inf->set, handler ? Installer::PlacedFile(CopyNotifier{handler, context}) : nullptr);
    DWORD error = (flags & SPINST_FILES) ? installer.InstallFiles(section) : 0;
    if (!error && (flags & SPINST_REGISTRY)) {
        error = installer.InstallRegistry(section);
    }
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
