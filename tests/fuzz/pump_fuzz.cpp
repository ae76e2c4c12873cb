// Fuzzes the whole print processor: the input chooses the copies and the resolution and is the job;
// the stand-in spooler replays it to the processor, and the processor's writes are recorded. Every print
// must end as a printed document, leave no printer or file handle open, send every copy pass the same
// writes, and, where the job is made only of commands that the end-to-end model knows, send exactly the
// writes that the model works out. PUMP_FUZZ_TRACE=1 says for each input whether the model applied.
#include "kqprint.h"
#include "kqwin/test_control.h"
#include "model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace control = kqwin::control;
constexpr char kPrinter[] = "Fuzz Printer";
constexpr int kPrinterDpi = 203;

// A write as recorded: its size and a hash of its bytes (page images may be large; they are not kept).
struct WriteSummary {
    size_t size;
    uint64_t hash;
    bool operator==(const WriteSummary&) const = default;
};

// Not instrumented for coverage: it runs over every byte written, page images included.
__attribute__((no_sanitize("coverage"))) uint64_t Hash(const BYTE* bytes, size_t n) {
    uint64_t h = 1469598103934665603ull ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof(word));
        h = (h ^ word) * 1099511628211ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i) {
        h = (h ^ bytes[i]) * 1099511628211ull;
    }
    return h;
}

std::vector<WriteSummary>& Recorded() {
    static std::vector<WriteSummary> writes;
    return writes;
}

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "pump_fuzz: %s\n", what);
    std::abort();
}

// Whether the model's account of the job can be compared with the processor's writes.
bool ModelApplies(const e2e::Expected& expected) {
    if (!expected.error.empty()) {
        return false; // a command the model does not cover, or a job cut inside a command
    }
    for (const escpos::Bitmap& image : expected.images) {
        if (image.rows > 0xFFFF || image.width > 0xFFFF) {
            return false; // the model writes one image where the processor splits a tall page
        }
    }
    return true;
}

// The model keeps whole pages in memory several times over; a job whose output is this large is only
// checked for its passes and handles.
constexpr size_t kModelOutputLimit = size_t{32} << 20;

// The page image is as wide as its widest band and as tall as all its bands and folded feeds together,
// and a band costs the job only its data: GS v 0 with no columns and 65535 rows is nine bytes, and so is
// one of 65535 columns and no rows. A job of a few kilobytes can so describe pages of gigabytes, which
// the processor prints as it must, at a cost in time that would stall the fuzzer. Inputs whose GS v 0
// headers and feeds could describe a page of more than 64 MB are not run; pages of up to that still
// outgrow the 32 MB block limit below, so the splitting of a page that cannot be had whole is exercised.
constexpr uint64_t kMaxPageBytes = uint64_t{64} << 20;
constexpr uint64_t kMaxFeedRows = 255 * 255 / 180 + 1; // at the highest resolution the fuzzer picks

bool DescribesHugePage(const uint8_t* job, size_t size) {
    uint64_t width = 0;
    uint64_t rows = 0;
    for (size_t i = 0; i + 1 < size; ++i) {
        if (job[i] == 0x1D && job[i + 1] == 0x76 && i + 8 <= size) {
            width = std::max<uint64_t>(width, job[i + 4] + 256u * job[i + 5]);
            rows += job[i + 6] + 256u * job[i + 7];
        } else if (job[i] == 0x1B && job[i + 1] == 0x4A) {
            rows += kMaxFeedRows;
        }
    }
    return width * rows > kMaxPageBytes;
}

} // namespace

