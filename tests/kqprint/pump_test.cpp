// The job pump: batching of plain bytes, hand-over to the command handlers, copy passes, the DLE handler,
// and what failing reads, writes and opens do to a pass and to the document.
#include "rig.h"

#include <fstream>
#include <iterator>
#include <string>

namespace kqtest {
namespace {

using control::Op;

constexpr int DLE = 0x10;
constexpr int ESC = 0x1B;
constexpr int FS = 0x1C;
constexpr int GS = 0x1D;

// `n` bytes that are no command prefix.
Bytes Plain(size_t n) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<BYTE>('a' + i % 26);
    }
    return out;
}

class PumpTest : public ProcessorTest {
  protected:
    // Spools `job` and opens it for `copies` passes; counters and recorded writes start afresh.
    HANDLE Prepare(const Bytes& job, DWORD copies = 1) {
        Spool(job);
        const std::string parameters = "COPIES=" + std::to_string(copies) + ";";
        HANDLE h = Open(std::u16string(parameters.begin(), parameters.end()));
        EXPECT_NE(h, nullptr);
        control::ResetCounters();
        control::ClearWrites();
        return h;
    }
    // Prints and closes; `ended_` tells whether the document was ended before the close.
    BOOL PrintAndClose(HANDLE h) {
        const BOOL result = Print(h);
        ended_ = control::CallCount(Op::EndDocPort);
        EXPECT_TRUE(ClosePrintProcessor(h));
        return result;
    }
    // What reached the printer's port.
    Bytes PortBytes() const {
        std::ifstream in(control::PortTarget("FILE:"), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    uint64_t ended_ = 0;
};

TEST_F(PumpTest, PlainBytesGoOutInBatchesOf256) {
    struct Case {
        size_t size;
        std::vector<size_t> writes;
    };
    const Case cases[] = {
        {300, {256, 44}},  {256, {256}},         {1, {1}}, {255, {255}},
        {512, {256, 256}}, {513, {256, 256, 1}}, {0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const Bytes job = Plain(c.size);
        HANDLE h = Prepare(job);
        EXPECT_TRUE(PrintAndClose(h));
        std::vector<size_t> sizes;
        for (const Bytes& w : WriteChunks()) {
            sizes.push_back(w.size());
        }
        EXPECT_EQ(sizes, c.writes);
        EXPECT_EQ(Output(), job);
        EXPECT_EQ(control::CallCount(Op::StartDocPrinter), 1u);
        EXPECT_EQ(ended_, 1u); // the document was ended
    }
}

TEST_F(PumpTest, BufferIsWrittenBeforeEachCommandAndCommandsGoOutWhole) {
    struct Case {
        const char* what;
        Bytes job;
        std::vector<Bytes> writes;
    };
    const Case cases[] = {
        {"plain then ESC", B({'A', 'B', ESC, '@'}), {B("AB"), B({ESC, '@'})}},
        {"ESC first: no write before it", B({ESC, '@', 'A', 'B'}), {B({ESC, '@'}), B("AB")}},
        {"two commands", B({ESC, '@', ESC, '@'}), {B({ESC, '@'}), B({ESC, '@'})}},
        {"FS", B({'A', FS, 'p', 1, 0, 'B'}), {B("A"), B({FS, 'p', 1, 0}), B("B")}},
        {"GS", B({'A', GS, '!', 0x11, 'B'}), {B("A"), B({GS, '!', 0x11}), B("B")}},
        {"full batch then ESC: no empty write",
         Concat({Plain(256), B({ESC, '@'})}),
         {Plain(256), B({ESC, '@'})}},
        {"255 then ESC", Concat({Plain(255), B({ESC, '@', 'z'})}), {Plain(255), B({ESC, '@'}), B("z")}},
        {"DLE", B({DLE, 0x04, 0x01}), {B({DLE, 0x04, 0x01})}},
        {"DLE between plain bytes", B({'A', DLE, 0x04, 0x01, 'B'}), {B("A"), B({DLE, 0x04, 0x01}), B("B")}},
        {"DLE's bytes are not prefixes", B({DLE, ESC, DLE, 'C'}), {B({DLE, ESC, DLE}), B("C")}},
        {"DLE cut short at the end", B({'A', 'B', DLE, 0x04}), {B("AB")}},
        {"DLE alone at the end", B({DLE}), {}},
        {"a refused command ends the pass", B({'A', ESC, 0xFF, 'C', 'D'}), {B("A")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE h = Prepare(c.job);
        EXPECT_TRUE(PrintAndClose(h));
        EXPECT_EQ(WriteChunks(), c.writes);
        EXPECT_EQ(ended_, 1u);
    }
}

TEST_F(PumpTest, EachCopyReadsTheWholeJobAgainInOneDocument) {
    const Bytes job = Concat({B({'A', 'B', ESC, '@'}), Plain(300), B({DLE, 0x04, 0x01})});
    const std::vector<Bytes> pass = {B("AB"), B({ESC, '@'}), Plain(256), Bytes(job.end() - 47, job.end() - 3),
                                     B({DLE, 0x04, 0x01})};
    HANDLE h = Prepare(job, 3);
    EXPECT_TRUE(PrintAndClose(h));
    std::vector<Bytes> expected;
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), pass.begin(), pass.end());
    }
    EXPECT_EQ(WriteChunks(), expected);
    EXPECT_EQ(control::CallCount(Op::StartDocPrinter), 1u);
    EXPECT_EQ(control::CallCount(Op::OpenPrinter), 3u); // one reading of the job per copy
    EXPECT_EQ(ended_, 1u);
    EXPECT_EQ(PortBytes(), Concat({job, job, job}));
}

TEST_F(PumpTest, NoCopiesOrAnEmptyJobMakeAnEmptyDocument) {
    struct Case {
        const char* what;
        Bytes job;
        DWORD copies;
        uint64_t openings;
        uint64_t reads;
    };
    const Case cases[] = {
        {"copies 0", Plain(10), 0, 0, 0},
        {"empty job", {}, 1, 1, 1},
        {"empty job, copies 2", {}, 2, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE h = Prepare(c.job, c.copies);
        EXPECT_TRUE(PrintAndClose(h));
        EXPECT_TRUE(control::Writes().empty());
        EXPECT_EQ(control::CallCount(Op::StartDocPrinter), 1u);
        EXPECT_EQ(ended_, 1u);
        EXPECT_EQ(control::CallCount(Op::OpenPrinter), c.openings);
        EXPECT_EQ(control::CallCount(Op::ReadPrinter), c.reads);
    }
}

TEST_F(PumpTest, AFailedWriteEndsOnlyItsPass) {
    struct Write {
        Bytes bytes;
        DWORD accepted;
    };
    struct Case {
        const char* what;
        Bytes job;
        DWORD copies;
        control::Fault fault;
        std::vector<Write> writes;
    };
    const Bytes cmd = B({'A', 'B', ESC, '@', 'C', 'D'});
    const Bytes ab = B("AB"), esc = B({ESC, '@'}), cd = B("CD");
    const Bytes plain = Plain(300);
    const Bytes head(plain.begin(), plain.begin() + 256), tail(plain.begin() + 256, plain.end());
    const control::Fault fail1{Op::WritePrinter, 1, control::FaultKind::Fail};
    const control::Fault fail2{Op::WritePrinter, 2, control::FaultKind::Fail};
    const control::Fault keep100{Op::WritePrinter, 1, control::FaultKind::Short, 100};
    const control::Fault keep1{Op::WritePrinter, 1, control::FaultKind::Short, 1};
    const Case cases[] = {
        {"batch write fails, first of two passes", plain, 2, fail1, {{head, 0}, {head, 256}, {tail, 44}}},
        {"flush before a command fails", cmd, 2, fail1, {{ab, 0}, {ab, 2}, {esc, 2}, {cd, 2}}},
        {"command write fails", cmd, 2, fail2, {{ab, 2}, {esc, 0}, {ab, 2}, {esc, 2}, {cd, 2}}},
        {"short batch write: the rest of the pass is dropped", plain, 1, keep100, {{head, 100}}},
        {"short flush before a command", cmd, 1, keep1, {{ab, 1}}},
        {"last write of a pass fails", plain, 2, fail2, {{head, 256}, {tail, 0}, {head, 256}, {tail, 44}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE h = Prepare(c.job, c.copies);
        control::InjectFault(c.fault);
        EXPECT_TRUE(PrintAndClose(h));
        control::ClearFaults();
        const std::vector<control::WriteRecord> writes = control::Writes();
        ASSERT_EQ(writes.size(), c.writes.size());
        for (size_t i = 0; i < writes.size(); ++i) {
            EXPECT_EQ(writes[i].bytes, c.writes[i].bytes) << "write " << i;
            EXPECT_EQ(writes[i].accepted, c.writes[i].accepted) << "write " << i;
        }
        EXPECT_EQ(ended_, 1u);
    }
}

TEST_F(PumpTest, AFailedReadIsTheEndOfThePass) {
    const Bytes job = B("ABCDEFGHIJ");
    for (const control::Fault& fault : {control::Fault{Op::ReadPrinter, 5, control::FaultKind::Fail},
                                        control::Fault{Op::ReadPrinter, 5, control::FaultKind::Short, 0}}) {
        SCOPED_TRACE(fault.kind == control::FaultKind::Fail ? "failed read" : "empty read");
        HANDLE h = Prepare(job, 2);
        control::InjectFault(fault);
        EXPECT_TRUE(PrintAndClose(h));
        control::ClearFaults();
        EXPECT_EQ(WriteChunks(), (std::vector<Bytes>{B("ABCD"), job})); // bytes read before it still go out
    }
}

TEST_F(PumpTest, JobThatCannotBeOpenedAgainEndsTheDocumentWithFailure) {
    const Bytes job = Plain(20);
    HANDLE h = Prepare(job, 3);
    control::InjectFault({Op::OpenPrinter, 2, control::FaultKind::Fail, 0, ERROR_ACCESS_DENIED});
    SetLastError(0);
    EXPECT_FALSE(Print(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(control::CallCount(Op::EndDocPort), 1u);
    EXPECT_TRUE(ClosePrintProcessor(h));
    EXPECT_EQ(control::CallCount(Op::OpenPrinter), 2u); // no third try
    EXPECT_EQ(Output(), job);                           // the first copy stays printed
}

TEST_F(PumpTest, DocumentThatCannotBeStartedIsNeitherReadNorEnded) {
    HANDLE h = Prepare(Plain(20), 2);
    control::InjectFault({Op::StartDocPrinter, 1, control::FaultKind::Fail, 0, ERROR_ACCESS_DENIED});
    SetLastError(0);
    EXPECT_FALSE(Print(h));
    // An EndDocPrinter without a document would have left ERROR_SPL_NO_STARTDOC.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(ClosePrintProcessor(h));
    EXPECT_EQ(control::CallCount(Op::OpenPrinter), 0u);
    EXPECT_EQ(control::CallCount(Op::ReadPrinter), 0u);
    EXPECT_EQ(control::CallCount(Op::EndDocPort), 0u);
    EXPECT_TRUE(control::Writes().empty());
}

} // namespace
} // namespace kqtest
