#include "outputs.h"

#include "hex.h"
#include "preview.h"

#include <cerrno>
#include <cstring>
#include <span>

namespace kqspool {

bool WriteTrace::Open(const std::string& path) {
    file_ = path == "-" ? stdout : std::fopen(path.c_str(), "w");
    if (!file_) {
        std::fprintf(stderr, "kqspool: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void WriteTrace::Write(const BYTE* bytes, DWORD count) {
    if (!file_) {
        return;
    }
    std::string line = std::to_string(count) + " ";
    kqkit::AppendHex(line, std::span(bytes, count));
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file_);
}

void WriteTrace::Close() {
    if (file_ && file_ != stdout) {
        std::fclose(file_);
    }
    file_ = nullptr;
}

PreviewFile::PreviewFile(std::string path) : path_(std::move(path)), file_(std::fopen(path_.c_str(), "wb")) {
    if (!file_) {
        openError_ = errno;
    }
}

PreviewFile::~PreviewFile() {
    if (file_ && std::fclose(file_) == 0 && kept_) {
        return;
    }
    if (file_) {
        std::remove(path_.c_str());
    }
}

bool PreviewFile::Opened() const {
    if (!file_) {
        std::fprintf(stderr, "kqspool: %s: cannot write the preview: %s\n", path_.c_str(),
                     std::strerror(openError_));
    }
    return file_ != nullptr;
}

bool PreviewFile::Write(const std::vector<BYTE>& received, int paperWidth, int dpi) {
    const preview::Fonts fonts = preview::Fonts::Load();
    const preview::Preview drawn = preview::Render(received, fonts, {paperWidth, dpi});
    for (const std::string& warning : drawn.warnings) {
        std::fprintf(stderr, "kqspool: warning: preview: %s\n", warning.c_str());
    }
    std::string error;
    if (!preview::WritePng(drawn.picture, file_, &error)) {
        std::fprintf(stderr, "kqspool: %s: cannot write the preview: %s\n", path_.c_str(), error.c_str());
        return false;
    }
    std::fprintf(stderr, "kqspool: preview %s: %d x %d dots (%.1f x %.1f mm)\n", path_.c_str(),
                 drawn.picture.width, drawn.picture.height, drawn.picture.width / 8.0,
                 drawn.picture.height * 25.4 / dpi);
    kept_ = true;
    return true;
}

} // namespace kqspool
