// The installation of INF sections, as setupapi carries out their directives: Include, Needs, CopyFiles,
// DelFiles, AddReg and DelReg; and InstallHinfSection, the entry rundll32 calls for it.
#include "setupapi_private.h"

#include <setupapi.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kqwin::inf {
namespace {

constexpr char kSourcePathKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup";

bool Exists(const std::string& windowsPath, bool* isFile = nullptr) {
    struct stat st{};
    if (stat(MapPath(windowsPath).c_str(), &st) != 0) {
        return false;
    }
    if (isFile) {
        *isFile = S_ISREG(st.st_mode);
    }
    return true;
}

// A registry root of AddReg and DelReg as the stand-in's registry names it.
bool RegistryRoot(const std::string& abbreviation, std::string* root) {
    for (const char* r : {"HKLM", "HKCU", "HKCR", "HKU"}) {
        if (EqualsNoCase(abbreviation, r)) {
            *root = r;
            return true;
        }
    }
    return false;
}

std::string KeyPath(const std::string& root, std::string sub) {
    while (!sub.empty() && sub.front() == '\\') {
        sub.erase(0, 1);
    }
    while (!sub.empty() && sub.back() == '\\') {
        sub.pop_back();
    }
    return sub.empty() ? root : root + "\\" + sub;
}

std::vector<BYTE> MultiString(const std::vector<std::string>& strings) {
    std::vector<BYTE> data;
    for (const std::string& s : strings) {
        data.insert(data.end(), s.begin(), s.end());
        data.push_back(0);
    }
    data.push_back(0);
    return data;
}

std::vector<std::string> SplitMulti(const std::vector<BYTE>& data) {
    std::vector<std::string> out;
    std::string current;
    for (const BYTE b : data) {
        if (b) {
            current += static_cast<char>(b);
        } else if (!current.empty()) {
            out.push_back(current);
            current.clear();
        }
    }
    return out;
}

const Line* Keyed(const std::vector<Line>& lines, const std::string& key) {
    for (const Line& l : lines) {
        if (l.hasKey && EqualsNoCase(l.key, key)) {
            return &l;
        }
    }
    return nullptr;
}

} // namespace

DWORD Installer::Include(const std::string& section) {
    for (const std::string& name : set_.Values(section, "Include")) {
        if (name.empty()) {
            continue;
        }
        // the system's INFs are in its INF folder
        const std::string path = name.find('\\') == std::string::npos ? JoinPath(InfDirectory(), name) : name;
        if (const DWORD error = set_.Append(path)) {
            return error;
        }
    }
    return 0;
}

DWORD Installer::Needs(const std::string& section) {
    for (const std::string& needed : set_.Values(section, "Needs")) {
        if (needed.empty()) {
            continue;
        }
        if (!set_.Has(needed)) {
            return ERROR_SECTION_NOT_FOUND;
        }
        // a needed section's own Include and Needs are not followed
        if (const DWORD error = InstallFiles(needed)) {
            return error;
        }
        if (const DWORD error = InstallRegistry(needed)) {
            return error;
        }
    }
    return 0;
}

DWORD Installer::Run(const std::string& section) {
    if (!set_.Has(section)) {
        return ERROR_SECTION_NOT_FOUND;
    }
    if (const DWORD error = Include(section)) {
        return error;
    }
    if (const DWORD error = Needs(section)) {
        return error;
    }
    if (const DWORD error = InstallFiles(section)) {
        return error;
    }
    return InstallRegistry(section);
}

DWORD Installer::InstallFiles(const std::string& section) {
    // as a committed file queue: deletions before copies
    for (const std::string& list : set_.Values(section, "DelFiles")) {
        if (const DWORD error = list.empty() ? 0 : DelFiles(list)) {
            return error;
        }
    }
    return CopyFiles(section);
}

DWORD Installer::InstallRegistry(const std::string& section) {
    for (const std::string& list : set_.Values(section, "DelReg")) {
        if (const DWORD error = list.empty() ? 0 : DelReg(list)) {
            return error;
        }
    }
    for (const std::string& list : set_.Values(section, "AddReg")) {
        if (const DWORD error = list.empty() ? 0 : AddReg(list)) {
            return error;
        }
    }
    return 0;
}

DWORD Installer::CopyFiles(const std::string& section) {
    const File* owner = set_.Owner(section);
    if (!owner) {
        return ERROR_SECTION_NOT_FOUND;
    }
    for (const std::string& entry : set_.Values(section, "CopyFiles")) {
        if (const DWORD error = entry.empty() ? 0 : CopyList(*owner, entry)) {
            return error;
        }
    }
    return 0;
}

DWORD Installer::CopyList(const File& owner, const std::string& entry) {
    if (entry.front() == '@') {
        // a single file, to the INF's default destination
        const std::string name = TrimBlanks(entry.substr(1));
        return CopyOne(owner, std::string(), name, name, 0);
    }
    const File* listOwner = set_.Owner(entry);
    if (!listOwner) {
        return ERROR_SECTION_NOT_FOUND;
    }
    for (const Line& l : set_.Read(entry)) {
        // destination[,source][,unused][,flags]
        const std::string dest = l.Field(0);
        if (l.hasKey || dest.empty()) {
            continue;
        }
        const std::string source = l.Field(1);
        const DWORD flags = ParseNumber(l.Field(3));
        if (const DWORD error = CopyOne(*listOwner, entry, dest, source.empty() ? dest : source, flags)) {
            return error;
        }
    }
    return 0;
}

