// INF files: the parser, string substitution, and the section directives that setupapi carries out.
#include "inf.h"

#include "spooler.h"

#include <setupapi.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kqwin::inf {
namespace {

constexpr size_t kMaxSectionName = 255;
constexpr char kSourcePathKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && IsBlank(s[b])) {
        ++b;
    }
    while (e > b && IsBlank(s[e - 1])) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

// The file's text; a UTF-16 file (with its byte order mark) is read as the machine's ANSI text.
bool ReadText(const std::string& windowsPath, std::string* text) {
    std::ifstream in(MapPath(windowsPath), std::ios::binary);
    if (!in) {
        return false;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string wide;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        *text = Utf16ToAnsi(wide);
    } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        *text = bytes.substr(3);
    } else {
        *text = std::move(bytes);
    }
    return true;
}

// A line's text without its comment, and whether it ends inside quotes.
std::string Uncommented(const std::string& raw, bool* openQuote) {
    bool quoted = false;
    std::string out;
    for (const char c : raw) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            break;
        }
        out += c;
    }
    *openQuote = quoted;
    return TrimBlanks(out);
}

// Splits "key = a, "b, c" , d" into the key and its fields: quotes removed ("" inside quotes is one quote),
// blanks around each field dropped, blanks inside quotes kept.
Line SplitLine(const std::string& text) {
    Line line;
    std::string field;
    size_t keepEnd = 0; // the field's length up to its last quoted or non-blank character
    bool quoted = false;
    bool started = false;
    auto finish = [&] {
        field.resize(keepEnd);
        line.fields.push_back(field);
        field.clear();
        keepEnd = 0;
        started = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                keepEnd = field.size();
                ++i;
            } else {
                quoted = !quoted;
                started = true;
                keepEnd = field.size();
            }
        } else if (!quoted && c == ',') {
            finish();
        } else if (!quoted && c == '=' && !line.hasKey && line.fields.empty()) {
            field.resize(keepEnd);
            line.hasKey = true;
            line.key = field;
            field.clear();
            keepEnd = 0;
            started = false;
        } else if (!quoted && IsBlank(c)) {
            if (started) {
                field += c;
            }
        } else {
            field += c;
            started = true;
            keepEnd = field.size();
        }
    }
    finish();
    return line;
}

const std::vector<Line>* SectionOf(const File& file, const std::string& name) {
    const auto it = file.sections.find(LowerAscii(name));
    return it == file.sections.end() ? nullptr : &it->second;
}

std::string StringIn(const File& file, const std::string& key, bool* found) {
    if (const auto* strings = SectionOf(file, "Strings")) {
        for (const Line& l : *strings) {
            if (l.hasKey && EqualsNoCase(l.key, key)) {
                *found = true;
                return l.Field(0);
            }
        }
    }
    *found = false;
    return {};
}

bool IsDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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

} // namespace

DWORD ParseNumber(const std::string& text) {
    return text.empty() ? 0 : static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 0));
}

DWORD Open(const std::string& windowsPath, File* out) {
    std::string text;
    if (windowsPath.empty() || !ReadText(windowsPath, &text)) {
        return ERROR_FILE_NOT_FOUND;
    }
    File file;
    file.path = windowsPath;
    const size_t slash = windowsPath.find_last_of("\\/");
    file.folder = slash == std::string::npos ? std::string() : windowsPath.substr(0, slash);
    std::vector<Line>* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        // one logical line: a backslash at its end (outside quotes) joins the next physical line to it
        std::string logical;
        bool more = true;
        while (more && pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) {
                end = text.size();
            }
            std::string raw = text.substr(pos, end - pos);
            pos = end + 1;
            if (!raw.empty() && raw.back() == '\r') {
                raw.pop_back();
            }
            bool openQuote = false;
            std::string part = Uncommented(raw, &openQuote);
            more = !openQuote && !part.empty() && part.back() == '\\';
            if (more) {
                part.pop_back();
            }
            logical += part;
        }
        logical = TrimBlanks(logical);
        if (logical.empty()) {
            continue;
        }
        if (logical.front() == '[') {
            const size_t close = logical.find(']');
            if (close == std::string::npos) {
                return ERROR_BAD_SECTION_NAME_LINE;
            }
            const std::string name = TrimBlanks(logical.substr(1, close - 1));
            if (name.size() > kMaxSectionName) {
                return ERROR_SECTION_NAME_TOO_LONG;
            }
            current = &file.sections[LowerAscii(name)];
            continue;
        }
        if (!current) {
            return ERROR_EXPECTED_SECTION_NAME;
        }
        current->push_back(SplitLine(logical));
    }
    // setupapi opens only INFs of Windows 95 or NT style
    std::string signature;
    if (const auto* version = SectionOf(file, "Version")) {
        for (const Line& l : *version) {
            if (l.hasKey && EqualsNoCase(l.key, "Signature")) {
                signature = l.Field(0);
            }
        }
    }
    if (!EqualsNoCase(signature, "$Windows NT$") && !EqualsNoCase(signature, "$Chicago$") &&
        !EqualsNoCase(signature, "$Windows 95$")) {
        return ERROR_WRONG_INF_STYLE;
    }
    *out = std::move(file);
    return 0;
}

