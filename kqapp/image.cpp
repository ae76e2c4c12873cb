#include "image.h"

#include <png.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace kqapp {
namespace {

struct OptionsDeleter {
    void operator()(pappl_pr_options_t* o) const { papplJobDeletePrintOptions(o); }
};

// libpng's simplified reader, freed however the job ends
class PngReader {
  public:
    PngReader() {
        image_.version = PNG_IMAGE_VERSION;
    }
    ~PngReader() { png_image_free(&image_); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    png_image& image() { return image_; }
    std::string message() const { return image_.message[0] ? image_.message : "unknown error"; }

  private:
    png_image image_{};
};

bool Refuse(pappl_job_t* job, pappl_jreason_t reason, const std::string& why) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
    papplJobSetMessage(job, "%s", why.c_str());
    papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
    return false;
}

uint32_t BigEndian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

} // namespace

int PngPixelsPerInch(const uint8_t* data, size_t size) {
    constexpr size_t kSignature = 8;
    size_t at = kSignature;
    while (size >= 12 && at <= size - 12) { // length, type, (data), CRC
        const uint32_t length = BigEndian(data + at);
        const uint8_t* type = data + at + 4;
        if (std::memcmp(type, "IDAT", 4) == 0 || length > size - at - 12) {
            return 0;
        }
        if (std::memcmp(type, "pHYs", 4) == 0) {
            if (length != 9) {
                return 0;
            }
            const uint32_t x = BigEndian(type + 4);
            const uint32_t y = BigEndian(type + 8);
            const bool metres = type[12] == 1;
            // non-square pixels print square: no resolution then
            return metres && x == y ? int(std::lround(double(x) * 0.0254)) : 0;
        }
        at += 12 + size_t(length);
    }
    return 0;
}

std::optional<std::string> OverImageLimits(int width, int height, int depth, size_t maxBytes, int maxWidth,
                                           int maxHeight) {
    const auto bytes = uint64_t(uint32_t(width)) * uint64_t(uint32_t(height)) * uint64_t(uint32_t(depth));
    if (width < 1 || height < 1 || (width <= maxWidth && height <= maxHeight && bytes <= maxBytes)) {
        return std::nullopt; // a picture without pixels is the reader's to refuse
    }
    return "The picture is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels; the printer takes pictures of up to " + std::to_string(maxWidth) + " x " +
           std::to_string(maxHeight) + " pixels and " + std::to_string(maxBytes >> 20) + " MiB.";
}

bool FilterPng(pappl_job_t* job, pappl_device_t* device, void*) {
    const char* file = papplJobGetFilename(job);
    PngReader reader;
    png_image& png = reader.image();
    if (!file || !png_image_begin_read_from_file(&png, file)) {
        return Refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                      "The document is not a PNG picture that can be read: " + reader.message() + ".");
    }
    const bool color = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
    const int depth = color ? 3 : 1;
    int maxWidth = 0;
    int maxHeight = 0;
    const size_t maxBytes =
        papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)), &maxWidth, &maxHeight);
    if (const std::optional<std::string> why =
            OverImageLimits(int(std::min<png_uint_32>(png.width, 1u << 30)),
                            int(std::min<png_uint_32>(png.height, 1u << 30)), depth, maxBytes, maxWidth, maxHeight)) {
        return Refuse(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, *why);
    }
    png.format = color ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY; // transparency over white paper
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
    png_color paper{255, 255, 255};
    if (!png_image_finish_read(&png, &paper, pixels.data(), 0, nullptr)) {
        return Refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                      "The PNG picture cannot be read: " + reader.message() + ".");
    }
    int ppi = 0;
    if (const int fd = open(file, O_RDONLY | O_CLOEXEC); fd >= 0) {
        uint8_t head[4096];
        const ssize_t n = read(fd, head, sizeof(head));
        close(fd);
        ppi = n > 0 ? PngPixelsPerInch(head, size_t(n)) : 0;
    }
    const std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(papplJobCreatePrintOptions(job, 1, color));
    if (!options) {
        return Refuse(job, PAPPL_JREASON_ERRORS_DETECTED, "The job's print options cannot be made.");
    }
    return papplJobFilterImage(job, device, options.get(), pixels.data(), int(png.width), int(png.height), depth, ppi,
                               false);
}

} // namespace kqapp
