#include "preview.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace preview {
namespace {

void OnError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = message;
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// libpng unwinds with longjmp: nothing with a destructor may live in the frame that calls setjmp.
bool Write(png_structp png, png_infop info, const Picture& picture, std::FILE* out) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height),
                 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    static const png_color kPalette[] = {{255, 255, 255}, {0, 0, 0}, {220, 0, 0}};
    png_set_PLTE(png, info, kPalette, 3);
    // 8 dots a millimetre across
    png_set_pHYs(png, info, 8000, 8000, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int y = 0; y < picture.height; ++y) {
        png_write_row(png, &picture.dots[static_cast<size_t>(y) * picture.width]);
    }
    png_write_end(png, info);
    return true;
}

} // namespace

bool WritePng(const Picture& picture, std::FILE* out, std::string* error) {
    if (picture.width <= 0 || picture.height <= 0) {
        *error = "the picture is empty";
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "out of memory";
        return false;
    }
    const bool ok = Write(png, info, picture, out);
    png_destroy_write_struct(&png, &info);
    if (ok && (std::fflush(out) != 0 || std::ferror(out))) {
        *error = "write error";
        return false;
    }
    return ok;
}

} // namespace preview