// ---- the set of INFs ----------------------------------------------------------------------------------

InfSet::InfSet(File primary) {
    sourceRoot = primary.folder;
    files_.push_back(std::make_unique<File>(std::move(primary)));
}

DWORD InfSet::Append(const std::string& windowsPath) {
    for (const auto& f : files_) {
        if (EqualsNoCase(f->path, windowsPath)) {
            return 0;
        }
    }
    auto file = std::make_unique<File>();
    if (const DWORD error = Open(windowsPath, file.get())) {
        return error;
    }
    files_.push_back(std::move(file));
    return 0;
}

const File* InfSet::Owner(const std::string& section) const {
    for (const auto& f : files_) {
        if (SectionOf(*f, section)) {
            return f.get();
        }
    }
    return nullptr;
}

std::string InfSet::Substitute(const File& file, const std::string& text) const {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find('%', pos);
        const size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            out += text.substr(pos);
            break;
        }
        out += text.substr(pos, open - pos);
        const std::string token = text.substr(open + 1, close - open - 1);
        bool found = false;
        std::string value;
        if (token.empty()) {
            value = "%";
            found = true;
        } else if (IsDigits(token)) {
            const auto it = dirids.find(std::atoi(token.c_str()));
            found = it != dirids.end();
            value = found ? it->second : std::string();
        } else {
            value = StringIn(file, token, &found);
            for (size_t i = 0; !found && i < files_.size(); ++i) {
                value = StringIn(*files_[i], token, &found);
            }
        }
        out += found ? value : "%" + token + "%"; // an unknown token stays as written
        pos = close + 1;
    }
    return out;
}

std::vector<Line> InfSet::ReadIn(const File& file, const std::string& section) const {
    std::vector<Line> out;
    if (const auto* lines = SectionOf(file, section)) {
        for (Line line : *lines) {
            line.key = Substitute(file, line.key);
            for (std::string& f : line.fields) {
                f = Substitute(file, f);
            }
            out.push_back(std::move(line));
        }
    }
    return out;
}

std::vector<Line> InfSet::Read(const std::string& section) const {
    const File* owner = Owner(section);
    return owner ? ReadIn(*owner, section) : std::vector<Line>();
}

std::vector<std::string> InfSet::Values(const std::string& section, const std::string& key) const {
    std::vector<std::string> out;
    for (const Line& l : Read(section)) {
        if (l.hasKey && EqualsNoCase(l.key, key)) {
            out.insert(out.end(), l.fields.begin(), l.fields.end());
        }
    }
    return out;
}

// ---- directives ---------------------------------------------------------------------------------------

namespace {

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
        if (const DWORD error = RunDirectives(needed)) {
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
    return RunDirectives(section);
}

DWORD Installer::RunDirectives(const std::string& section) {
    // as a committed file queue: deletions before copies; then the registry, deletions first
    for (const std::string& list : set_.Values(section, "DelFiles")) {
        if (const DWORD error = list.empty() ? 0 : DelFiles(list)) {
            return error;
        }
    }
    if (const DWORD error = CopyFiles(section)) {
        return error;
    }
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

DWORD Installer::Destination(const File& owner, const std::string& listSection, int* dirid,
                             std::string* folder) const {
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
    *dirid = std::atoi(id.c_str());
    const auto it = set_.dirids.find(*dirid);
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
    for (const char* section : {"SourceDisksFiles.x86", "SourceDisksFiles"}) {
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
    for (const char* section : {"SourceDisksNames.x86", "SourceDisksNames"}) {
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
    int dirid = 0;
    std::string folder;
    if (const DWORD error = Destination(owner, listSection, &dirid, &folder)) {
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
    copies_.push_back(Copied{dirid, destName});
    return 0;
}

DWORD Installer::DelFiles(const std::string& listSection) {
    const File* owner = set_.Owner(listSection);
    if (!owner) {
        return ERROR_SECTION_NOT_FOUND;
    }
    int dirid = 0;
    std::string folder;
    if (const DWORD error = Destination(*owner, listSection, &dirid, &folder)) {
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

// ---- InstallHinfSection ----------------------------------------------------------------------------------

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
        candidates = {section + ".NTx86", section + ".NT"};
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
