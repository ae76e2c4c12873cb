// kqapp_picture: what the KQT-50 printed, as a picture, and whether it is the document that was sent.
//
//   kqapp_picture render DEVICE-BYTES OUT.png [PAPER-DOTS]
//       draws the bytes a device got with the receipt preview, as the printer prints them
//   kqapp_picture compare PRINTED.png SOURCE.png [MAX-DIFFERENCE]
//       compares a printed picture with the document's own picture (any resolution, grey or colour): both
//       cut to their marks, the source scaled to the printed size, both blurred over a few dots so that
//       dithering does not count; fails when the mean difference exceeds MAX-DIFFERENCE (0-255, default 24)
//       or the shapes differ
//   kqapp_picture same PRINTED.png OTHER.png
//       two prints of one document: the same marks, dot for dot (the preview's red notes left out)
#include "preview.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Grey {
    int width = 0;
    int height = 0;
    std::vector<float> v; // 0 black .. 1 white
    float At(int x, int y) const { return v[size_t(y) * size_t(width) + size_t(x)]; }
};

bool ReadPng(const char* path, Grey* out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) {
        std::fprintf(stderr, "kqapp_picture: %s: %s\n", path, image.message);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        std::fprintf(stderr, "kqapp_picture: %s: %s\n", path, image.message);
        return false;
    }
    out->width = int(image.width);
    out->height = int(image.height);
    out->v.resize(pixels.size() / 3);
    for (size_t i = 0; i < out->v.size(); ++i) {
        const uint8_t r = pixels[3 * i], g = pixels[3 * i + 1], b = pixels[3 * i + 2];
        // the preview's red marks (where the paper is cut) are its own notes, not print
        const bool mark = r > 160 && g < 100 && b < 100;
        out->v[i] = mark ? 1.0f : (0.299f * r + 0.587f * g + 0.114f * b) / 255.0f;
    }
    return true;
}

// The part of a picture that has marks (darker than half).
Grey Marks(const Grey& g) {
    int x0 = g.width, y0 = g.height, x1 = -1, y1 = -1;
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
            if (g.At(x, y) < 0.5f) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
        }
    }
    Grey out;
    if (x1 < 0) {
        return out;
    }
    out.width = x1 - x0 + 1;
    out.height = y1 - y0 + 1;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            out.v.push_back(g.At(x, y));
        }
    }
    return out;
}

// `g` at `width` x `height`, each new pixel the mean of the old ones it covers.
Grey Scale(const Grey& g, int width, int height) {
    Grey out{width, height, std::vector<float>(size_t(width) * size_t(height))};
    for (int y = 0; y < height; ++y) {
        const int sy0 = y * g.height / height;
        const int sy1 = std::max(sy0 + 1, (y + 1) * g.height / height);
        for (int x = 0; x < width; ++x) {
            const int sx0 = x * g.width / width;
            const int sx1 = std::max(sx0 + 1, (x + 1) * g.width / width);
            float sum = 0;
            for (int sy = sy0; sy < sy1; ++sy) {
                for (int sx = sx0; sx < sx1; ++sx) {
                    sum += g.At(std::min(sx, g.width - 1), std::min(sy, g.height - 1));
                }
            }
            out.v[size_t(y) * size_t(width) + size_t(x)] = sum / float((sy1 - sy0) * (sx1 - sx0));
        }
    }
    return out;
}

// Each pixel the mean of the square of `r` pixels around it: what the eye sees of a dither.
Grey Blur(const Grey& g, int r) {
    Grey out = g;
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
            float sum = 0;
            int n = 0;
            for (int dy = -r; dy <= r; ++dy) {
                for (int dx = -r; dx <= r; ++dx) {
                    const int sx = x + dx, sy = y + dy;
                    if (sx >= 0 && sy >= 0 && sx < g.width && sy < g.height) {
                        sum += g.At(sx, sy);
                        ++n;
                    }
                }
            }
            out.v[size_t(y) * size_t(g.width) + size_t(x)] = sum / float(n);
        }
    }
    return out;
}

