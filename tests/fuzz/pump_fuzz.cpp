// Fuzzes the whole print processor: the input chooses the copies and the resolution and is the job;
// the stand-in spooler replays it to the processor, and every print must end as a printed document.
#include "kqprint.h"
#include "kqwin/control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace control = kqwin::control;
constexpr char kPrinter[] = "Fuzz Printer";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string root = (std::filesystem::temp_directory_path() / "kqt50-fuzz-XXXXXX").string();
    if (!mkdtemp(root.data())) {
        std::abort();
    }
    control::ResetMachine(root);
    control::PrinterSetup setup;
    setup.name = kPrinter;
    control::AddTestPrinter(setup);
    control::SetPortTarget("FILE:", "/dev/null");
    // Allocations that a real spooler would refuse fail here too, so a huge image size in a short input
    // is an allocation failure to handle, not memory the fuzzer has to find.
    control::SetAllocationLimit(size_t{1} << 20);
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
    const std::vector<BYTE> job(data + 3, data + size);
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
        std::abort();
    }
    std::u16string readName = control::JobReadName(kPrinter, jobId);
    if (!PrintDocumentOnPrintProcessor(h, readName.data()) || !ClosePrintProcessor(h)) {
        std::abort(); // only a failed document start or job open may fail a print, and neither can here
    }
    return 0;
}
