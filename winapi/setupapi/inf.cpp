// INF files as setupapi reads them: the parser, a set of INFs joined by Include=, and string substitution.
#include "setupapi_private.h"

#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kqwin::inf {
namespace {

constexpr size_t kMaxSectionName = 255;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

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

} // namespace

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

bool IsDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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

} // namespace kqwin::inf

