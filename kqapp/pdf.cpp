#include "pdf.h"

#include "drivers.h"
#include "printjob.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace kqapp {
namespace {

// Rows drawn at a time: what a page holds in memory is one strip, however long the page.
constexpr int kStripRows = 512;

struct OptionsDeleter {
    void operator()(pappl_pr_options_t* o) const { papplJobDeletePrintOptions(o); }
};

bool Refuse(pappl_job_t* job, pappl_jreason_t reason, const char* why) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why);
    papplJobSetMessage(job, "%s", why);
    papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
    return false;
}

} // namespace

bool FilterPdf(pappl_job_t* job, pappl_device_t* device, void*) {
    const char* file = papplJobGetFilename(job);
    if (!file) {
        return Refuse(job, PAPPL_JREASON_JOB_DATA_INSUFFICIENT, "The job has no document.");
    }
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(file));
    if (!doc) {
        return Refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "The document is not a PDF file Poppler can read.");
    }
    if (doc->is_locked()) {
        return Refuse(job, PAPPL_JREASON_DOCUMENT_PASSWORD_ERROR, "The PDF document is locked with a password.");
    }
    const int count = doc->pages();
    const std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
        papplJobCreatePrintOptions(job, unsigned(std::max(count, 0)), false));
    if (!options || count <= 0) {
        return Refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "The PDF document has no pages.");
    }
    const Model& model = ModelOf(papplJobGetPrinter(job));
    const int first = int(std::max(1u, options->first_page));
    const int last = int(std::min<unsigned>(unsigned(count), options->last_page));
    const int copies = std::max(1, options->copies);
    papplJobSetImpressions(job, std::max(0, last - first + 1) * copies);

    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_gray8);
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    // the whole width of the paper at the printer's resolution; the head prints the middle of it
    const int paperDots = int(std::lround(model.paperMm * kDpi / 25.4));

    RasterJob* raster = BeginRasterJob(job, options.get(), device);
    if (!raster) {
        return false;
    }
    bool ok = true;
    for (int copy = 0; ok && copy < copies; ++copy) {
        for (int n = first; ok && n <= last && !papplJobIsCanceled(job); ++n) {
            const std::unique_ptr<poppler::page> page(doc->create_page(n - 1));
            if (!page) {
                ok = Refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "A page of the PDF document cannot be read.");
                break;
            }
            const poppler::rectf box = page->page_rect();
            const bool turned = page->orientation() == poppler::page::landscape ||
                                page->orientation() == poppler::page::seascape;
            const double widthPt = turned ? box.height() : box.width();
            const double heightPt = turned ? box.width() : box.height();
            if (widthPt <= 0 || heightPt <= 0) {
                ok = Refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "A page of the PDF document has no size.");
                break;
            }
            // the page fitted to the paper's width
            const double resolution = paperDots * 72.0 / widthPt;
            PageFormat format;
            format.width = paperDots;
            format.height = int(std::min(std::ceil(heightPt * resolution / 72.0), double(1 << 30)));
            format.printableDots = model.printableDots;
            format.maxRows = MaxRows(model);
            format.dither = DitherFor(ContentFor(job, options.get(), unsigned(n)), options->print_color_mode,
                                      kPdfFormat);
            ok = RasterJobPage(raster, format);
            std::vector<uint8_t> white(size_t(format.width), 255);
            for (int y = 0; ok && y < format.height && !papplJobIsCanceled(job); y += kStripRows) {
                const int rows = std::min(kStripRows, format.height - y);
                const poppler::image strip =
                    renderer.render_page(page.get(), resolution, resolution, 0, y, format.width, rows);
                const bool drawn = strip.is_valid() && strip.format() == poppler::image::format_gray8;
                for (int r = 0; ok && r < rows; ++r) {
                    const uint8_t* line = white.data();
                    if (drawn && r < strip.height() && strip.width() >= format.width) {
                        line = reinterpret_cast<const uint8_t*>(strip.const_data()) + size_t(r) * size_t(strip.bytes_per_row());
                    }
                    ok = RasterJobLine(raster, line);
                }
            }
            ok = ok && RasterJobEndPage(raster);
            papplJobSetImpressionsCompleted(job, 1);
        }
    }
    return FinishRasterJob(raster) && ok;
}

} // namespace kqapp
