// The registry hive: keys and values below the machine's folder, in one text file written back after every
// change. advapi32's Reg* calls and the DLLs that keep their registrations in the registry read and write it.
#include "machine.h"

#include "hex.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace kqwin {
namespace {

std::string Escape(std::string_view s) {
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c > 0x7E || c == '%' || c == '[' || c == ']') {
            char buf[4];
            std::snprintf(buf, sizeof(buf), "%%%02X", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string Unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const std::string hex(s.substr(i + 1, 2));
            out += static_cast<char>(std::strtoul(hex.c_str(), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<BYTE> FromHex(std::string_view s) {
    std::vector<BYTE> out;
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        out.push_back(static_cast<BYTE>(std::strtoul(std::string(s.substr(i, 2)).c_str(), nullptr, 16)));
    }
    return out;
}

std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

Registry& Hive() {
    LoadMachine();
    static Registry registry;
    return registry;
}

void Registry::Load(const std::string& file) {
    std::lock_guard lock(mutex_);
    file_ = file;
    keys_.clear();
    std::ifstream in(file);
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            const std::string path = Unescape(line.substr(1, line.size() - 2));
            keys_.push_back(Key{path, LowerAscii(path), {}});
            current = &keys_.back();
            continue;
        }
        const size_t t1 = line.find('\t');
        const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        if (!current || t2 == std::string::npos) {
            continue;
        }
        Value v;
        v.name = Unescape(line.substr(0, t1));
        v.type = static_cast<DWORD>(std::strtoul(line.substr(t1 + 1, t2 - t1 - 1).c_str(), nullptr, 10));
        v.data = FromHex(line.substr(t2 + 1));
        current->values.push_back(std::move(v));
    }
    Sort();
}

void Registry::Sort() {
    std::sort(keys_.begin(), keys_.end(), [](const Key& a, const Key& b) { return a.lower < b.lower; });
}

void Registry::Save() {
    if (file_.empty()) {
        return;
    }
    const std::string tmp = file_ + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        for (const Key& key : keys_) {
            out << '[' << Escape(key.path) << "]\n";
            for (const Value& v : key.values) {
                out << Escape(v.name) << '\t' << v.type << '\t' << kqkit::Hex(v.data) << '\n';
            }
        }
    }
    std::rename(tmp.c_str(), file_.c_str());
}

namespace {

const Registry::Value* Named(const std::vector<Registry::Value>& values, std::string_view name) {
    for (const Registry::Value& v : values) {
        if (EqualsNoCase(v.name, name)) {
            return &v;
        }
    }
    return nullptr;
}

// Orders a lower-case path against a path of any case, as LowerAscii(path) would order, without the copy.
int CompareLowered(std::string_view lower, std::string_view path) {
    const size_t n = std::min(lower.size(), path.size());
    for (size_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(lower[i]);
        const auto b = static_cast<unsigned char>(AsciiLower(path[i]));
        if (a != b) {
            return a < b ? -1 : 1;
        }
    }
    return lower.size() == path.size() ? 0 : (lower.size() < path.size() ? -1 : 1);
}

} // namespace

Registry::Key* Registry::Find(const std::string& path) {
    auto it = std::lower_bound(keys_.begin(), keys_.end(), path,
                               [](const Key& k, const std::string& p) { return CompareLowered(k.lower, p) < 0; });
    return (it != keys_.end() && CompareLowered(it->lower, path) == 0) ? &*it : nullptr;
}

bool Registry::KeyExists(const std::string& path) {
    std::lock_guard lock(mutex_);
    return Find(path) != nullptr;
}

bool Registry::CreateKey(const std::string& path, bool* created) {
    std::lock_guard lock(mutex_);
    if (created) {
        *created = false;
    }
    if (Find(path)) {
        return true;
    }
    // make every missing key on the way down
    std::vector<std::string> chain;
    for (std::string p = path; !p.empty() && !Find(p); p = Parent(p)) {
        chain.push_back(p);
    }
    for (const std::string& p : chain) {
        keys_.push_back(Key{p, LowerAscii(p), {}});
    }
    Sort();
    if (created) {
        *created = true;
    }
    Save();
    return true;
}

std::vector<std::string> Registry::SubKeys(const std::string& path) {
    std::lock_guard lock(mutex_);
    const std::string prefix = LowerAscii(path) + "\\";
    std::vector<std::string> out;
    for (const Key& k : keys_) {
        const std::string& lower = k.lower;
        if (lower.compare(0, prefix.size(), prefix) == 0 && lower.find('\\', prefix.size()) == std::string::npos) {
            out.push_back(k.path.substr(prefix.size()));
        }
    }
    return out;
}

LONG Registry::DeleteKey(const std::string& path) {
    std::lock_guard lock(mutex_);
    Key* key = Find(path);
    if (!key) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string prefix = LowerAscii(path) + "\\";
    for (const Key& k : keys_) {
        if (k.lower.compare(0, prefix.size(), prefix) == 0) {
            return ERROR_ACCESS_DENIED; // a key with subkeys is not deleted
        }
    }
    keys_.erase(keys_.begin() + (key - keys_.data()));
    Save();
    return ERROR_SUCCESS;
}

void Registry::DeleteTree(const std::string& path) {
    std::lock_guard lock(mutex_);
    const std::string lower = LowerAscii(path);
    const std::string prefix = lower + "\\";
    keys_.erase(std::remove_if(keys_.begin(), keys_.end(),
                               [&](const Key& k) {
                                   return k.lower == lower || k.lower.compare(0, prefix.size(), prefix) == 0;
                               }),
                keys_.end());
    Save();
}

bool Registry::SetValue(const std::string& path, const std::string& name, DWORD type, const BYTE* data,
                        size_t size) {
    std::lock_guard lock(mutex_);
    Key* key = Find(path);
    if (!key) {
        return false;
    }
    Value v{name, type, std::vector<BYTE>(data, data + size)};
    auto it = std::find_if(key->values.begin(), key->values.end(),
                           [&](const Value& x) { return EqualsNoCase(x.name, name); });
    if (it != key->values.end()) {
        *it = std::move(v);
    } else {
        key->values.push_back(std::move(v));
    }
    Save();
    return true;
}

bool Registry::GetValue(const std::string& path, const std::string& name, Value* out) {
    std::lock_guard lock(mutex_);
    Key* key = Find(path);
    if (!key) {
        return false;
    }
    const Value* v = Named(key->values, name);
    if (v && out) {
        *out = *v;
    }
    return v != nullptr;
}

bool Registry::DeleteValue(const std::string& path, const std::string& name) {
    std::lock_guard lock(mutex_);
    Key* key = Find(path);
    if (!key) {
        return false;
    }
    const auto before = key->values.size();
    key->values.erase(std::remove_if(key->values.begin(), key->values.end(),
                                     [&](const Value& x) { return EqualsNoCase(x.name, name); }),
                      key->values.end());
    if (key->values.size() == before) {
        return false;
    }
    Save();
    return true;
}

namespace {

std::string AsString(const Registry::Value& v) {
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ && v.type != REG_MULTI_SZ) {
        return {};
    }
    std::string s(v.data.begin(), v.data.end());
    const size_t nul = s.find('\0');
    return nul == std::string::npos ? s : s.substr(0, nul);
}

DWORD AsDword(const Registry::Value& v, DWORD fallback) {
    if (v.type != REG_DWORD || v.data.size() != 4) {
        return fallback;
    }
    DWORD d;
    std::memcpy(&d, v.data.data(), 4);
    return d;
}

} // namespace

