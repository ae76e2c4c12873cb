// PNG pictures, read by the application itself rather than by PAPPL's own filter: a picture larger than
// the system's image limits is refused from its header, before any of it is read, and a picture cut short
// or damaged ends its job with the reason.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kqapp {

inline constexpr char kPngFormat[] = "image/png";

// The picture's resolution from its pHYs chunk, in pixels per inch; 0 when it has none (or it is not in
// metres). Reads the chunks before the picture's data only.
int PngPixelsPerInch(const uint8_t* data, size_t size);

// Why a picture of `width` x `height` pixels, `depth` bytes each, is over the limits; nothing when it is not.
std::optional<std::string> OverImageLimits(int width, int height, int depth, size_t maxBytes, int maxWidth,
                                           int maxHeight);

// The application's filter for image/png.
bool FilterPng(pappl_job_t* job, pappl_device_t* device, void* data);

} // namespace kqapp
