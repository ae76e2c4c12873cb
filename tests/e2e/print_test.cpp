// Whole jobs through kqspool, the spooler, KQPRINT (and KQMON when it is built) to the port: the sample
// jobs and the jobs of real ESC/POS client libraries, checked with the escpos decoder against what the
// print processor is to send (model.h).
#include "harness.h"
#include "model.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <tuple>

namespace e2e {
namespace {

using escpos::Bitmap;
using escpos::Item;
using escpos::Kind;

// The stream as a list of readable tokens: adjacent text merged (the processor drops directives between
// text runs), every command with its bytes, raster images by their size only (compared on their own).
std::vector<std::string> Tokens(const Bytes& stream) {
    std::vector<std::string> tokens;
    std::string text;
    for (const Item& item : escpos::Decode(stream)) {
        const Bytes bytes(stream.begin() + static_cast<ptrdiff_t>(item.offset),
                          stream.begin() + static_cast<ptrdiff_t>(item.end()));
        if (item.kind == Kind::Text) {
            text += Hex(bytes, SIZE_MAX);
            continue;
        }
        if (!text.empty()) {
            tokens.push_back("text " + text);
            text.clear();
        }
        if (auto image = escpos::ReadRaster(stream, item)) {
            tokens.push_back("GS v 0 image " + std::to_string(image->width) + "x" +
                             std::to_string(image->rows));
        } else {
            tokens.push_back(item.name + " " + Hex(bytes, SIZE_MAX));
        }
    }
    if (!text.empty()) {
        tokens.push_back("text " + text);
    }
    return tokens;
}

std::string Cut(const std::string& s) {
    return s.size() > 100 ? s.substr(0, 100) + "..." : s;
}

void ExpectSameTokens(const Bytes& expected, const Bytes& actual) {
    const std::vector<std::string> want = Tokens(expected);
    const std::vector<std::string> got = Tokens(actual);
    const size_t n = std::min(want.size(), got.size());
    for (size_t i = 0; i < n; ++i) {
        if (want[i] != got[i]) {
            ADD_FAILURE() << "command " << i << " of the port output differs\n  expected: " << Cut(want[i])
                          << "\n  actual:   " << Cut(got[i])
                          << "\n  before it: " << (i ? Cut(got[i - 1]) : "-");
            return;
        }
    }
    EXPECT_EQ(got.size(), want.size()) << "first extra or missing: "
                                       << Cut(got.size() > n    ? got[n]
                                              : want.size() > n ? want[n]
                                                                : "");
}

void ExpectSameImages(const std::vector<Bitmap>& expected, const std::vector<Bitmap>& actual) {
    ASSERT_EQ(actual.size(), expected.size()) << "page images in the port output";
    for (size_t i = 0; i < expected.size(); ++i) {
        const Bitmap& want = expected[i];
        const Bitmap& got = actual[i];
        ASSERT_EQ(got.width, want.width) << "width in bytes of page image " << i;
        ASSERT_EQ(got.rows, want.rows) << "rows of page image " << i;
        const size_t w = size_t(want.width);
        for (int r = 0; r < want.rows; ++r) {
            if (!std::equal(want.data.begin() + ptrdiff_t(r * w), want.data.begin() + ptrdiff_t((r + 1) * w),
                            got.data.begin() + ptrdiff_t(r * w))) {
                const int from = std::max(0, r - 2);
                Bitmap a{want.width, std::min(6, want.rows - from), {}}, b = a;
                a.data.assign(want.data.begin() + ptrdiff_t(from * w),
                              want.data.begin() + ptrdiff_t((from + a.rows) * w));
                b.data.assign(got.data.begin() + ptrdiff_t(from * w),
                              got.data.begin() + ptrdiff_t((from + b.rows) * w));
                ADD_FAILURE() << "page image " << i << " differs from row " << r << "; rows " << from
                              << " on, expected:\n"
                              << escpos::ToText(a) << "actual:\n"
                              << escpos::ToText(b);
                return;
            }
        }
    }
}

// Every check of one run: the trace, the port output, and both against the expectation.
void CheckRun(const Expected& expected, const Trace& trace, const Bytes& out) {
    ASSERT_EQ(trace.error, "");
    EXPECT_EQ(Join(trace.writes) == out, true)
        << "the port received " << out.size() << " bytes, the print processor wrote "
        << Join(trace.writes).size();

    // Whole commands only, and none split across two writes.
    const std::vector<Item> items = escpos::Decode(out);
    for (const Item& item : items) {
        ASSERT_TRUE(item.kind == Kind::Text || item.kind == Kind::Command)
            << "port output: " << escpos::Describe(out, item);
    }
    std::set<size_t> boundaries;
    size_t at = 0;
    for (const Bytes& w : trace.writes) {
        boundaries.insert(at += w.size());
    }
    // The processor sends these in parts by design: ESC D and its tab list, the headers of ESC &, FS q
    // and GS * before their data; the exact writes are checked below.
    static const std::set<std::string> kInParts = {"ESC D", "ESC &", "FS q", "GS *"};
    for (const Item& item : items) {
        if (item.kind == Kind::Command && !kInParts.count(item.name)) {
            const auto b = boundaries.upper_bound(item.offset);
            EXPECT_FALSE(b != boundaries.end() && *b < item.end())
                << "split across writes at " << *b << ": " << escpos::Describe(out, item);
        }
    }

    ExpectSameTokens(Join(expected.writes), out);
    ExpectSameImages(expected.images, escpos::RasterImages(out));

    // The write pattern: text in batches of up to 256, each command in its own write.
    const size_t n = std::min(expected.writes.size(), trace.writes.size());
    for (size_t i = 0; i < n; ++i) {
        if (trace.writes[i] != expected.writes[i]) {
            ADD_FAILURE() << "write " << i << " differs\n  expected: " << Hex(expected.writes[i])
                          << "\n  actual:   " << Hex(trace.writes[i]);
            break;
        }
    }
    EXPECT_EQ(trace.writes.size(), expected.writes.size()) << "writes of the print processor";
}

struct JobCase {
    std::string path;
    int dpi;
};

void PrintTo(const JobCase& c, std::ostream* os) {
    *os << c.path << " at " << c.dpi << " dpi";
}

std::vector<std::string> Jobs() {
    std::vector<std::string> jobs{SourceDir() + "/samples/receipt.prn", SourceDir() + "/samples/text.prn"};
    std::vector<std::string> clients;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(SourceDir() + "/tests/clients/jobs", ec)) {
        if (e.path().extension() == ".prn") {
            clients.push_back(e.path().string());
        }
    }
    std::sort(clients.begin(), clients.end());
    jobs.insert(jobs.end(), clients.begin(), clients.end());
    return jobs;
}

std::vector<JobCase> Cases() {
    std::vector<JobCase> cases;
    // 203 and 180 dpi fold every feed beyond a band into blank rows; at 8 dpi short feeds give no row,
    // so they flush the page image early and go out as feeds.
    for (const std::string& job : Jobs()) {
        for (int dpi : {203, 180, 8}) {
            cases.push_back({job, dpi});
        }
    }
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<JobCase>& info) {
    std::string name =
        std::filesystem::path(info.param.path).stem().string() + "_" + std::to_string(info.param.dpi);
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

class PrintJobTest : public KqspoolTest, public ::testing::WithParamInterface<JobCase> {};

TEST_P(PrintJobTest, PortGetsTheJobAsTheProcessorMustSendIt) {
    const JobCase& c = GetParam();
    const Bytes job = ReadFile(c.path);
    ASSERT_FALSE(job.empty()) << c.path;
    const Expected expected = ExpectedOutput(job, c.dpi, 1);
    ASSERT_EQ(expected.error, "") << c.path;

    const RunResult run = Kqspool({"print", "--dpi", std::to_string(c.dpi), "--trace-writes",
                                   Path("trace.txt"), "--out", Path("out.prn"), c.path});
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes out = ReadFile(Path("out.prn"));
    const Trace trace = ReadTrace(Path("trace.txt"));
    CheckRun(expected, trace, out);

    if (c.dpi >= 180) {
        // One page image per page that has bands: all its bands and folded feeds in one GS v 0.
        ASSERT_EQ(expected.imagesPerPage.size(), expected.bandsPerPage.size());
        for (size_t page = 0; page < expected.bandsPerPage.size(); ++page) {
            EXPECT_EQ(expected.imagesPerPage[page], expected.bandsPerPage[page] > 0 ? 1 : 0)
                << "page " << page;
        }
    }

    const std::optional<Summary> summary = ParseSummary(run.err);
    ASSERT_TRUE(summary) << run.err;
    EXPECT_EQ(summary->printed, 1u);
    EXPECT_EQ(summary->given, 1u);
    EXPECT_EQ(summary->bytesIn, job.size());
    EXPECT_EQ(summary->writes, trace.writes.size());
    EXPECT_EQ(summary->bytesOut, out.size());
    EXPECT_EQ(summary->imagesOut, escpos::CountRasterImages(out));
    if (summary->bandsIn) {
        EXPECT_EQ(*summary->bandsIn, escpos::CountRasterImages(job)) << run.err;
    }
    if (summary->viaMonitor) {
        EXPECT_EQ(ReadFile(CapturePath()) == out, true)
            << "the monitor's capture differs from the port output";
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, PrintJobTest, ::testing::ValuesIn(Cases()), CaseName);

TEST(JobSet, HoldsJobsOfAtLeastTwoClientLibraries) {
    std::set<std::string> libraries;
    for (const std::string& job : Jobs()) {
        const std::filesystem::path path(job);
        if (path.parent_path().filename() == "jobs") {
            libraries.insert(path.stem().string().substr(0, path.stem().string().find('-')));
        }
    }
    EXPECT_GE(libraries.size(), 2u) << "client jobs missing from tests/clients/jobs";
}

class ReceiptTest : public KqspoolTest {};

// The receipt's logo, stated from the sample's own layout: bands of 24 rows fed by 24, 24, 40 and 30.
// The feeds beyond the band height leave VerticalDpi * 16 / 180 and VerticalDpi * 6 / 180 blank rows.
TEST_F(ReceiptTest, LogoIsOneImageOfItsBandsAndTheBlankRowsOfTheLongerFeeds) {
    const std::string receipt = SourceDir() + "/samples/receipt.prn";
    const std::vector<Bitmap> bands = escpos::RasterImages(ReadFile(receipt));
    ASSERT_EQ(bands.size(), 4u);
    ASSERT_EQ(bands[2].width, 40);
    for (const auto& [dpi, gap3, gap4] : {std::tuple{203, 18, 6}, std::tuple{180, 16, 6}}) {
        SCOPED_TRACE(std::to_string(dpi) + " dpi");
        const RunResult run = Kqspool(
            {"print", "--no-monitor", "--dpi", std::to_string(dpi), "--out", Path("out.prn"), receipt});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<Bitmap> images = escpos::RasterImages(ReadFile(Path("out.prn")));
        ASSERT_EQ(images.size(), 1u);
        const Bitmap want = escpos::Stack(
            {bands[0], bands[1], bands[2], Bitmap::Blank(40, gap3), bands[3], Bitmap::Blank(48, gap4)});
        EXPECT_EQ(images[0].width, 48);
        EXPECT_EQ(images[0].rows, 4 * 24 + gap3 + gap4);
        ExpectSameImages({want}, images);
    }
}

class CopiesTest : public KqspoolTest {};

TEST_F(CopiesTest, EachCopyIsAWholePassOfTheJob) {
    const std::string receipt = SourceDir() + "/samples/receipt.prn";
    const Bytes job = ReadFile(receipt);
    for (unsigned copies : {2u, 0u}) {
        SCOPED_TRACE("copies " + std::to_string(copies));
        const Expected expected = ExpectedOutput(job, 203, copies);
        ASSERT_EQ(expected.error, "");
        ASSERT_EQ(expected.images.size(), copies) << "the receipt has one page";
        const RunResult run = Kqspool({"print", "--copies", std::to_string(copies), "--trace-writes",
                                       Path("trace.txt"), "--out", Path("out.prn"), receipt});
        ASSERT_EQ(run.status, 0) << run.err;
        const Bytes out = ReadFile(Path("out.prn"));
        CheckRun(expected, ReadTrace(Path("trace.txt")), out);
        if (copies == 2) {
            // The second pass starts afresh: the same bytes again.
            ASSERT_EQ(out.size() % 2, 0u);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + ptrdiff_t(out.size() / 2),
                                   out.begin() + ptrdiff_t(out.size() / 2)));
        }
    }
}

TEST_F(CopiesTest, PortOutputIsTheSameWithAndWithoutTheMonitor) {
    const std::string receipt = SourceDir() + "/samples/receipt.prn";
    const RunResult direct = Kqspool({"print", "--no-monitor", "--out", Path("direct.prn"), receipt});
    ASSERT_EQ(direct.status, 0) << direct.err;
    const std::optional<Summary> s1 = ParseSummary(direct.err);
    ASSERT_TRUE(s1) << direct.err;
    EXPECT_FALSE(s1->viaMonitor) << direct.err;

    const RunResult routed = Kqspool({"print", "--out", Path("routed.prn"), receipt});
    ASSERT_EQ(routed.status, 0) << routed.err;
    const Bytes out = ReadFile(Path("routed.prn"));
    EXPECT_EQ(out == ReadFile(Path("direct.prn")), true);
    EXPECT_EQ(Join(ExpectedOutput(ReadFile(receipt), 203, 1).writes) == out, true);
}

class WindowsTest : public KqspoolTest {};

// Each Windows calls the monitor through its own entry, and the port and the monitor's copy get the same
// bytes on all of them. The machine keeps the Windows it was given.
TEST_F(WindowsTest, EachWindowsPrintsThroughTheMonitorsEntryForIt) {
    const std::string receipt = SourceDir() + "/samples/receipt.prn";
    const Bytes expected = Join(ExpectedOutput(ReadFile(receipt), 203, 1).writes);
    struct Case {
        std::vector<std::string> args;
        const char* entry;
    };
    const Case cases[] = {
        {{}, "InitializePrintMonitor2"},                       // a new machine runs Windows XP
        {{"--windows", "2000"}, "InitializePrintMonitor2"},
        {{"--windows", "xp"}, "InitializePrintMonitor2"},
        {{"--windows", "98"}, "InitializeMonitorEx"},          // a new machine for the other family
        {{}, "InitializeMonitorEx"},                           // which it keeps
        {{"--windows", "me"}, "InitializeMonitorEx"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"print", "--out", Path("out.prn")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(receipt);
        if (c.args.size() == 2 && c.args[1] == "98") {
            std::filesystem::remove_all(Path("root")); // KQT50_ROOT: a new machine
            std::filesystem::create_directory(Path("root"));
        }
        SCOPED_TRACE(c.args.empty() ? std::string("(the machine's own)") : c.args[1]);
        const RunResult run = Kqspool(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::optional<Summary> summary = ParseSummary(run.err);
        ASSERT_TRUE(summary) << run.err;
        EXPECT_EQ(summary->monitorEntry, c.entry) << run.err;
        const Bytes out = ReadFile(Path("out.prn"));
        EXPECT_EQ(out == expected, true);
        EXPECT_EQ(ReadFile(CapturePath()) == out, true) << "the monitor's copy differs from the port's bytes";
    }
    // the kit's files lie where Windows 98/ME keeps them: the other family is refused on this machine
    const RunResult refused = Kqspool({"print", "--windows", "xp", "--out", Path("out.prn"), receipt});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("other family of Windows"), std::string::npos) << refused.err;
}

class TraceTest : public KqspoolTest {};

// The text sample shows the pump's batching: text runs of 600 and 512 bytes between a few commands.
TEST_F(TraceTest, TextGoesOutInBatchesOf256) {
    const std::string text = SourceDir() + "/samples/text.prn";
    const RunResult run = Kqspool({"print", "--trace-writes", "t.txt", "--out", "out.prn", text});
    ASSERT_EQ(run.status, 0) << run.err;
    const Trace trace = ReadTrace(Path("t.txt"));
    ASSERT_EQ(trace.error, "");
    std::vector<size_t> sizes;
    for (const Bytes& w : trace.writes) {
        sizes.push_back(w.size());
    }
    //  ESC @, ESC a 0, 600 text, GS ! 17, 13 text, GS ! 0, 512 text, ESC d 4, ESC i as GS V 1
    const std::vector<size_t> want{2, 3, 256, 256, 88, 3, 13, 3, 256, 256, 3, 3};
    EXPECT_EQ(sizes, want);
    const Bytes job = ReadFile(text);
    Bytes sent = Join(trace.writes);
    ASSERT_EQ(sent.size(), job.size() + 1);
    EXPECT_TRUE(std::equal(job.begin(), job.end() - 2, sent.begin())) << "everything before ESC i unchanged";
    EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), (Bytes{0x1D, 0x56, 0x01}));
    EXPECT_EQ(ReadFile(Path("out.prn")) == sent, true);
}

} // namespace
} // namespace e2e