// A block of more than 32 MB cannot be had, as on a spooler whose address space is tight: a page image of
// that size is the processor's to split into images of fewer rows. (libFuzzer itself needs one of 20 MB.)
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=32:allocator_may_return_null=1"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string root = (std::filesystem::temp_directory_path() / "kqt50-fuzz-XXXXXX").string();
    if (!mkdtemp(root.data())) {
        std::abort();
    }
    control::ResetMachine(root);
    control::PrinterSetup setup;
    setup.name = kPrinter;
    setup.verticalDpi = kPrinterDpi;
    control::AddTestPrinter(setup);
    control::SetPortTarget("FILE:", "/dev/null");
    // Allocations that a real spooler would refuse fail here too, so a huge image size in a short input
    // is an allocation failure to handle, not memory the fuzzer has to find.
    control::SetAllocationLimit(size_t{1} << 20);
    control::SetWriteObserver([](const BYTE* bytes, DWORD count, DWORD) {
        Recorded().push_back(WriteSummary{count, Hash(bytes, count)});
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const unsigned copies = data[0] % 4;
    // Resolutions up to 255 dpi (0: the printer's 203): more only makes the blank rows of each feed cost
    // the fuzzer time. The third byte is kept for corpus compatibility.
    const auto dpi = static_cast<short>(data[1]);
    if (DescribesHugePage(data + 3, size - 3)) {
        return -1; // not kept in the corpus
    }
    const std::vector<BYTE> job(data + 3, data + size);
    const size_t printersBefore = control::OpenPrinterHandles();
    Recorded().clear();
    {
        const DWORD jobId = control::SpoolJob(kPrinter, job);
        control::DespoolScope despool(kPrinter, jobId);
        std::u16string parameters = u"COPIES=" + std::u16string(1, static_cast<char16_t>(u'0' + copies)) + u";";
        std::u16string datatype = u"RAW";
        std::u16string printer = u"Fuzz Printer";
        std::u16string document = u"fuzz";
        DEVMODEW devmode{};
        devmode.dmSize = sizeof(devmode);
        devmode.dmFields = DM_YRESOLUTION;
        devmode.dmYResolution = dpi; // zero or below: the printer's own resolution
        PRINTPROCESSOROPENDATA od{};
        od.pDevMode = &devmode;
        od.pDatatype = datatype.data();
        od.pParameters = parameters.data();
        od.pDocumentName = document.data();
        od.JobId = jobId;
        od.pPrinterName = printer.data();
        HANDLE h = OpenPrintProcessor(printer.data(), &od);
        if (!h) {
            Finding("OpenPrintProcessor failed");
        }
        std::u16string readName = control::JobReadName(kPrinter, jobId);
        if (!PrintDocumentOnPrintProcessor(h, readName.data())) {
            Finding("the print failed, with neither a failed document start nor a failed job open");
        }
        if (!ClosePrintProcessor(h)) {
            Finding("ClosePrintProcessor failed");
        }
    }
    control::ClearDebugOutput();
    if (control::OpenPrinterHandles() != printersBefore || control::OpenFileHandles() != 0) {
        Finding("a handle was left open");
    }

    // Every pass reads the same job from its first byte and starts from the same state.
    const std::vector<WriteSummary>& writes = Recorded();
    if (copies == 0 ? !writes.empty() : writes.size() % copies != 0) {
        Finding("the writes are not whole copy passes");
    }
    const size_t perPass = copies ? writes.size() / copies : 0;
    for (size_t i = perPass; i < writes.size(); ++i) {
        if (!(writes[i] == writes[i - perPass])) {
            Finding("a copy pass wrote other bytes than the pass before it");
        }
    }

    size_t output = 0;
    for (const WriteSummary& w : writes) {
        output += w.size;
    }
    if (output > kModelOutputLimit) {
        return 0;
    }
    const e2e::Expected expected = e2e::ExpectedOutput(job, dpi > 0 ? dpi : kPrinterDpi, copies);
    if (std::getenv("PUMP_FUZZ_TRACE")) {
        std::fprintf(stderr, "model: %s %s\n", ModelApplies(expected) ? "applies" : "skipped", expected.error.c_str());
    }
    if (ModelApplies(expected)) {
        bool same = expected.writes.size() == writes.size();
        for (size_t i = 0; same && i < writes.size(); ++i) {
            const escpos::Bytes& want = expected.writes[i];
            same = writes[i] == WriteSummary{want.size(), Hash(want.data(), want.size())};
        }
        if (!same) {
            Finding("the writes differ from the model's");
        }
    }
    return 0;
}
