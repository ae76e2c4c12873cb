// Choices the processor's and the monitor's contracts leave to their maker that no other suite shows:
// a page image whose block cannot be had whole, a page that cannot have even one row, a port monitor
// without EndDocPort, and the trace line of a document printed without its capture.
//
// Blocks of the standard heap are refused from here (linked with --wrap for malloc, calloc and realloc):
// a test names the sizes that cannot be had.
#include "../kqmon/harness.h"
#include "kqprint.h"
#include "machine.h"

#include <cstdlib>
#include <functional>

namespace {
std::function<bool(size_t)> g_refuse; // sizes of heap blocks that cannot be had; none: all can
}

extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __real_realloc(void* block, size_t size);
extern "C" void* __wrap_malloc(size_t size) { return g_refuse && g_refuse(size) ? nullptr : __real_malloc(size); }
extern "C" void* __wrap_calloc(size_t count, size_t size) {
    return g_refuse && size && count <= SIZE_MAX / size && g_refuse(count * size) ? nullptr
                                                                                  : __real_calloc(count, size);
}
extern "C" void* __wrap_realloc(void* block, size_t size) {
    return g_refuse && g_refuse(size) ? nullptr : __real_realloc(block, size);
}

namespace kqhard {
namespace {

using kqtest::B;
using kqtest::Bytes;
using kqtest::Concat;
using kqtest::Pattern;
namespace control = kqwin::control;

constexpr int ESC = 0x1B, GS = 0x1D;

// A GS v 0 band of `width` bytes by `rows` rows.
Bytes Band(int width, int rows, const Bytes& data) {
    return Concat({B({GS, 'v', '0', 0, width & 0xFF, width >> 8, rows & 0xFF, rows >> 8}), data});
}

class PageImageTest : public kqtest::MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(kqtest::AddDiscardingPrinter("Page Printer"));
    }
    void TearDown() override {
        g_refuse = nullptr;
        MachineTest::TearDown();
    }

    // Opens, prints and closes `job` with `copies` passes while the sizes `refuse` names cannot be had.
    BOOL Print(const Bytes& job, unsigned copies, std::function<bool(size_t)> refuse) {
        const DWORD jobId = control::SpoolJob("Page Printer", job);
        control::DespoolScope despool("Page Printer", jobId);
        std::u16string readName = control::JobReadName("Page Printer", jobId);
        kqtest::ProcessorOpenData od(u"Page Printer", jobId, kqtest::CopiesParameter(copies));
        HANDLE h = OpenPrintProcessor(od.printer.data(), &od.data);
        EXPECT_NE(h, nullptr);
        if (!h) {
            return FALSE;
        }
        control::ClearWrites();
        g_refuse = std::move(refuse);
        const BOOL printed = PrintDocumentOnPrintProcessor(h, readName.data());
        g_refuse = nullptr;
        EXPECT_TRUE(ClosePrintProcessor(h));
        return printed;
    }
};

// A page image block of `width` bytes per row and more than `rows` rows (the 8-byte header included).
std::function<bool(size_t)> ImagesOver(size_t width, size_t rows) {
    return [=](size_t size) { return size > 8 && (size - 8) % width == 0 && (size - 8) / width > rows; };
}

TEST_F(PageImageTest, PageWhoseBlockCannotBeHadGoesOutAsImagesOfHalfTheRows) {
    // Ten bands of 4 x 100 make a page of 1000 rows; no block of more than 300 rows can be had, so the rows
    // per image are halved to 500 (still too many) and then 250: four images that print the same dots.
    Bytes job;
    Bytes rows;
    for (int i = 0; i < 10; ++i) {
        const Bytes data = Pattern(400, unsigned(i) * 31);
        job = Concat({job, Band(4, 100, data)});
        rows = Concat({rows, data});
    }
    job = Concat({job, B({ESC, 'P', 'e', 0}), B("end")});
    ASSERT_TRUE(Print(job, 1, ImagesOver(4, 300)));
    const std::vector<Bytes> writes = kqtest::WriteChunks();
    ASSERT_EQ(writes.size(), 6u);
    Bytes joined;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(writes[size_t(i)].size(), 8u + 4 * 250);
        EXPECT_EQ(Bytes(writes[size_t(i)].begin(), writes[size_t(i)].begin() + 8), B({GS, 'v', '0', 0, 4, 0, 250, 0}));
        joined.insert(joined.end(), writes[size_t(i)].begin() + 8, writes[size_t(i)].end());
    }
    EXPECT_TRUE(joined == rows) << "the images' rows differ from the stacked bands";
    EXPECT_EQ(writes[4], B({ESC, 'J', 238}));
    EXPECT_EQ(writes[5], B("end"));

    // Whole, the same page is one image.
    ASSERT_TRUE(Print(job, 1, nullptr));
    ASSERT_EQ(kqtest::WriteChunks().size(), 3u);
    EXPECT_EQ(kqtest::WriteChunks()[0].size(), 8u + 4 * 1000);
}