DWORD Installer::Destination(const File& owner, const std::string& listSection, std::string* folder) const {
    const std::vector<Line> dirs = set_.ReadIn(owner, "DestinationDirs");
    const Line* line = listSection.empty() ? nullptr : Keyed(dirs, listSection);
    if (!line) {
        line = Keyed(dirs, "DefaultDestDir");
    }
    // without either, files go to the system directory
    const std::string id = line ? line->Field(0) : std::string("11");
    if (!IsDigits(id)) {
        return ERROR_INVALID_PARAMETER;
    }
    const auto it = set_.dirids.find(std::atoi(id.c_str()));
    if (it == set_.dirids.end()) {
        return ERROR_INVALID_PARAMETER; // a directory id that this install does not define
    }
    *folder = line ? JoinPath(it->second, line->Field(1)) : it->second;
    return 0;
}

DWORD Installer::SourcePath(const File& owner, const std::string& name, std::string* path) const {
    // the primary INF's files come from the installation's source; an appended system INF's from beside it
    const std::string root = &owner == &set_.Primary() ? set_.sourceRoot : owner.folder;
    const Line* file = nullptr;
    std::vector<Line> files;
    // the machine's own platform first
    for (const std::string& section :
         {"SourceDisksFiles." + std::string(InfPlatform()), std::string("SourceDisksFiles")}) {
        files = set_.ReadIn(owner, section);
        if ((file = Keyed(files, name)) != nullptr) {
            break;
        }
    }
    if (!file) {
        *path = JoinPath(root, name);
        return 0;
    }
    const std::string disk = file->Field(0);
    const Line* diskLine = nullptr;
    std::vector<Line> disks;
    for (const std::string& section :
         {"SourceDisksNames." + std::string(InfPlatform()), std::string("SourceDisksNames")}) {
        disks = set_.ReadIn(owner, section);
        if ((diskLine = Keyed(disks, disk)) != nullptr) {
            break;
        }
    }
    if (!diskLine) {
        return ERROR_LINE_NOT_FOUND;
    }
    *path = JoinPath(JoinPath(JoinPath(root, diskLine->Field(3)), file->Field(1)), name);
    return 0;
}

DWORD Installer::CopyOne(const File& owner, const std::string& listSection, const std::string& destName,
                         const std::string& sourceName, DWORD flags) {
    std::string folder;
    if (const DWORD error = Destination(owner, listSection, &folder)) {
        return error;
    }
    std::string source;
    if (const DWORD error = SourcePath(owner, sourceName, &source)) {
        return error;
    }
    bool isFile = false;
    if (!Exists(source, &isFile) || !isFile) {
        return ERROR_FILE_NOT_FOUND; // setup would ask for the disk; here nobody can answer
    }
    const std::string target = JoinPath(folder, destName);
    const bool present = Exists(target);
    const bool skip = ((flags & COPYFLG_NO_OVERWRITE) && present) || ((flags & COPYFLG_REPLACEONLY) && !present);
    if (!skip && !CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        return GetLastError() ? GetLastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
    }
    if (placed_) {
        placed_(target, source);
    }
    return 0;
}

DWORD Installer::DelFiles(const std::string& listSection) {
    const File* owner = set_.Owner(listSection);
    if (!owner) {
        return ERROR_SECTION_NOT_FOUND;
    }
    std::string folder;
    if (const DWORD error = Destination(*owner, listSection, &folder)) {
        return error;
    }
    for (const Line& l : set_.Read(listSection)) {
        const std::string name = l.Field(0);
        if (!l.hasKey && !name.empty()) {
            DeleteFileA(JoinPath(folder, name).c_str()); // a file that is not there is no failure
        }
    }
    return 0;
}

