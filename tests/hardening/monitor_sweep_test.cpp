// The language monitor in the path of real documents: an application prints realistic jobs to a printer
// whose driver names KQMON, with bidirectional mode on, and every port operation below the monitor fails
// in turn (writes are also shortened), as do the capture file's creation and each of its writes. Each
// document must end as documented: the port monitor's failures reach the spooler as the port monitor
// reported them, the capture's never do; the capture holds every buffer offered to the port; nothing is
// left open or allocated.
#include "kqmon.h"
#include "sweep.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

namespace kqhard {
namespace {

using control::FaultKind;
using control::Op;

constexpr char kPort[] = "COM1:";
const Bytes kPreviousCapture = {'p', 'r', 'e', 'v', 'i', 'o', 'u', 's'};

struct Document {
    bool appOk = false;
    std::optional<control::JobOutcome> outcome;
    std::vector<WriteSeen> writes;
    Bytes port;
    Bytes capture;
    std::array<uint64_t, control::kOpCount> counts{};
    size_t printersLeft = 0;
    size_t filesLeft = 0;

    uint64_t Count(Op op) const { return counts[static_cast<size_t>(op)]; }
    Bytes Offered() const {
        Bytes out;
        for (const WriteSeen& w : writes) {
            out.insert(out.end(), w.bytes.begin(), w.bytes.end());
        }
        return out;
    }
    Bytes Accepted() const {
        Bytes out;
        for (const WriteSeen& w : writes) {
            out.insert(out.end(), w.bytes.begin(), w.bytes.begin() + w.accepted);
        }
        return out;
    }
    std::vector<ExpectedWrite> Written() const {
        std::vector<ExpectedWrite> out;
        for (const WriteSeen& w : writes) {
            out.push_back({w.bytes, w.accepted});
        }
        return out;
    }
};

Bytes Join(const std::vector<ExpectedWrite>& writes) {
    Bytes out;
    for (const ExpectedWrite& w : writes) {
        out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    }
    return out;
}

class MonitorSweep : public kqtest::MachineTest,
                     public ::testing::WithParamInterface<std::tuple<const char*, unsigned>> {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(kqtest::InstallKitPrinter(kPort));
        std::filesystem::create_directories(std::filesystem::path(CapturePath()).parent_path());

        const auto [jobName, copies] = GetParam();
        job_ = FileBytes(SourceDir() + "/samples/" + jobName + ".prn");
        ASSERT_FALSE(job_.empty());
        copies_ = copies;
    }

    static std::string CapturePath() { return control::HostPath(kqmon::kCapturePath); }

