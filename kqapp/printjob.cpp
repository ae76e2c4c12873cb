#include "printjob.h"

#include "devices.h"
#include "drivers.h"
#include "spool.h"
#include "status.h"
#include "stops.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>

namespace kqapp {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a job waits, at its end, for the printer to answer after its last byte when nothing says the
// printer stopped: a printer that never answers does not hold the queue.
constexpr auto kAnswerWait = 10s;
// How often a job that waits for the printer to be seen to asks it again.
constexpr auto kAskAgain = 2s;

void SetPaper(pappl_printer_t* printer, int level) {
    pappl_supply_t paper{};
    paper.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
    std::snprintf(paper.description, sizeof(paper.description), "Receipt paper roll");
    paper.is_consumed = true;
    paper.level = level;
    paper.type = PAPPL_SUPPLY_TYPE_OTHER;
    papplPrinterSetSupplies(printer, 1, &paper);
}

// What the printer says, shown where IPP clients look: the printer's state reasons and paper level.
void ShowStatus(pappl_printer_t* printer, const StatusReader& reader, bool answered) {
    papplPrinterSetReasons(printer, ReasonsOf(reader.status(), answered), kStatusReasons);
    if (answered) {
        SetPaper(printer, PaperLevel(reader.status()));
    }
}

// A job's dealings with its device: the printer's status before the first byte and after the last, and
// while the bytes go out, what it says and whether it takes them, shown on the printer and the job. The job
// holds the device's connection itself from its start (see AcquireConnection).
class JobSession final : public DeviceWatch {
  public:
    JobSession(pappl_job_t* job, pappl_device_t* device)
        : job_(job), printer_(papplJobGetPrinter(job)), connection_(AcquireConnection(device, printer_)) {
        if (connection_) {
            connection_->SetWatch(this);
        }
    }
    ~JobSession() {
        if (connection_) {
            connection_->SetWatch(nullptr);
        }
        papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED); // the job waits no more
    }
    JobSession(const JobSession&) = delete;
    JobSession& operator=(const JobSession&) = delete;

    bool ok() const { return connection_ != nullptr; }