int Render(const char* bytesPath, const char* pngPath, int paperDots) {
    std::ifstream in(bytesPath, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        std::fprintf(stderr, "kqapp_picture: %s: nothing was printed\n", bytesPath);
        return 1;
    }
    const preview::Fonts fonts = preview::Fonts::Load();
    preview::Options options;
    options.paperWidth = paperDots;
    preview::Preview p = preview::Render(bytes, fonts, options);
    for (const std::string& w : p.warnings) {
        std::fprintf(stderr, "kqapp_picture: preview: %s\n", w.c_str());
    }
    // the preview's own marks (where the paper is cut) are not printed
    std::replace(p.picture.dots.begin(), p.picture.dots.end(), uint8_t(preview::kMark), uint8_t(preview::kPaper));
    std::FILE* out = std::fopen(pngPath, "wb");
    std::string error;
    const bool ok = out && preview::WritePng(p.picture, out, &error);
    if (out) {
        std::fclose(out);
    }
    if (!ok) {
        std::fprintf(stderr, "kqapp_picture: %s: %s\n", pngPath, error.c_str());
        return 1;
    }
    std::printf("%s: %d x %d dots\n", pngPath, p.picture.width, p.picture.height);
    return 0;
}

int Compare(const char* printedPath, const char* sourcePath, double maxDifference) {
    Grey printed;
    Grey source;
    if (!ReadPng(printedPath, &printed) || !ReadPng(sourcePath, &source)) {
        return 1;
    }
    // marks as the eye sees them: a dithered light grey is no mark, as the grey itself is not
    const Grey p = Marks(Blur(printed, 3));
    const Grey s = Marks(source);
    if (p.v.empty() || s.v.empty()) {
        std::fprintf(stderr, "kqapp_picture: %s has no marks\n", p.v.empty() ? printedPath : sourcePath);
        return 1;
    }
    // the same document printed keeps its proportions
    const double shape = (double(p.width) / p.height) / (double(s.width) / s.height);
    const Grey& a = p;
    const Grey b = Blur(Scale(s, p.width, p.height), 3);
    double diff = 0;
    for (size_t i = 0; i < a.v.size(); ++i) {
        diff += std::fabs(a.v[i] - b.v[i]);
    }
    diff = diff / double(a.v.size()) * 255.0;
    std::printf("printed marks %d x %d, source marks %d x %d (scaled), shape ratio %.3f, mean difference %.1f "
                "of 255\n",
                p.width, p.height, s.width, s.height, shape, diff);
    if (std::fabs(shape - 1.0) > 0.04 || diff > maxDifference) {
        std::fprintf(stderr, "kqapp_picture: %s is not %s (shape ratio %.3f, difference %.1f > %.1f)\n",
                     printedPath, sourcePath, shape, diff, maxDifference);
        return 1;
    }
    return 0;
}

int Same(const char* aPath, const char* bPath) {
    Grey a;
    Grey b;
    if (!ReadPng(aPath, &a) || !ReadPng(bPath, &b)) {
        return 1;
    }
    const Grey ma = Marks(a);
    const Grey mb = Marks(b);
    if (ma.width != mb.width || ma.height != mb.height) {
        std::fprintf(stderr, "kqapp_picture: %s has marks of %d x %d dots, %s of %d x %d\n", aPath, ma.width,
                     ma.height, bPath, mb.width, mb.height);
        return 1;
    }
    size_t differ = 0;
    for (size_t i = 0; i < ma.v.size(); ++i) {
        differ += (ma.v[i] < 0.5f) != (mb.v[i] < 0.5f);
    }
    std::printf("marks %d x %d dots, %zu dot(s) differ\n", ma.width, ma.height, differ);
    return differ == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "render" && (argc == 4 || argc == 5)) {
        return Render(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 576);
    }
    if (command == "compare" && (argc == 4 || argc == 5)) {
        return Compare(argv[2], argv[3], argc == 5 ? std::atof(argv[4]) : 24.0);
    }
    if (command == "same" && argc == 4) {
        return Same(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: kqapp_picture render DEVICE-BYTES OUT.png [PAPER-DOTS]\n"
                         "       kqapp_picture compare PRINTED.png SOURCE.png [MAX-DIFFERENCE]\n"
                         "       kqapp_picture same PRINTED.png OTHER.png\n");
    return 2;
}