    // An application prints the job as a RAW document with `fault` armed.
    Document Print(const std::optional<control::Fault>& fault) {
        Document doc;
        std::filesystem::remove(control::PortTarget(kPort));
        std::ofstream(CapturePath(), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(kPreviousCapture.data()), std::streamsize(kPreviousCapture.size()));
        control::ResetCounters();
        control::ClearWrites();
        control::SetCallHook(Op::WritePrinter, [&doc](uint64_t) {
            doc.writes.push_back({{}, 0, control::CallCount(Op::ReadPrinter)});
        });
        if (fault) {
            control::InjectFault(*fault);
        }
        std::u16string name = u"Receipt";
        DEVMODEW devmode{};
        devmode.dmSize = sizeof(devmode);
        devmode.dmFields = DM_COPIES;
        devmode.dmCopies = static_cast<short>(copies_);
        PRINTER_DEFAULTSW defaults{nullptr, &devmode, 0};
        HANDLE h = nullptr;
        if (OpenPrinterW(name.data(), &h, &defaults)) {
            std::u16string docName = u"sweep";
            DOC_INFO_1W info{docName.data(), nullptr, nullptr};
            DWORD written = 0;
            doc.appOk = StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&info)) &&
                        WritePrinter(h, job_.data(), static_cast<DWORD>(job_.size()), &written) &&
                        EndDocPrinter(h);
            ClosePrinter(h);
        }
        control::ClearFaults();
        control::ClearHooks();
        for (int op = 0; op < control::kOpCount; ++op) {
            doc.counts[size_t(op)] = control::CallCount(Op(op));
        }
        doc.outcome = control::LastJobOutcome();
        const std::vector<control::WriteRecord> records = control::Writes();
        EXPECT_EQ(records.size(), doc.writes.size());
        for (size_t i = 0; i < records.size() && i < doc.writes.size(); ++i) {
            doc.writes[i].bytes = records[i].bytes;
            doc.writes[i].accepted = records[i].accepted;
        }
        doc.port = FileBytes(control::PortTarget(kPort));
        doc.capture = FileBytes(CapturePath());
        doc.printersLeft = control::OpenPrinterHandles();
        doc.filesLeft = control::OpenFileHandles();
        return doc;
    }

    // What every document must show: it was spooled, run through the monitor, and left nothing open.
    void ExpectTidy(const Document& doc, const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(doc.appOk) << "the application's document";
        ASSERT_TRUE(doc.outcome.has_value());
        EXPECT_TRUE(doc.outcome->opened);
        EXPECT_TRUE(doc.outcome->closed);
        EXPECT_EQ(doc.printersLeft, 0u) << "printer handles left open";
        EXPECT_EQ(doc.filesLeft, 0u) << "files left open (the capture)";
    }
    // A document that reached the port through the monitor, with the processor's writes as `expected`.
    void ExpectPrinted(const Document& doc, const std::vector<ExpectedWrite>& expected, const Bytes& capture,
                       const std::string& what) {
        ExpectTidy(doc, what);
        SCOPED_TRACE(what);
        ASSERT_TRUE(doc.outcome.has_value());
        EXPECT_TRUE(doc.outcome->printed);
        EXPECT_TRUE(doc.outcome->viaMonitor);
        EXPECT_TRUE(doc.Written() == expected) << "writes: expected " << Describe(expected) << "\n  actual "
                                               << Describe(doc.Written());
        EXPECT_TRUE(doc.port == doc.Accepted()) << "the port holds " << doc.port.size() << " bytes, not the "
                                                << doc.Accepted().size() << " it took";
        EXPECT_TRUE(doc.capture == capture) << "capture of " << doc.capture.size() << " bytes, expected "
                                            << capture.size();
    }
    // A document that could not start on the port: nothing written, the capture as it was.
    void ExpectNotStarted(const Document& doc, const std::string& what) {
        ExpectTidy(doc, what);
        SCOPED_TRACE(what);
        ASSERT_TRUE(doc.outcome.has_value());
        EXPECT_FALSE(doc.outcome->printed) << "the processor's document could not start";
        EXPECT_TRUE(doc.writes.empty());
        EXPECT_TRUE(doc.port.empty());
        EXPECT_TRUE(doc.capture == kPreviousCapture) << "the capture of the document before is left as it was";
        EXPECT_EQ(doc.Count(Op::ReadPrinter), 0u) << "the job is not read";
    }

    Bytes job_;
    unsigned copies_ = 1;
};

