// OpenPrintProcessor and ClosePrintProcessor on a printer of the simulated machine: datatypes, copies,
// resolution, failures of the calls that open makes, and what close releases.
#include "rig.h"

#include <string>

namespace kqtest {
namespace {

using kqprint::ProcessorJob;

class EntryTest : public ProcessorTest {
  protected:
    // OpenPrintProcessor with open data of the test's own.
    HANDLE OpenWith(const char16_t* datatype, const char16_t* parameters, DEVMODEW* devmode = nullptr,
                    const char16_t* outputFile = nullptr) {
        std::u16string dt = datatype ? datatype : u"";
        std::u16string params = parameters ? parameters : u"";
        std::u16string out = outputFile ? outputFile : u"";
        std::u16string document = u"receipt";
        std::u16string printer = u"Test Printer";
        PRINTPROCESSOROPENDATA od{};
        od.pDevMode = devmode;
        od.pDatatype = datatype ? dt.data() : nullptr;
        od.pParameters = parameters ? params.data() : nullptr;
        od.pDocumentName = document.data();
        od.JobId = jobId_;
        od.pOutputFile = outputFile ? out.data() : nullptr;
        od.pPrinterName = printer.data();
        return OpenPrintProcessor(printer.data(), &od);
    }

    // The copies that open works out for `parameters`; ~0u when open fails.
    DWORD CopiesFor(const char16_t* parameters) {
        HANDLE h = OpenWith(u"RAW", parameters);
        ProcessorJob* job = kqprint::ValidateJob(h);
        const DWORD copies = job ? job->Copies : ~0u;
        if (h) {
            EXPECT_TRUE(ClosePrintProcessor(h));
        }
        return copies;
    }
};

TEST_F(EntryTest, AcceptsOnlyRawInAnyCase) {
    struct Case {
        const char16_t* datatype;
        DWORD error; // 0: accepted
    };
    const Case cases[] = {
        {u"RAW", 0},
        {u"raw", 0},
        {u"rAw", 0},
        {nullptr, 87},
        {u"", 87},
        {u"EMF", 1804},
        {u"RAW ", 1804},
        {u"RA", 1804},
        {u"TEXT", 1804},
        {u"NT EMF 1.008", 1804},
        {u"RAW [FF appended]", 1804},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::u16string(c.datatype ? c.datatype : u"(none)")));
        control::ResetCounters();
        SetLastError(0);
        HANDLE h = OpenWith(c.datatype, u"COPIES=1;");
        if (c.error == 0) {
            ProcessorJob* job = kqprint::ValidateJob(h);
            ASSERT_NE(job, nullptr);
            EXPECT_EQ(job->DatatypeIndex, 0u);
            EXPECT_TRUE(ClosePrintProcessor(h));
        } else {
            EXPECT_EQ(h, nullptr);
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_EQ(control::CallCount(control::Op::OpenPrinter), 0u); // the printer was never opened
        }
    }
    SetLastError(0);
    EXPECT_EQ(OpenPrintProcessor(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 87u);
}

// The parameter's value on a spooled printer; one pass on a printer that prints directly.
TEST_F(EntryTest, CopiesFromTheParametersAndThePrinter) {
    Spool(B("x"));
    struct Case {
        const char16_t* parameters;
        DWORD copies;
        DWORD attributes = 0;
    };
    const Case cases[] = {
        {u"COPIES=3;", 3},
        {u"copies=3;", 3},
        {u"COPIES=3", 1},
        {u"COPIES= 3;", 3},
        {u"COPIES=x;COPIES=2;", 2},
        {u"COPIESX=4;", 4},
        {u"COPIES=;", 1},
        {u"COPIES=-2;", 1},
        {u"COPIES=0;", 0},
        {u"", 1},
        {nullptr, 1},
        {u"COPIES=2;", 2, 0x800 | 0x1000},
        {u"COPIES=3;", 1, PRINTER_ATTRIBUTE_DIRECT},
        {u"COPIES=4294967295;", 1, PRINTER_ATTRIBUTE_DIRECT | 0x800 | 0x1000},
        {u"COPIES=0;", 0, PRINTER_ATTRIBUTE_DIRECT}, // 0 and 1 are left as they are
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << testing::PrintToString(std::u16string(c.parameters ? c.parameters : u"(none)"))
                     << " attributes " << c.attributes);
        ASSERT_TRUE(control::SetPrinterAttributes(kPrinter, c.attributes));
        EXPECT_EQ(CopiesFor(c.parameters), c.copies);
    }
}

