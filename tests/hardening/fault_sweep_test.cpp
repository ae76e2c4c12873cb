// The print processor under every failure of the platform that it can meet while printing a realistic job:
// each ReadPrinter, WritePrinter, GlobalAlloc, OpenPrinterW, StartDocPrinterW, CreateDCW and GetPrinterW
// fails in turn (reads and writes are also shortened), through the processor's own entry points. Each run
// must end as documented: the return values, the writes (the pass that met the failure ends at the command
// that met it, what that command had written stays, the other passes are whole) and no handle or block
// left behind.
//
// The ReadPrinter of the processor is watched from here (linked with --wrap=ReadPrinter): where each read
// lies in the job is what says how the pass that meets a failed read must end, namely as it ends for the
// job cut short at that place.
#include "kqprint.h"
#include "model.h"
#include "sweep.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>

namespace kqhard {

struct ReadCall {
    DWORD requested = 0;
    DWORD delivered = 0;
    BOOL result = FALSE;
    uint64_t pass = 0;   // 1-based copy pass
    uint64_t offset = 0; // where in the job the read began
};

namespace {

// The reads of the processor while a run is watched.
std::vector<ReadCall>* g_reads = nullptr;
uint64_t g_readPass = 0;
uint64_t g_readOffset = 0;

// The job readers of a run are the processor's second and later printer openings.
uint64_t CurrentPass() {
    const uint64_t opens = control::CallCount(control::Op::OpenPrinter);
    return opens > 0 ? opens - 1 : 0;
}

} // namespace
} // namespace kqhard

extern "C" BOOL WINAPI __real_ReadPrinter(HANDLE printer, LPVOID buffer, DWORD count, LPDWORD read);
extern "C" BOOL WINAPI __wrap_ReadPrinter(HANDLE printer, LPVOID buffer, DWORD count, LPDWORD read) {
    using namespace kqhard;
    const BOOL result = __real_ReadPrinter(printer, buffer, count, read);
    if (g_reads) {
        const uint64_t pass = CurrentPass();
        if (pass != g_readPass) {
            g_readPass = pass;
            g_readOffset = 0;
        }
        const DWORD got = read ? *read : 0;
        g_reads->push_back({count, got, result, pass, g_readOffset});
        g_readOffset += got;
    }
    return result;
}

namespace kqhard {
namespace {

using control::FaultKind;
using control::Op;

constexpr char kPrinter[] = "Sweep Printer";
constexpr DWORD kInjectedError = 0x4B51; // a code no call of the platform leaves by itself

struct AllocCall {
    bool duringOpen = false;
    uint64_t pass = 0;
    uint64_t offset = 0; // where the pass's next read begins
};

struct PrintRun {
    bool opened = false;
    DWORD openError = 0;
    BOOL printed = FALSE;
    DWORD printError = 0;
    BOOL closed = FALSE;
    std::vector<WriteSeen> writes;
    std::vector<uint64_t> writePass;
    std::vector<ReadCall> reads;
    std::vector<AllocCall> allocs;
    std::array<uint64_t, control::kOpCount> counts{};
    long printersLeft = 0;
    size_t filesLeft = 0;

    uint64_t Count(Op op) const { return counts[static_cast<size_t>(op)]; }
    std::vector<ExpectedWrite> Written() const {
        std::vector<ExpectedWrite> out;
        for (const WriteSeen& w : writes) {
            out.push_back({w.bytes, w.accepted});
        }
        return out;
    }
};

bool g_opening = false;

class ProcessorSweep : public kqtest::MachineTest, public ::testing::WithParamInterface<std::tuple<size_t, unsigned>> {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(kqtest::AddDiscardingPrinter(kPrinter));
        const auto [jobIndex, copies] = GetParam();
        const std::vector<SampleJob> jobs = RealisticJobs();
        ASSERT_LT(jobIndex, jobs.size());
        job_ = jobs[jobIndex];
        copies_ = copies;
        ExpectNoLeaks("the machine was set up");
    }