std::string Registry::GetString(const std::string& path, const std::string& name) {
    Value v;
    return GetValue(path, name, &v) ? AsString(v) : std::string();
}

DWORD Registry::GetDword(const std::string& path, const std::string& name, DWORD fallback) {
    Value v;
    return GetValue(path, name, &v) ? AsDword(v, fallback) : fallback;
}

std::optional<std::vector<Registry::Value>> Registry::GetValues(const std::string& path) {
    std::lock_guard lock(mutex_);
    const Key* key = Find(path);
    if (!key) {
        return std::nullopt;
    }
    return key->values;
}

std::string Registry::StringIn(const std::vector<Value>& values, std::string_view name) {
    const Value* v = Named(values, name);
    return v ? AsString(*v) : std::string();
}

DWORD Registry::DwordIn(const std::vector<Value>& values, std::string_view name, DWORD fallback) {
    const Value* v = Named(values, name);
    return v ? AsDword(*v, fallback) : fallback;
}

void Registry::SetString(const std::string& path, const std::string& name, const std::string& value) {
    SetValue(path, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), value.size() + 1);
}

void Registry::SetDword(const std::string& path, const std::string& name, DWORD value) {
    BYTE data[4];
    std::memcpy(data, &value, 4);
    SetValue(path, name, REG_DWORD, data, 4);
}


} // namespace kqwin