    // Before the first byte: the printer's automatic status back on and its status asked. While it says it
    // cannot print, the job waits, stopped, for it; false when the job was cancelled meanwhile.
    bool Begin() {
        if (!TwoWay()) {
            return ok();
        }
        connection_->Send(AutoStatusOn());
        const bool answered = connection_->Query(1s);
        if (!answered) {
            papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "The printer did not answer its status request.");
        }
        ShowStatus(printer_, connection_->status(), answered);
        Show();
        Clock::time_point asked = Clock::now();
        while (connection_->status().status().Stopped()) {
            if (Cancelled()) {
                return false;
            }
            if (!connection_->Listen(250ms)) {
                papplJobSetMessage(job_, "The printer hung up.");
                return false;
            }
            if (Clock::now() - asked >= kAskAgain) {
                connection_->Query(500ms);
                asked = Clock::now();
            }
            Show();
        }
        return true;
    }

    // After the last byte: the printer answers a status request once it has taken everything before it,
    // so the job waits for that answer (stopped, while the printer says it cannot go on), then turns the
    // automatic status back off again.
    void Finish() {
        if (!TwoWay() || !Flush()) {
            return;
        }
        StatusReader& reader = connection_->status();
        if (!connection_->Send(StatusRequest())) {
            return;
        }
        Clock::time_point since = Clock::now();
        Clock::time_point asked = since;
        while (!reader.Answered() && !Cancelled()) {
            if (!connection_->Listen(200ms)) {
                break; // the printer hung up
            }
            // the answer comes once the printer has taken what is before it; meanwhile, a network printer
            // says on a line of its own whether it still prints or waits for someone
            bool aside = false;
            if (Clock::now() - asked >= 1s) {
                aside = connection_->AskAside(500ms);
                asked = Clock::now();
            }
            Show();
            if (aside || reader.status().Stopped()) {
                since = Clock::now(); // a printer that answers, or waits for paper, has no time limit
            } else if (Clock::now() - since > kAnswerWait) {
                papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "The printer did not answer after the job's last byte.");
                break;
            }
        }
        connection_->Send(AutoStatusOff());
        if (reader.Answered()) {
            ShowStatus(printer_, reader, true);
        }
        stalled_ = false;
        Show();
        if (!shown_.empty()) {
            papplJobSetMessage(job_, "Job completed."); // in PAPPL's words, in place of what it waited for
        }
    }

    // The port's device for the job's documents: the processor's many small writes are gathered into
    // fewer, sent when enough have come and at each document's end.
    PortDevice Port() {
        PortDevice port;
        port.write = [this](const uint8_t* bytes, size_t count) {
            if (count >= kHeldBytes) {
                return Flush() && connection_->Write(bytes, count) == ssize_t(count);
            }
            if (held_.size() + count > kHeldBytes && !Flush()) {
                return false;
            }
            held_.insert(held_.end(), bytes, bytes + count);
            return true;
        };
        port.read = [this](uint8_t* buffer, size_t size) -> size_t {
            if (!Flush()) {
                return 0;
            }
            const ssize_t n = connection_->Receive(buffer, size, 100ms);
            return n > 0 ? size_t(n) : 0;
        };
        port.flush = [this] { Flush(); };
        port.cancelled = [this] { return Cancelled(); };
        return port;
    }

    bool Cancelled() override { return papplJobIsCanceled(job_); }
    void Stalled(bool stalled) override {
        stalled_ = stalled;
        Show();
    }
    void StatusChanged(const PrinterStatus&) override {
        ShowStatus(printer_, connection_->status(), true);
        Show();
    }

  private:
    static constexpr size_t kHeldBytes = 4096;

    bool TwoWay() const { return connection_ && connection_->TwoWay(); }

    bool Flush() {
        if (held_.empty()) {
            return true;
        }
        const bool sent = connection_->Write(held_.data(), held_.size()) == ssize_t(held_.size());
        held_.clear();
        return sent;
    }

    // The job's reasons and message from what is known of the printer now. A job that never waits keeps
    // PAPPL's own; one that waited says so while it does, and goes back to printing after.
    void Show() {
        const StatusReader& reader = connection_->status();
        const std::string why = reader.Heard() ? StoppedBecause(reader.status()) : std::string();
        std::string message;
        if (!why.empty()) {
            papplJobSetReasons(job_, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
            message = "Stopped: " + why + ".";
        } else if (stalled_) {
            message = "Waiting for the printer to take data.";
        } else if (!shown_.empty()) {
            papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
            message = "Printing.";
        }
        if (!message.empty() && message != shown_) {
            papplJobSetMessage(job_, "%s", message.c_str());
            papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "%s", message.c_str());
            shown_ = message;
        }
    }

    pappl_job_t* job_;
    pappl_printer_t* printer_;
    std::shared_ptr<Connection> connection_;
    std::vector<uint8_t> held_;
    bool stalled_ = false;
    std::string shown_;
};

// Ends a job that did not print, saying why.
bool Fail(pappl_job_t* job, pappl_jreason_t reason, const std::string& why) {
    if (!why.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
        papplJobSetMessage(job, "%s", why.c_str());
    }
    if (reason != PAPPL_JREASON_NONE) {
        papplJobSetReasons(job, reason, PAPPL_JREASON_JOB_PRINTING | PAPPL_JREASON_PRINTER_STOPPED);
    }
    return false;
}

// A job file mapped into memory.
class MappedFile {
  public:
    explicit MappedFile(const char* path) {
        const int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
        struct stat st{};
        if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size > 0) {
            void* p = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data_ = static_cast<const uint8_t*>(p);
                size_ = size_t(st.st_size);
            }
        }
        ok_ = fd >= 0;
        if (fd >= 0) {
            close(fd);
        }
    }
    ~MappedFile() {
        if (data_) {
            munmap(const_cast<uint8_t*>(data_), size_);
        }
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    bool ok() const { return ok_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool ok_ = false;
};

// "copy 1 of 1", "copies 2 to 3 of 3", as kqspool says it.
std::string Copies(size_t first, size_t last, size_t of) {
    return first == last ? "copy " + std::to_string(first + 1) + " of " + std::to_string(of)
                         : "copies " + std::to_string(first + 1) + " to " + std::to_string(last + 1) + " of " +
                               std::to_string(of);
}

bool InRanges(ipp_attribute_t* ranges, int value) {
    for (int i = 0, n = ippGetCount(ranges); i < n; ++i) {
        int upper = 0;
        const int lower = ippGetRange(ranges, i, &upper);
        if (value >= lower && value <= upper) {
            return true;
        }
    }
    return false;
}

pappl_content_t ContentValue(const char* keyword, pappl_content_t otherwise) {
    if (!keyword) {
        return otherwise;
    }
    static const struct {
        const char* keyword;
        pappl_content_t value;
    } values[] = {{"auto", PAPPL_CONTENT_AUTO},
                  {"graphic", PAPPL_CONTENT_GRAPHIC},
                  {"photo", PAPPL_CONTENT_PHOTO},
                  {"text", PAPPL_CONTENT_TEXT},
                  {"text-and-graphic", PAPPL_CONTENT_TEXT_AND_GRAPHIC}};
    for (const auto& v : values) {
        if (std::strcmp(keyword, v.keyword) == 0) {
            return v.value;
        }
    }
    return otherwise;
}

} // namespace