    // Spools `job`, then opens, prints and closes it through the processor's entry points with `fault`
    // armed.
    PrintRun Execute(const Bytes& job, unsigned copies, const std::optional<control::Fault>& fault) {
        PrintRun run;
        const size_t printersBefore = control::OpenPrinterHandles();
        {
            const DWORD jobId = control::SpoolJob(kPrinter, job);
            EXPECT_NE(jobId, 0u);
            control::DespoolScope despool(kPrinter, jobId);
            kqtest::ProcessorOpenData od(u"Sweep Printer", jobId, kqtest::CopiesParameter(copies));
            std::u16string readName = control::JobReadName(kPrinter, jobId);

            g_reads = &run.reads;
            g_readPass = 0;
            g_readOffset = 0;
            control::ResetCounters();
            control::ClearWrites();
            control::SetCallHook(Op::WritePrinter, [&run](uint64_t) {
                run.writes.push_back({{}, 0, run.reads.size()});
                run.writePass.push_back(CurrentPass());
            });
            control::SetCallHook(Op::GlobalAlloc, [&run](uint64_t) {
                const uint64_t pass = CurrentPass();
                run.allocs.push_back({g_opening, pass, pass == g_readPass ? g_readOffset : 0});
            });
            if (fault) {
                control::InjectFault(*fault);
            }
            g_opening = true;
            SetLastError(0);
            HANDLE h = OpenPrintProcessor(od.printer.data(), &od.data);
            run.openError = GetLastError();
            g_opening = false;
            run.opened = h != nullptr;
            if (h) {
                SetLastError(0);
                run.printed = PrintDocumentOnPrintProcessor(h, readName.data());
                run.printError = GetLastError();
                run.closed = ClosePrintProcessor(h);
            }
            control::ClearFaults();
            control::ClearHooks();
            g_reads = nullptr;
            for (int op = 0; op < control::kOpCount; ++op) {
                run.counts[size_t(op)] = control::CallCount(Op(op));
            }
            const std::vector<control::WriteRecord> records = control::Writes();
            EXPECT_EQ(records.size(), run.writes.size()) << "every write of the processor is recorded";
            for (size_t i = 0; i < records.size() && i < run.writes.size(); ++i) {
                run.writes[i].bytes = records[i].bytes;
                run.writes[i].accepted = records[i].accepted;
            }
        }
        run.printersLeft = long(control::OpenPrinterHandles()) - long(printersBefore);
        run.filesLeft = control::OpenFileHandles();
        return run;
    }

    // The writes of one unfaulted pass over the job cut short at `end`.
    const std::vector<WriteSeen>& CutShort(uint64_t end) {
        auto it = cutShort_.find(end);
        if (it == cutShort_.end()) {
            const Bytes part(job_.bytes.begin(), job_.bytes.begin() + static_cast<ptrdiff_t>(end));
            PrintRun run = Execute(part, 1, std::nullopt);
            EXPECT_TRUE(run.printed);
            it = cutShort_.emplace(end, std::move(run.writes)).first;
        }
        return it->second;
    }

    // What a run should write when pass `pass` (1-based) ends as the job cut short at `end` ends, and the
    // other passes are whole.
    std::vector<ExpectedWrite> PassCutShort(uint64_t pass, uint64_t end) {
        std::vector<ExpectedWrite> out;
        for (unsigned p = 1; p <= copies_; ++p) {
            const std::vector<WriteSeen>& writes = p == pass ? CutShort(end) : pass_;
            for (const WriteSeen& w : writes) {
                out.push_back({w.bytes, static_cast<DWORD>(w.bytes.size())});
            }
        }
        return out;
    }

    // Checks what every run must show, then the writes.
    void ExpectRun(const PrintRun& run, const std::vector<ExpectedWrite>& expected, const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(run.printersLeft, 0) << "printer handles left open";
        EXPECT_EQ(run.filesLeft, 0u) << "files left open";
        if (run.opened) {
            EXPECT_TRUE(run.closed);
        }
        const std::vector<ExpectedWrite> actual = run.Written();
        if (actual != expected) {
            size_t i = 0;
            while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) {
                ++i;
            }
            ADD_FAILURE() << "writes differ from write " << i << "\n  expected " << Describe(expected)
                          << "\n  actual   " << Describe(actual);
        }
    }