TEST_F(PageImageTest, PageThatCannotHaveOneRowEndsThePass) {
    // A band of 1000 x 1 and a feed that becomes 32 blank rows; then the page is to be written, by a feed
    // or by the end-of-page directive, and no block of even one row of 1000 bytes can be had. The command
    // fails: its feed is not sent, the pass ends, and the next copy pass runs the same way.
    const Bytes band = Band(1000, 1, Pattern(1000, 7));
    struct Case {
        const char* what;
        Bytes flush;
    };
    const Case cases[] = {
        {"a feed with no band pending", B({ESC, 'J', 10})},
        {"the end-of-page directive", B({ESC, 'P', 'e', 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes job = Concat({B("before"), band, B({ESC, 'J', 30}), c.flush, B("after")});
        EXPECT_TRUE(Print(job, 2, ImagesOver(1000, 0)));
        EXPECT_EQ(kqtest::WriteChunks(), (std::vector<Bytes>{B("before"), B("before")}));
        // with the memory, the page goes out and the pass goes on
        EXPECT_TRUE(Print(job, 1, nullptr));
        const std::vector<Bytes> writes = kqtest::WriteChunks();
        ASSERT_EQ(writes.size(), 4u);
        EXPECT_EQ(writes[1].size(), 8u + 1000 * (1 + 203 * 29 / 180));
        EXPECT_EQ(writes[3], B("after"));
    }
}

} // namespace
} // namespace kqhard

namespace kqmontest {
namespace {

namespace control = kqwin::control;

TEST_P(MonitorTest, PortMonitorWithoutEndDocPortStillEndsTheDocument) {
    // EndDocPort is not required at port open; a document still ends with its printer handle and capture
    // file closed, and the next document starts a capture of its own.
    RemoveLowerEntry(LowerEntry::EndDocPort);
    const size_t printers = control::OpenPrinterHandles();
    HANDLE port = OpenPort();
    ASSERT_NE(port, nullptr);
    PrintDocument(port, 1, {Text("first")});
    EXPECT_EQ(control::OpenPrinterHandles(), printers);
    EXPECT_EQ(control::OpenFileHandles(), 0u);
    PrintDocument(port, 2, {Text("second")});
    std::vector<BYTE> capture;
    ASSERT_TRUE(ReadCapture(&capture));
    EXPECT_EQ(capture, Text("second"));
    EXPECT_EQ(Fake().written, Text("firstsecond"));
    EXPECT_TRUE(ClosePort(port));
    EXPECT_EQ(control::OpenPrinterHandles(), printers);
}

TEST_P(MonitorTest, DocumentWithoutCaptureSaysSoInTheTrace) {
    // Besides the fixed lines, one line of its own (level 3, written like every line, whatever its level)
    // tells that a document went to the port without its copy, and why.
    HANDLE port = OpenPort();
    TakeTrace();
    control::InjectFault({control::Op::CreateFile, 1, control::FaultKind::Fail, 0, ERROR_ACCESS_DENIED});
    PrintDocument(port, 12, {Text("abc")});
    control::ClearFaults();
    EXPECT_EQ(TakeTrace(), (std::vector<std::string>{"KQMonStartDocPort(level:1)\n",
                                                     "kqmon: capture skipped for job 12, error 5\n",
                                                     "KQMonStartDocPort() ok?1\n", "KQMonWritePort() 3 bytes\n",
                                                     "KQMonEndDocPort() \n"}));
    EXPECT_EQ(Fake().written, Text("abc"));
    EXPECT_TRUE(ClosePort(port));
}

} // namespace
} // namespace kqmontest
