#include "fonts.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

namespace preview {
namespace {

// The whole file, inflated when it is gzip-compressed (gzread passes plain files through).
bool ReadAll(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
    const std::unique_ptr<gzFile_s, int (*)(gzFile)> file(gzopen(path.c_str(), "rb"), gzclose);
    if (!file) {
        *error = path + ": " + std::strerror(errno ? errno : ENOENT);
        return false;
    }
    uint8_t chunk[1 << 15];
    for (;;) {
        const int n = gzread(file.get(), chunk, sizeof(chunk));
        if (n < 0) {
            *error = path + ": cannot be read";
            return false;
        }
        if (n == 0) {
            return true;
        }
        out->insert(out->end(), chunk, chunk + n);
        if (out->size() > (64u << 20)) {
            *error = path + ": too large for a font";
            return false;
        }
    }
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

Glyph Unpack(const uint8_t* bits, int width, int height) {
    Glyph g{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height)};
    const int stride = (width + 7) / 8;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            g.dots[static_cast<size_t>(y) * width + x] = (bits[y * stride + x / 8] >> (7 - x % 8)) & 1;
        }
    }
    return g;
}

// Decodes one UTF-8 sequence at `p` (< end); 0 on a malformed one. Advances `p`.
char32_t NextUtf8(const uint8_t*& p, const uint8_t* end) {
    const uint8_t lead = *p++;
    int more = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
    if (more < 0) {
        return 0;
    }
    char32_t c = more == 0 ? lead : lead & (0x3F >> more);
    for (; more > 0; --more) {
        if (p == end || (*p & 0xC0) != 0x80) {
            return 0;
        }
        c = c << 6 | (*p++ & 0x3F);
    }
    return c;
}

} // namespace

const Glyph* BitmapFont::Find(char32_t c) const {
    const auto it = index_.find(c);
    return it == index_.end() ? nullptr : &glyphs_[it->second];
}

void BitmapFont::Add(char32_t c, Glyph glyph) {
    index_[c] = glyphs_.size();
    glyphs_.push_back(std::move(glyph));
}

BitmapFont BitmapFont::LoadPsf(const std::string& path, std::string* error) {
    BitmapFont font;
    std::vector<uint8_t> data;
    if (!ReadAll(path, &data, error)) {
        return font;
    }
    const uint8_t* const end = data.data() + data.size();
    uint32_t count = 0, charSize = 0, width = 0, height = 0, header = 0;
    bool unicode = false, psf2 = false;
    if (data.size() >= 4 && data[0] == 0x36 && data[1] == 0x04) {
        count = data[2] & 1 ? 512 : 256;
        unicode = (data[2] & 6) != 0;
        charSize = height = data[3];
        width = 8;
        header = 4;
    } else if (data.size() >= 32 && Le32(data.data()) == 0x864AB572) {
        psf2 = true;
        header = Le32(&data[8]);
        unicode = (Le32(&data[12]) & 1) != 0;
        count = Le32(&data[16]);
        charSize = Le32(&data[20]);
        height = Le32(&data[24]);
        width = Le32(&data[28]);
    } else {
        *error = path + ": not a PC Screen Font";
        return font;
    }
    if (width == 0 || width > 64 || height == 0 || height > 64 || charSize != (width + 7) / 8 * height ||
        header > data.size() || count > (data.size() - header) / charSize) {
        *error = path + ": damaged font header";
        return font;
    }
    std::vector<Glyph> glyphs;
    for (uint32_t i = 0; i < count; ++i) {
        glyphs.push_back(Unpack(&data[header + i * charSize], int(width), int(height)));
    }
    if (!unicode) {
        for (uint32_t i = 0; i < count && i < 128; ++i) {
            font.Add(i, glyphs[i]);
        }
        return font;
    }
    // The Unicode table: per glyph its code points, then (after a separator) sequences, then a terminator.
    const uint8_t* p = &data[header + count * charSize];
    for (uint32_t i = 0; i < count && p < end; ++i) {
        bool sequences = false;
        while (p < end) {
            if (psf2) {
                if (*p == 0xFF) {
                    ++p;
                    break;
                }
                if (*p == 0xFE) {
                    sequences = true;
                    ++p;
                    continue;
                }
                const char32_t c = NextUtf8(p, end);
                if (!sequences && c != 0 && !font.Find(c)) {
                    font.Add(c, glyphs[i]);
                }
            } else {
                if (end - p < 2) {
                    p = end;
                    break;
                }
                const char32_t c = p[0] | p[1] << 8;
                p += 2;
                if (c == 0xFFFF) {
                    break;
                }
                if (c == 0xFFFE) {
                    sequences = true;
                } else if (!sequences && !font.Find(c)) {
                    font.Add(c, glyphs[i]);
                }
            }
        }
    }
    return font;
}

BitmapFont BitmapFont::LoadHex(const std::string& path, std::string* error) {
    BitmapFont font;
    std::ifstream in(path);
    if (!in) {
        *error = path + ": " + std::strerror(errno ? errno : ENOENT);
        return font;
    }
    auto hex = [](char h) { return h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10; };
    std::string line;
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon > 6) {
            continue;
        }
        const std::string digits = line.substr(colon + 1);
        if ((digits.size() != 32 && digits.size() != 64) ||
            digits.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
            continue;
        }
        const char32_t c = static_cast<char32_t>(std::strtoul(line.substr(0, colon).c_str(), nullptr, 16));
        uint8_t bits[32];
        for (size_t i = 0; i < digits.size() / 2; ++i) {
            bits[i] = static_cast<uint8_t>(hex(digits[2 * i]) << 4 | hex(digits[2 * i + 1]));
        }
        font.Add(c, Unpack(bits, digits.size() == 32 ? 8 : 16, 16));
    }
    if (font.empty()) {
        *error = path + ": no glyphs";
    }
    return font;
}

Fonts Fonts::Load(const FontFiles& files) {
    Fonts fonts;
    const std::pair<BitmapFont*, const std::string*> psf[] = {{&fonts.a, &files.fontA},
                                                              {&fonts.aBold, &files.fontABold},
                                                              {&fonts.b, &files.fontB},
                                                              {&fonts.bBold, &files.fontBBold}};
    for (const auto& [font, path] : psf) {
        std::string error;
        *font = BitmapFont::LoadPsf(*path, &error);
        if (font->empty()) {
            fonts.missing.push_back(error);
        }
    }
    std::string error;
    fonts.unifont = BitmapFont::LoadHex(files.unifont, &error);
    if (fonts.unifont.empty()) {
        fonts.missing.push_back(error);
    }
    return fonts;
}

} // namespace preview