TEST_P(MonitorSweep, EveryPortFailureEndsAsDocumented) {
    const Document clean = Print(std::nullopt);
    ASSERT_FALSE(clean.writes.empty());
    ASSERT_EQ(clean.writes.size() % copies_, 0u);
    const std::vector<WriteSeen> pass(clean.writes.begin(), clean.writes.begin() + ptrdiff_t(clean.writes.size() / copies_));
    const std::vector<ExpectedWrite> whole = WholePasses(pass, copies_);
    ExpectPrinted(clean, whole, clean.Offered(), "unfaulted");
    EXPECT_TRUE(clean.port == Join(whole)) << "the port holds every pass";
    for (Op op : {Op::OpenPort, Op::StartDocPort, Op::EndDocPort, Op::ClosePort, Op::CreateFile}) {
        ASSERT_EQ(clean.Count(op), 1u) << "one per document: op " << int(op);
    }
    ASSERT_EQ(clean.Count(Op::WritePort), clean.writes.size());
    ASSERT_EQ(clean.Count(Op::WriteFile), clean.writes.size());
    ExpectNoLeaks("the monitor sweep's machine was set up");

    // The port cannot be opened, or the document not started on it: the processor's StartDocPrinterW fails.
    ExpectNotStarted(Print(control::Fault{Op::OpenPort, 1}), "OpenPort fails");
    ExpectNotStarted(Print(control::Fault{Op::StartDocPort, 1}), "StartDocPort fails");
    // The end of the document and the port's close report failure, which changes nothing.
    ExpectPrinted(Print(control::Fault{Op::EndDocPort, 1}), whole, clean.Offered(), "EndDocPort fails");
    ExpectPrinted(Print(control::Fault{Op::ClosePort, 1}), whole, clean.Offered(), "ClosePort fails");
    // Without a capture file the document still goes to the port.
    ExpectPrinted(Print(control::Fault{Op::CreateFile, 1}), whole, kPreviousCapture, "the capture cannot be made");
    ExpectNoLeaks("the port's open, start, end and close");
    size_t runs = 5;

    for (uint64_t n : CallsToBreak(clean.writes.size(), 80)) {
        runs += 3;
        const size_t k = n - 1;
        const Bytes& bytes = clean.writes[k].bytes;
        const std::string at = "port write " + std::to_string(n) + " of " + std::to_string(bytes.size()) + " bytes";
        // A refused write fails the processor's write, whose pass ends there unless the outcome of that
        // write is not looked at; the capture has the refused buffer all the same.
        Document doc = Print(control::Fault{Op::WritePort, n});
        std::vector<ExpectedWrite> expected = AfterFailedWrite(pass, copies_, k, 0);
        ExpectPrinted(doc, expected, Join(expected), at + " fails");

        // A write that takes part of the buffer: the spooler offers the rest again, the processor's write
        // succeeds, and the capture holds the rest twice.
        const DWORD keep = std::max<DWORD>(1, static_cast<DWORD>(bytes.size() / 2));
        doc = Print(control::Fault{Op::WritePort, n, FaultKind::Short, keep});
        Bytes capture = Join(std::vector<ExpectedWrite>(whole.begin(), whole.begin() + ptrdiff_t(n)));
        capture.insert(capture.end(), bytes.begin() + std::min<size_t>(keep, bytes.size()), bytes.end());
        const Bytes after = Join(std::vector<ExpectedWrite>(whole.begin() + ptrdiff_t(n), whole.end()));
        capture.insert(capture.end(), after.begin(), after.end());
        ExpectPrinted(doc, whole, keep < bytes.size() ? capture : clean.Offered(),
                      at + " takes " + std::to_string(keep));

        // The capture's copy of this buffer cannot be written: the port gets it, the capture lacks it.
        doc = Print(control::Fault{Op::WriteFile, n});
        capture = clean.Offered();
        size_t start = 0;
        for (size_t i = 0; i < k; ++i) {
            start += clean.writes[i].bytes.size();
        }
        capture.erase(capture.begin() + ptrdiff_t(start), capture.begin() + ptrdiff_t(start + bytes.size()));
        ExpectPrinted(doc, whole, capture, "capture write " + std::to_string(n) + " fails");
    }
    ExpectNoLeaks("the port's and the capture's writes");
    std::printf("%s, %u %s: %zu documents with a fault, %zu writes per unfaulted document\n",
                std::get<0>(GetParam()), copies_, copies_ == 1 ? "copy" : "copies", runs, clean.writes.size());
}

INSTANTIATE_TEST_SUITE_P(Samples, MonitorSweep,
                         ::testing::Combine(::testing::Values("receipt", "text"), ::testing::Values(1u, 2u)),
                         [](const ::testing::TestParamInfo<std::tuple<const char*, unsigned>>& info) {
                             return std::string(std::get<0>(info.param)) + "_" +
                                    std::to_string(std::get<1>(info.param)) + "copies";
                         });

} // namespace
} // namespace kqhard