DWORD Installer::AddReg(const std::string& listSection) {
    if (!set_.Has(listSection)) {
        return ERROR_SECTION_NOT_FOUND;
    }
    Registry& reg = Hive();
    for (const Line& l : set_.Read(listSection)) {
        // root, [subkey], [value name], [flags], [value, ...]
        std::string root;
        if (!RegistryRoot(l.Field(0), &root)) {
            return ERROR_BADKEY;
        }
        const std::string key = KeyPath(root, l.Field(1));
        const DWORD flags = ParseNumber(l.Field(3));
        reg.CreateKey(key, nullptr);
        if (l.fields.size() < 3 || (flags & FLG_ADDREG_KEYONLY)) {
            continue;
        }
        const std::string name = l.Field(2);
        Registry::Value old;
        const bool exists = reg.GetValue(key, name, &old);
        if (flags & FLG_ADDREG_DELVAL) {
            reg.DeleteValue(key, name);
            continue;
        }
        if (((flags & FLG_ADDREG_NOCLOBBER) && exists) || ((flags & FLG_ADDREG_OVERWRITEONLY) && !exists)) {
            continue;
        }
        const std::vector<std::string> values(l.fields.begin() + std::min<size_t>(4, l.fields.size()),
                                              l.fields.end());
        DWORD type = REG_SZ;
        std::vector<BYTE> data;
        if (flags & FLG_ADDREG_BINVALUETYPE) {
            const DWORD kind = flags & FLG_ADDREG_TYPE_MASK;
            type = kind == FLG_ADDREG_TYPE_DWORD  ? REG_DWORD
                   : kind == FLG_ADDREG_TYPE_NONE ? REG_NONE
                   : kind == FLG_ADDREG_TYPE_BINARY ? REG_BINARY
                                                    : (flags >> 16);
            if (type == REG_DWORD && values.size() == 1) {
                const DWORD number = ParseNumber(values[0]);
                data.resize(4);
                std::memcpy(data.data(), &number, 4);
            } else {
                for (const std::string& v : values) {
                    data.push_back(static_cast<BYTE>(std::strtoul(v.c_str(), nullptr, 16)));
                }
            }
        } else if (flags & FLG_ADDREG_TYPE_MULTI_SZ) {
            type = REG_MULTI_SZ;
            std::vector<std::string> strings = values;
            if ((flags & FLG_ADDREG_APPEND) && exists) {
                strings = SplitMulti(old.data);
                for (const std::string& v : values) {
                    if (std::none_of(strings.begin(), strings.end(),
                                     [&](const std::string& s) { return EqualsNoCase(s, v); })) {
                        strings.push_back(v);
                    }
                }
            }
            data = MultiString(strings);
        } else {
            type = (flags & FLG_ADDREG_TYPE_EXPAND_SZ) ? REG_EXPAND_SZ : REG_SZ;
            const std::string text = values.empty() ? std::string() : values[0];
            data.assign(text.begin(), text.end());
            data.push_back(0);
        }
        reg.SetValue(key, name, type, data.data(), data.size());
    }
    return 0;
}

DWORD Installer::DelReg(const std::string& listSection) {
    if (!set_.Has(listSection)) {
        return ERROR_SECTION_NOT_FOUND;
    }
    for (const Line& l : set_.Read(listSection)) {
        // root, subkey, [value name]: without a value name the key goes with everything below it
        std::string root;
        if (!RegistryRoot(l.Field(0), &root)) {
            return ERROR_BADKEY;
        }
        const std::string key = KeyPath(root, l.Field(1));
        if (l.fields.size() >= 3) {
            Hive().DeleteValue(key, l.Field(2));
        } else if (key != root) {
            Hive().DeleteTree(key);
        }
    }
    return 0;
}

std::map<int, std::string> StandardDirids() {
    return {{DIRID_WINDOWS, WindowsDirectory()},
            {DIRID_SYSTEM, SystemDirectory()},
            {DIRID_DRIVERS, SystemDirectory() + "\\DRIVERS"},
            {DIRID_INF, InfDirectory()},
            {DIRID_BOOT, "C:\\"}};
}

DWORD InstallHinfSection(const std::string& commandTail) {
    // "<section> <mode> <path>": the path is the rest of the line, spaces and all
    const std::string tail = TrimBlanks(commandTail);
    const size_t afterSection = tail.find(' ');
    if (afterSection == std::string::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string section = tail.substr(0, afterSection);
    const std::string rest = TrimBlanks(tail.substr(afterSection));
    const size_t afterMode = rest.find(' ');
    if (afterMode == std::string::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD mode = ParseNumber(rest.substr(0, afterMode));
    std::string path = TrimBlanks(rest.substr(afterMode));
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
        path = path.substr(1, path.size() - 2);
    }
    File file;
    if (const DWORD error = Open(path, &file)) {
        return error;
    }
    InfSet set(std::move(file));
    set.dirids = StandardDirids();
    // mode 128: the INF's folder is the source; otherwise the system's setup source
    if (!(mode & 128)) {
        const std::string configured = Hive().GetString(kSourcePathKey, "SourcePath");
        set.sourceRoot = configured.empty() ? std::string("C:\\WINDOWS\\OPTIONS\\CABS") : configured;
    }
    std::vector<std::string> candidates;
    if (!Windows9x()) {
        candidates = {section + ".NT" + InfPlatform(), section + ".NT"};
    }
    candidates.push_back(section);
    for (const std::string& candidate : candidates) {
        if (set.Has(candidate)) {
            Installer installer(set);
            return installer.Run(candidate);
        }
    }
    return ERROR_SECTION_NOT_FOUND;
}

} // namespace kqwin::inf

// rundll32's entry: "InstallHinfSection <section> <mode> <inf>"; the last error tells how it went.
extern "C" KQWIN_API void WINAPI InstallHinfSectionA(HWND, HINSTANCE, LPCSTR commandLine, INT) {
    SetLastError(kqwin::inf::InstallHinfSection(commandLine ? commandLine : ""));
}
