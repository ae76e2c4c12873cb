// Job generators for the benchmarks, and what KQPRINT must make of each job: its writes and bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kqbench {

enum class Shape {
    Text,    // plain text lines with short style commands
    Receipt, // text, barcodes, a logo and a signature as raster bands with feeds, cuts
    Raster,  // raster bands only, with feeds, ended page by page
};

const char* ShapeName(Shape shape);

// What KQPRINT must write for a job: every count follows from the command rules (plain bytes in batches
// of up to 256, flushed before each command; one write per command passed on; one write per page image).
struct Expected {
    uint64_t writes = 0;
    uint64_t bytesOut = 0;
    uint64_t pageImages = 0;
    uint64_t largestImage = 0; // bytes of the largest page image write (header included)
    uint64_t bands = 0;        // GS v 0 images in the job
};

struct Job {
    std::vector<uint8_t> bytes;
    Expected kqprint;
};

// A job of exactly `size` bytes of the given shape, for a printer of `verticalDpi` dots per inch.
Job MakeJob(Shape shape, size_t size, int verticalDpi = 203);

// What the bare pass-through processor writes for a job of `size` bytes.
Expected BareExpected(size_t size);

} // namespace kqbench