// ---- choices from the job's attributes ------------------------------------------------------------------

Dither DitherFor(pappl_content_t content, pappl_color_mode_t colorMode, const char* format) {
    if (colorMode == PAPPL_COLOR_MODE_BI_LEVEL) {
        return Dither::Threshold;
    }
    if (content == PAPPL_CONTENT_PHOTO) {
        return Dither::Diffusion;
    }
    if (content == PAPPL_CONTENT_AUTO) {
        // a JPEG is most likely a photograph; anything else may hold both, row by row
        return format && std::strcmp(format, "image/jpeg") == 0 ? Dither::Diffusion : Dither::ByContent;
    }
    return Dither::Threshold;
}

pappl_content_t ContentFor(pappl_job_t* job, const pappl_pr_options_t* options, unsigned page) {
    const pappl_content_t content = options->print_content_optimize;
    ipp_attribute_t* overrides = papplJobGetAttribute(job, "overrides");
    if (!overrides || ippGetValueTag(overrides) != IPP_TAG_BEGIN_COLLECTION) {
        return content;
    }
    for (int i = 0, n = ippGetCount(overrides); i < n; ++i) {
        ipp_t* o = ippGetCollection(overrides, i);
        ipp_attribute_t* pages = ippFindAttribute(o, "pages", IPP_TAG_RANGE);
        ipp_attribute_t* documents = ippFindAttribute(o, "document-number", IPP_TAG_RANGE);
        if (pages && InRanges(pages, int(page)) && (!documents || InRanges(documents, 1))) {
            return ContentValue(ippGetString(ippFindAttribute(o, "print-content-optimize", IPP_TAG_KEYWORD), 0,
                                             nullptr),
                                content);
        }
    }
    return content;
}

CutAfter CutFor(pappl_job_t* job, const pappl_pr_options_t* options) {
    const char* value = ippGetString(papplJobGetAttribute(job, kCutAfter), 0, nullptr);
    std::string fallback;
    if (!value) {
        ipp_t* attrs = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
        if (const char* def = ippGetString(ippFindAttribute(attrs, "cut-after-default", IPP_TAG_KEYWORD), 0, nullptr)) {
            fallback = def;
        }
        ippDelete(attrs);
        value = fallback.empty() ? "job" : fallback.c_str();
    }
    const std::string cut = value;
    if (cut == "page") {
        return CutAfter::Page;
    }
    if (cut == "none") {
        return (options->finishings & PAPPL_FINISHINGS_TRIM) ? CutAfter::Job : CutAfter::None;
    }
    return CutAfter::Job;
}

PageFormat FormatOf(const cups_page_header2_t& header, int printableDots, int maxRows, Dither dither) {
    PageFormat f;
    f.width = int(std::min<unsigned>(header.cupsWidth, 1u << 30));
    f.height = int(std::min<unsigned>(header.cupsHeight, 1u << 30));
    // device black counts ink up from 0; sGray and grey count light up from 0. The client wrote the colour
    // space: it is read as the number it is, not trusted to be one of the enumeration's values.
    unsigned space = 0;
    static_assert(sizeof(space) == sizeof(header.cupsColorSpace));
    std::memcpy(&space, &header.cupsColorSpace, sizeof(space));
    f.inkIsHigh = space == unsigned(CUPS_CSPACE_K);
    f.printableDots = printableDots;
    f.maxRows = maxRows;
    f.dither = dither;
    return f;
}

// ---- raster jobs ----------------------------------------------------------------------------------

