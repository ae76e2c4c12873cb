// What the KQPRINT print processor is to send for a job, worked out from the job's commands as the
// escpos decoder splits them: the writes of every copy pass, in order.
//
// Text runs go out in batches of up to 256 bytes, each command in one write of its own bytes, except
// where the processor changes the stream: ESC P directives are consumed (end of page sends the page
// image and ESC J 238, end of document GS V 255 when a cut was asked for and ESC 2); ESC i becomes
// GS V 1; GS k data is cleaned; GS v 0 images are kept as bands, a feed that follows a band becomes
// blank rows (VerticalDpi * (feed - band rows) / 180), and the bands of a page go out as one image.
#pragma once

#include "escpos.h"

#include <string>
#include <vector>

namespace e2e {

struct Expected {
    std::vector<escpos::Bytes> writes;
    // Page images in the order they are sent.
    std::vector<escpos::Bitmap> images;
    // For each page that an end-of-page directive ends (every pass): the page images sent while it
    // printed, by feeds and by the directive.
    std::vector<int> imagesPerPage;
    // For the same pages: the GS v 0 bands of the job on that page.
    std::vector<int> bandsPerPage;
    // Empty, or why the job holds something this model does not cover.
    std::string error;
};

Expected ExpectedOutput(const escpos::Bytes& job, int dpi, unsigned copies);

} // namespace e2e