TEST_F(EntryTest, FailedOpenKeepsTheErrorAndLeavesNothingOpen) {
    struct Case {
        const char* what;
        control::Op op;
        DWORD error;
        control::Op neverReached;
    };
    const Case cases[] = {
        {"record allocation", control::Op::GlobalAlloc, ERROR_OUTOFMEMORY, control::Op::OpenPrinter},
        {"OpenPrinterW", control::Op::OpenPrinter, ERROR_ACCESS_DENIED, control::Op::CreateDC},
        {"CreateDCW", control::Op::CreateDC, ERROR_INVALID_PRINTER_NAME, control::Op::GetPrinter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        control::ResetCounters();
        control::InjectFault({c.op, 1, control::FaultKind::Fail, 0, c.error});
        SetLastError(0);
        EXPECT_EQ(OpenWith(u"RAW", u"COPIES=3;"), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(control::CallCount(c.neverReached), 0u);
        control::ClearFaults();
        EXPECT_EQ(control::OpenPrinterHandles(), 0u);
    }
}

TEST_F(EntryTest, PrinterQueryStartsWith2048BytesAndRetriesOnceWithTheSizeAskedPlus10) {
    using control::Op;
    struct Step {
        const char* what;
        bool bigRecord;                      // a printer record larger than 2048 bytes
        std::optional<size_t> limit;         // allocation limit; relative to the record's size when big
        std::optional<control::Fault> fault; // on GetPrinter
        uint64_t calls;
        DWORD copies;
    };
    const control::Fault failFirst{Op::GetPrinter, 1, control::FaultKind::Fail, 0, ERROR_ACCESS_DENIED};
    const control::Fault biggerAgain{Op::GetPrinter, 2, control::FaultKind::Fail, 0,
                                     ERROR_INSUFFICIENT_BUFFER};
    const Step steps[] = {
        {"small record", false, std::nullopt, std::nullopt, 1, 3},
        {"2048 bytes are allowed", false, 2048, std::nullopt, 1, 3},
        {"2048 bytes are not available", false, 2047, std::nullopt, 0, 1},
        {"GetPrinterW fails", false, std::nullopt, failFirst, 1, 1},
        {"big record", true, std::nullopt, std::nullopt, 2, 3},
        {"big record, needed + 10 allowed", true, 10, std::nullopt, 2, 3},
        {"big record, needed + 10 not available", true, 9, std::nullopt, 1, 1},
        {"still too small after the retry", true, std::nullopt, biggerAgain, 2, 1},
    };
    DWORD needed = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.bigRecord && needed == 0) {
            std::u16string name = u"Test Printer";
            HANDLE printer = nullptr;
            PRINTER_DEFAULTSW admin{nullptr, nullptr, PRINTER_ALL_ACCESS};
            ASSERT_TRUE(OpenPrinterW(name.data(), &printer, &admin));
            std::string comment(1500, 'c');
            PRINTER_INFO_2A info{};
            info.pComment = comment.data();
            ASSERT_TRUE(SetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(&info), 0));
            EXPECT_FALSE(GetPrinterW(printer, 2, nullptr, 0, &needed));
            ClosePrinter(printer);
            ASSERT_GT(needed, 2048u);
        }
        if (s.limit) {
            control::SetAllocationLimit(s.bigRecord ? needed + *s.limit : *s.limit);
        }
        if (s.fault) {
            control::InjectFault(*s.fault);
        }
        control::ResetCounters();
        EXPECT_EQ(CopiesFor(u"COPIES=3;"), s.copies);
        EXPECT_EQ(control::CallCount(Op::GetPrinter), s.calls);
        control::ClearFaults();
    }
}

TEST_F(EntryTest, VerticalDpiFromThePrinterOrTheJobsDeviceMode) {
    struct Case {
        int printerDpi;
        DWORD fields;
        short jobDpi; // 0: no device mode
        LONG expected;
    };
    const Case cases[] = {
        {203, 0, 0, 203},
        {180, 0, 0, 180},
        {203, DM_YRESOLUTION, 300, 300},
        {203, 0, 300, 203}, // a resolution the device mode does not claim to carry
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.printerDpi << " " << c.jobDpi);
        ASSERT_TRUE(control::SetPrinterResolution(kPrinter, c.printerDpi));
        DEVMODEW devmode{};
        devmode.dmSize = sizeof(devmode);
        devmode.dmFields = c.fields;
        devmode.dmYResolution = c.jobDpi;
        HANDLE h = OpenWith(u"RAW", u"COPIES=1;", c.jobDpi ? &devmode : nullptr);
        ProcessorJob* job = kqprint::ValidateJob(h);
        ASSERT_NE(job, nullptr);
        EXPECT_EQ(job->VerticalDpi, c.expected);
        EXPECT_TRUE(ClosePrintProcessor(h));
    }
}