class RasterJob {
  public:
    RasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
        : job_(job), session_(job, device),
          receipt_(CutFor(job, options), [this](const uint8_t* b, size_t n) { return Spool(b, n); }) {}

    bool Begin() {
        if (!session_.ok()) {
            return Fail(job_, PAPPL_JREASON_NONE, "The printer's device cannot be opened.");
        }
        if (!session_.Begin()) {
            return Fail(job_, PAPPL_JREASON_NONE, "");
        }
        return receipt_.Start();
    }

    bool Page(const PageFormat& format) {
        if (const std::optional<std::string> why = CheckPage(format)) {
            failed_ = true;
            return Fail(job_, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, "Page " + std::to_string(pages_ + 1) +
                                                                           " cannot be printed: " + *why + ".");
        }
        // the page before goes to the printer now that it is known not to be the last
        if (pageEnded_ && !EndDocument()) {
            return false;
        }
        pageEnded_ = false;
        ++pages_;
        page_.emplace(format, [this](const uint8_t* b, size_t n) { return Spool(b, n); });
        return true;
    }

    bool Line(const uint8_t* line) {
        if (!page_) {
            return false;
        }
        if (!page_->Line(line)) {
            failed_ = true;
            return Fail(job_, PAPPL_JREASON_NONE, failure_.empty() ? page_->error() : failure_);
        }
        return true;
    }

    bool EndPage() {
        if (!page_) {
            return false;
        }
        const bool finished = page_->Finish();
        const bool marked = page_->marked();
        const int64_t rowsIn = page_->rowsIn();
        const int height = page_->height();
        papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "Page %u: %lld rows in, %lld printed.", pages_,
                    static_cast<long long>(rowsIn), static_cast<long long>(page_->rowsOut()));
        page_.reset();
        if (!finished) {
            failed_ = true;
            return Fail(job_, PAPPL_JREASON_NONE, failure_);
        }
        // a stream that ended inside a page: what came of the page is not printed
        if (rowsIn < height && !papplJobIsCanceled(job_)) {
            failed_ = true;
            return Fail(job_, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                        "Page " + std::to_string(pages_) + " was cut short: " + std::to_string(rowsIn) + " of its " +
                            std::to_string(height) + " rows came.");
        }
        if (!marked) {
            return true; // a page with nothing on it prints nothing
        }
        marked_ = true;
        // Each page goes to the printer as a document of its own, so that no more than a page is held; its
        // document ends when the next page begins, or with the job's own end in it.
        pageEnded_ = true;
        return receipt_.EndPage();
    }

    bool Finish() {
        bool ok = !failed_;
        if (ok && marked_) {
            ok = receipt_.End() && EndDocument();
        }
        doc_.reset(); // a document of blank pages only is never printed
        if (ok) {
            session_.Finish();
        }
        return ok;
    }

  private:
    bool Spool(const uint8_t* bytes, size_t count) {
        if (failed_) {
            return false;
        }
        if (!doc_) {
            const char* name = papplJobGetName(job_);
            doc_ = std::make_unique<SpoolDocument>(name ? name : "job", 1, session_.Port());
        }
        if (!doc_->ok() || !doc_->Write(bytes, count)) {
            failed_ = true;
            failure_ = doc_->error();
            return false;
        }
        return true;
    }

    bool EndDocument() {
        if (!doc_) {
            return true;
        }
        const Despooled done = doc_->End();
        doc_.reset();
        if (done.printed) {
            return true;
        }
        failed_ = true;
        if (done.cancelled || papplJobIsCanceled(job_)) {
            failure_ = "Cancelled.";
            return false;
        }
        failure_ = "The printer did not take the job: " + done.error + ".";
        return Fail(job_, PAPPL_JREASON_NONE, failure_);
    }

    pappl_job_t* job_;
    JobSession session_;
    ReceiptJob receipt_;
    std::optional<PageConverter> page_;
    std::unique_ptr<SpoolDocument> doc_;
    unsigned pages_ = 0;
    bool marked_ = false;
    bool pageEnded_ = false; // the document holds a page that has ended
    bool failed_ = false;
    std::string failure_;
};

RasterJob* BeginRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    auto raster = std::make_unique<RasterJob>(job, options, device);
    return raster->Begin() ? raster.release() : nullptr;
}

bool RasterJobPage(RasterJob* raster, const PageFormat& format) {
    return raster && raster->Page(format);
}

