// Windows paths on the simulated disk: drive letters are folders below the machine's folder.
#include "machine.h"

#include <sys/stat.h>

#include <cerrno>

namespace kqwin {

bool MakeDirs(const std::string& hostDir) {
    if (hostDir.empty()) {
        return false;
    }
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = hostDir.find('/', pos + 1);
        partial = hostDir.substr(0, pos);
        if (!partial.empty() && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

std::string MapPath(std::string_view path) {
    if (!path.empty() && path[0] == '/') {
        return std::string(path);
    }
    std::string rest;
    std::string out;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        out = RootFolder() + "/" + LowerAscii(path.substr(0, 1));
        rest = LowerAscii(path.substr(2));
        if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) {
            out += '/';
        }
    } else {
        rest = std::string(path);
    }
    for (char& c : rest) {
        if (c == '\\') {
            c = '/';
        }
    }
    return out + rest;
}

std::string JoinPath(const std::string& folder, const std::string& rest) {
    std::vector<std::string> parts;
    auto add = [&parts](const std::string& path) {
        size_t start = 0;
        while (start <= path.size()) {
            const size_t end = path.find_first_of("\\/", start);
            const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (part == "..") {
                if (parts.size() > 1) { // never above the drive
                    parts.pop_back();
                }
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    };
    const bool absolute = rest.size() >= 2 && rest[1] == ':';
    if (!absolute) {
        add(folder);
    }
    add(rest);
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        out += (i ? "\\" : "") + parts[i];
    }
    return parts.size() == 1 ? out + "\\" : out;
}

std::string FullPath(const std::string& path, const std::string& base) {
    if (path.size() >= 2 && path[1] == ':') {
        return JoinPath(std::string(), path);
    }
    if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
        return JoinPath(base.substr(0, 2), path);
    }
    return JoinPath(base, path);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('\\');
    if (slash == std::string::npos) {
        return "C:\\";
    }
    return slash <= 2 ? path.substr(0, slash + 1) : path.substr(0, slash);
}

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD lastError = GetLastError();
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    SetLastError(lastError);
    return FolderOf(std::string(path, n < MAX_PATH ? n : 0));
}

PathKind KindOf(const std::string& windowsPath) {
    struct stat st{};
    if (stat(MapPath(windowsPath).c_str(), &st) != 0) {
        return PathKind::Missing;
    }
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

} // namespace kqwin