// Spoolers open a processor under its port's name and name the printer in the open data: the device
// context, and so the resolution, must come from the printer.
TEST_F(EntryTest, OpenedUnderThePortsNameTheResolutionComesFromTheNamedPrinter) {
    ASSERT_TRUE(control::SetPrinterResolution(kPrinter, 180));
    Spool(B("x\x1b@"));
    struct Case {
        const char16_t* openName;
        const char16_t* dataPrinter; // the open data's printer name; none: not given
        bool opens;
    };
    const Case cases[] = {
        {u"FILE:, Port", u"Test Printer", true},
        {u"Test Printer", nullptr, true},   // no name in the open data: the one opened is the printer
        {u"Test Printer", u"", true},
        {u"FILE:, Port", nullptr, false},   // a port's name alone gives no device context
    };
    for (const Case& c : cases) {
        std::u16string openName = c.openName;
        std::u16string dataPrinter = c.dataPrinter ? c.dataPrinter : u"";
        std::u16string datatype = u"RAW";
        PRINTPROCESSOROPENDATA od{};
        od.pDatatype = datatype.data();
        od.JobId = jobId_;
        od.pPrinterName = c.dataPrinter ? dataPrinter.data() : nullptr;
        HANDLE h = OpenPrintProcessor(openName.data(), &od);
        ProcessorJob* job = kqprint::ValidateJob(h);
        ASSERT_EQ(job != nullptr, c.opens);
        if (!job) {
            EXPECT_EQ(control::OpenPrinterHandles(), 0u);
            continue;
        }
        EXPECT_EQ(job->VerticalDpi, 180);
        control::ClearWrites();
        EXPECT_TRUE(Print(h));
        EXPECT_EQ(Output(), B("x\x1b@")) << "the port's handle prints";
        EXPECT_TRUE(ClosePrintProcessor(h));
    }
}

TEST_F(EntryTest, CloseReleasesTheRecordAndEverythingItOwns) {
    // A page image left unfinished keeps a band in the list after printing.
    Spool(B({0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x02, 0x00, 0xAA, 0xBB}));
    DEVMODEW devmode{};
    devmode.dmSize = sizeof(devmode);
    HANDLE h = OpenWith(u"RAW", u"COPIES=1;", &devmode, u"c:\\job.out");
    ProcessorJob* job = kqprint::ValidateJob(h);
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(Print(h));
    ASSERT_NE(job->Bands.BandHead, nullptr);
    ASSERT_TRUE(job->PrinterName && job->Datatype && job->DocumentName && job->OutputFile &&
                job->Parameters && job->OpenDataPrinterName);
    const HANDLE printer = job->PrinterHandle.get();
    const HANDLE event = job->ResumeEvent.get();
    ASSERT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    EXPECT_TRUE(ClosePrintProcessor(h));
    EXPECT_EQ(control::OpenPrinterHandles(), 0u);
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(GetPrinterW(printer, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)); // the printer handle is closed
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);               // the event is closed
    EXPECT_EQ(kqprint::ValidateJob(h), nullptr);
    // The strings, the band list and the record itself: LeakSanitizer reports what close left behind.
}

TEST_F(EntryTest, DebuggerOutputNamesTheEntryPoints) {
    control::ClearDebugOutput();
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, nullptr, 0, &needed, &returned);
    EXPECT_FALSE(Print(nullptr)); // a refused handle prints nothing, and says nothing
    EXPECT_TRUE(PrintJob(B("x")));
    EXPECT_FALSE(ClosePrintProcessor(nullptr));
    const std::vector<std::string> expected = {"EnumPrintProcessorDatatypes", "PRINTPROCESSOR_TYPE_RAW",
                                               "ClosePrintProcessor", "ClosePrintProcessor"};
    EXPECT_EQ(control::DebugOutput(), expected);
}

} // namespace
} // namespace kqtest