bool RasterJobLine(RasterJob* raster, const uint8_t* line) {
    return raster && raster->Line(line);
}

bool RasterJobEndPage(RasterJob* raster) {
    return raster && raster->EndPage();
}

bool FinishRasterJob(RasterJob* raster) {
    const std::unique_ptr<RasterJob> owned(raster);
    return owned && owned->Finish();
}

bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    RasterJob* raster = BeginRasterJob(job, options, device);
    papplJobSetData(job, raster);
    return raster != nullptr;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
    const Model& model = ModelOf(papplJobGetPrinter(job));
    const Dither dither =
        DitherFor(ContentFor(job, options, page), options->print_color_mode, papplJobGetFormat(job));
    if (options->header.cupsBitsPerPixel != 8) {
        return Fail(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                    "Page " + std::to_string(page) + " has " + std::to_string(options->header.cupsBitsPerPixel) +
                        " bits per pixel; the printer takes 8-bit grey (sgray_8).");
    }
    return RasterJobPage(static_cast<RasterJob*>(papplJobGetData(job)),
                         FormatOf(options->header, model.printableDots, MaxRows(model), dither));
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned, const unsigned char* line) {
    return RasterJobLine(static_cast<RasterJob*>(papplJobGetData(job)), line);
}

bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
    return RasterJobEndPage(static_cast<RasterJob*>(papplJobGetData(job)));
}

bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
    papplJobSetData(job, nullptr);
    return FinishRasterJob(raster);
}

// ---- raw jobs -------------------------------------------------------------------------------------

bool PrintRaw(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    const MappedFile file(papplJobGetFilename(job));
    if (!file.ok()) {
        return Fail(job, PAPPL_JREASON_NONE, "The job's file cannot be read.");
    }
    if (file.size() == 0) {
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The job is empty: nothing printed.");
        return true;
    }
    JobSession session(job, device);
    if (!session.ok()) {
        return Fail(job, PAPPL_JREASON_NONE, "The printer's device cannot be opened.");
    }
    if (!session.Begin()) {
        return false;
    }
    const unsigned copies = unsigned(std::max(1, options->copies));
    Despooled done;
    {
        const char* name = papplJobGetName(job);
        SpoolDocument doc(name ? name : "job", copies, session.Port());
        if (!doc.Write(file.data(), file.size())) {
            return Fail(job, PAPPL_JREASON_NONE, doc.error() + ".");
        }
        done = doc.End();
    }
    if (done.cancelled || papplJobIsCanceled(job)) {
        return false;
    }
    if (!done.printed) {
        return Fail(job, PAPPL_JREASON_NONE, "The printer did not take the job: " + done.error + ".");
    }
    // Where the print processor stopped a copy early, and why, as kqspool says it.
    const escpos::View bytes(file.data(), file.size());
    for (size_t i = 0; i < done.passes.size(); ++i) {
        const kqspool::PassStop stop = kqspool::ExplainPass(bytes, done.passes[i]);
        if (!stop.whole) {
            session.Finish();
            return Fail(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                        Copies(i, i, copies) + ": " + kqspool::StopSentence(stop, file.size()));
        }
    }
    session.Finish();
    return true;
}

// ---- the printer ------------------------------------------------------------------------------------

bool UpdateStatus(pappl_printer_t* printer) {
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (!device) {
        // in use (the job that has it keeps the status), or the printer cannot be reached
        if (!papplPrinterGetNumberOfActiveJobs(printer)) {
            papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, kStatusReasons);
        }
        return false;
    }
    {
        const std::shared_ptr<Connection> connection = AcquireConnection(device, printer);
        if (connection && connection->TwoWay()) {
            const bool answered = connection->Query(500ms);
            ShowStatus(printer, connection->status(), answered);
        }
    }
    papplPrinterCloseDevice(printer);
    return true;
}

void Identify(pappl_printer_t* printer, pappl_identify_actions_t, const char*) {
    // Feeds 3 mm of paper: the one thing the printer can do to show which one it is.
    static const uint8_t feed[] = {0x1B, 'J', 24};
    if (pappl_device_t* device = papplPrinterOpenDevice(printer)) {
        if (const std::shared_ptr<Connection> connection = AcquireConnection(device, printer)) {
            connection->Write(feed, sizeof(feed));
        }
        papplPrinterCloseDevice(printer);
    }
}

} // namespace kqapp