    SampleJob job_;
    unsigned copies_ = 1;
    PrintRun clean_;
    std::vector<WriteSeen> pass_; // the writes of one unfaulted pass
    std::map<uint64_t, std::vector<WriteSeen>> cutShort_;
};

TEST_P(ProcessorSweep, EveryFailureEndsAsDocumented) {
    ASSERT_FALSE(job_.bytes.empty());
    ASSERT_FALSE(HoldsCopiedImageData(job_.bytes)) << "the write classification assumes no copied image data";

    clean_ = Execute(job_.bytes, copies_, std::nullopt);
    ASSERT_TRUE(clean_.opened);
    ASSERT_TRUE(clean_.printed);
    ASSERT_EQ(clean_.Count(Op::OpenPrinter), 1u + copies_);
    ASSERT_EQ(clean_.writes.size() % copies_, 0u);
    const size_t m = clean_.writes.size() / copies_;
    pass_.assign(clean_.writes.begin(), clean_.writes.begin() + static_cast<ptrdiff_t>(m));
    for (size_t i = 0; i < clean_.writes.size(); ++i) {
        ASSERT_TRUE(clean_.writes[i].bytes == pass_[i % m].bytes) << "copy passes differ at write " << i;
        ASSERT_EQ(clean_.writes[i].accepted, clean_.writes[i].bytes.size());
    }
    // The unfaulted run is what the end-to-end model works out for the job.
    const e2e::Expected model = e2e::ExpectedOutput(job_.bytes, 203, copies_);
    ASSERT_EQ(model.error, "");
    ASSERT_EQ(model.writes.size(), clean_.writes.size());
    for (size_t i = 0; i < model.writes.size(); ++i) {
        ASSERT_TRUE(model.writes[i] == clean_.writes[i].bytes) << "write " << i << " is not the model's";
    }
    ExpectRun(clean_, WholePasses(pass_, copies_), "unfaulted");
    ASSERT_GT(m, 0u);

    // Every run below is one of these, with one fault armed. The sample jobs have every call of their first
    // pass broken; the bigger jobs of the encoders every write and a sample of their reads.
    const bool small = job_.name == "receipt" || job_.name == "text";
    const size_t readBudget = 48;
    const size_t writeBudget = m <= 160 ? SIZE_MAX : 96;
    size_t runs = 0;

    {
        SCOPED_TRACE("WritePrinter");
        for (uint64_t n : CallsToBreak(clean_.Count(Op::WritePrinter), writeBudget)) {
            const size_t k = n - 1;
            const Bytes& bytes = clean_.writes[k].bytes;
            const PrintRun failed = Execute(job_.bytes, copies_, control::Fault{Op::WritePrinter, n});
            EXPECT_TRUE(failed.printed);
            ExpectRun(failed, AfterFailedWrite(pass_, copies_, k, 0), "write " + std::to_string(n) + " fails");
            const DWORD keep = static_cast<DWORD>(bytes.size() / 2);
            const PrintRun shortened =
                Execute(job_.bytes, copies_, control::Fault{Op::WritePrinter, n, FaultKind::Short, keep});
            EXPECT_TRUE(shortened.printed);
            ExpectRun(shortened, AfterFailedWrite(pass_, copies_, k, keep),
                      "write " + std::to_string(n) + " takes " + std::to_string(keep) + " bytes");
            runs += 2;
        }
        ExpectNoLeaks("the WritePrinter sweep");
    }

    {
        SCOPED_TRACE("ReadPrinter");
        const std::vector<ReadCall>& reads = clean_.reads;
        ASSERT_EQ(reads.size(), clean_.Count(Op::ReadPrinter));
        std::vector<uint64_t> calls = CallsToBreak(reads.size(), readBudget);
        if (small) {
            for (size_t i = 0; i < reads.size() && reads[i].pass == 1; ++i) {
                calls.push_back(i + 1); // every read of the first pass
            }
        }
        // the reads of commands' parameters and data, which are few, are all broken
        std::vector<uint64_t> commandReads;
        for (size_t i = 0; i < reads.size(); ++i) {
            if (reads[i].requested > 1 && reads[i].pass == 1) {
                commandReads.push_back(i + 1);
            }
        }
        for (uint64_t n : CallsToBreak(commandReads.size(), readBudget)) {
            calls.push_back(commandReads[n - 1]);
        }
        std::sort(calls.begin(), calls.end());
        calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
        for (uint64_t n : calls) {
            const ReadCall& read = reads[n - 1];
            const std::string where = "read " + std::to_string(n) + " (pass " + std::to_string(read.pass) +
                                      ", offset " + std::to_string(read.offset) + ", " +
                                      std::to_string(read.requested) + " bytes)";
            // A read that fails, or delivers nothing, ends the pass as the end of the job would there.
            const PrintRun failed = Execute(job_.bytes, copies_, control::Fault{Op::ReadPrinter, n});
            EXPECT_TRUE(failed.printed);
            ExpectRun(failed, PassCutShort(read.pass, read.offset), where + " fails");
            const PrintRun empty = Execute(job_.bytes, copies_, control::Fault{Op::ReadPrinter, n, FaultKind::Short, 0});
            EXPECT_TRUE(empty.printed);
            ExpectRun(empty, PassCutShort(read.pass, read.offset), where + " delivers nothing");
            runs += 2;
            if (read.requested > 1) {
                // Part of what was asked for: the image data of GS v 0 is read until it is all in; every
                // other read of a command must be whole.
                const DWORD keep = read.requested / 2;
                const bool imageData = n >= 2 && reads[n - 2].requested == 6 && read.offset >= 8 &&
                                       job_.bytes[read.offset - 8] == 0x1D && job_.bytes[read.offset - 7] == 0x76;
                const PrintRun part =
                    Execute(job_.bytes, copies_, control::Fault{Op::ReadPrinter, n, FaultKind::Short, keep});
                EXPECT_TRUE(part.printed);
                ExpectRun(part, imageData ? WholePasses(pass_, copies_) : PassCutShort(read.pass, read.offset),
                          where + " delivers " + std::to_string(keep) + " bytes");
                ++runs;
            }
        }
        ExpectNoLeaks("the ReadPrinter sweep");
    }

    {
        SCOPED_TRACE("GlobalAlloc");
        // Open allocates the record and copies five strings of the open data (its output file is none), in
        // this order, and with more than one copy reads the printer's information.
        enum Block { Record = 1, PrinterName, Datatype, DocumentName, Parameters, OpenDataPrinterName, PrinterInfo };
        size_t openAllocs = 0;
        for (const AllocCall& a : clean_.allocs) {
            openAllocs += a.duringOpen;
        }
        ASSERT_EQ(openAllocs, copies_ > 1 ? 7u : 6u);
        for (uint64_t n = 1; n <= clean_.allocs.size(); ++n) {
            const AllocCall& alloc = clean_.allocs[n - 1];
            const PrintRun run = Execute(job_.bytes, copies_, control::Fault{Op::GlobalAlloc, n});
            const std::string what = "allocation " + std::to_string(n);
            if (n == Record) {
                EXPECT_FALSE(run.opened) << what;
                EXPECT_EQ(run.openError, DWORD{ERROR_NOT_ENOUGH_MEMORY}) << what;
                ExpectRun(run, {}, what + ": the record");
            } else if (alloc.duringOpen) {
                // A string that cannot be copied stays empty; without the parameters, or without the
                // printer's information, the job gets one pass.
                EXPECT_TRUE(run.opened) << what;
                EXPECT_TRUE(run.printed) << what;
                const bool onePass = n == Parameters || n == PrinterInfo;
                ExpectRun(run, WholePasses(pass_, onePass ? 1 : copies_), what + " during open");
            } else {
                // Copied command data: the command fails as if the job ended where its data begins.
                EXPECT_TRUE(run.printed) << what;
                ExpectRun(run, PassCutShort(alloc.pass, alloc.offset), what + " while printing");
            }
            ++runs;
        }
        ExpectNoLeaks("the GlobalAlloc sweep");
    }

    {
        SCOPED_TRACE("OpenPrinterW");
        for (uint64_t n = 1; n <= clean_.Count(Op::OpenPrinter); ++n) {
            const PrintRun run = Execute(job_.bytes, copies_, control::Fault{Op::OpenPrinter, n, FaultKind::Fail, 0,
                                                                        kInjectedError});
            const std::string what = "opening " + std::to_string(n);
            if (n == 1) {
                EXPECT_FALSE(run.opened) << what << ": the printer";
                EXPECT_EQ(run.openError, kInjectedError) << what;
                ExpectRun(run, {}, what);
            } else {
                // The job cannot be read for pass n - 1: the passes before it stay printed, and the print
                // reports failure.
                EXPECT_TRUE(run.opened) << what;
                EXPECT_FALSE(run.printed) << what;
                EXPECT_EQ(run.printError, kInjectedError) << what;
                EXPECT_EQ(run.Count(Op::OpenPrinter), n) << what << ": no later pass opens the job";
                ExpectRun(run, WholePasses(pass_, unsigned(n - 2)), what + ": the job for a pass");
            }
            ++runs;
        }
        ExpectNoLeaks("the OpenPrinterW sweep");
    }

    {
        SCOPED_TRACE("StartDocPrinterW, CreateDCW, GetPrinterW");
        ASSERT_EQ(clean_.Count(Op::StartDocPrinter), 1u);
        PrintRun run = Execute(job_.bytes, copies_,
                          control::Fault{Op::StartDocPrinter, 1, FaultKind::Fail, 0, kInjectedError});
        EXPECT_TRUE(run.opened);
        EXPECT_FALSE(run.printed);
        EXPECT_EQ(run.printError, kInjectedError);
        EXPECT_EQ(run.Count(Op::OpenPrinter), 1u) << "the job is not opened for a document that did not start";
        EXPECT_EQ(run.Count(Op::ReadPrinter), 0u);
        ExpectRun(run, {}, "document start fails");

        ASSERT_EQ(clean_.Count(Op::CreateDC), 1u);
        run = Execute(job_.bytes, copies_, control::Fault{Op::CreateDC, 1, FaultKind::Fail, 0, kInjectedError});
        EXPECT_FALSE(run.opened);
        EXPECT_EQ(run.openError, kInjectedError);
        ExpectRun(run, {}, "no device context");

        // The printer's information decides the copies only when more than one is asked for.
        ASSERT_EQ(clean_.Count(Op::GetPrinter), copies_ > 1 ? 1u : 0u);
        for (DWORD error : {DWORD{ERROR_INVALID_HANDLE}, DWORD{ERROR_INSUFFICIENT_BUFFER}}) {
            if (copies_ == 1) {
                break;
            }
            run = Execute(job_.bytes, copies_, control::Fault{Op::GetPrinter, 1, FaultKind::Fail, 0, error});
            EXPECT_TRUE(run.printed);
            EXPECT_LE(run.Count(Op::GetPrinter), 2u) << "at most one retry";
            ExpectRun(run, WholePasses(pass_, 1), "no printer information, error " + std::to_string(error));
        }
        runs += 4;
        ExpectNoLeaks("the document start, device context and printer information sweep");
    }
    RecordProperty("runs", static_cast<int>(runs));
    std::printf("%s, %u %s: %zu runs with a fault, %zu writes and %zu reads per unfaulted run\n",
                job_.name.c_str(), copies_, copies_ == 1 ? "copy" : "copies", runs, clean_.writes.size(),
                clean_.reads.size());
}

std::string SweepName(const ::testing::TestParamInfo<std::tuple<size_t, unsigned>>& info) {
    static const std::vector<SampleJob> jobs = RealisticJobs();
    std::string name = std::get<0>(info.param) < jobs.size() ? jobs[std::get<0>(info.param)].name : "missing";
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name + "_" + std::to_string(std::get<1>(info.param)) + "copies";
}

INSTANTIATE_TEST_SUITE_P(RealisticJobs, ProcessorSweep,
                         ::testing::Combine(::testing::Range<size_t>(0, RealisticJobs().size()),
                                            ::testing::Values(1u, 2u)),
                         SweepName);

} // namespace
} // namespace kqhard
