// kqspool's command line: help, version, usage errors, exit status and the summary line.
#include "harness.h"
#include "model.h"

#include <regex>

namespace e2e {
namespace {

class CommandLineTest : public KqspoolTest {};

TEST_F(CommandLineTest, HelpAndVersionGoToStandardOutput) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"print", "--help"}}) {
        const RunResult run = Kqspool(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("Usage: kqspool print"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("--trace-writes"), std::string::npos);
        EXPECT_EQ(run.err, "");
    }
    const RunResult version = Kqspool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex(R"(kqspool \d+\.\d+\.\d+\n)"))) << version.out;
}

TEST_F(CommandLineTest, UsageErrorsExit2WithoutPrinting) {
    const std::string job = SourceDir() + "/samples/text.prn";
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate", job},
        {"print"},
        {"print", "--copies"},
        {"print", "--copies", "x", job},
        {"print", "--copies", "-1", job},
        {"print", "--dpi", "0", job},
        {"print", "--dpi", "203dpi", job},
        {"print", "--out"},
        {"print", "--trace-writes"},
        {"print", "--colour", job},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const std::string& a : args) {
            line += a + " ";
        }
        SCOPED_TRACE("kqspool " + line);
        const RunResult run = Kqspool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err.rfind("kqspool: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
        EXPECT_FALSE(ParseSummary(run.err)) << "nothing is printed";
    }
}

// A job file that cannot be read fails the run (exit 1) but not the jobs around it, which print in turn
// to the same port; the summary counts what printed.
TEST_F(CommandLineTest, MissingJobFileExits1AndTheOtherJobsPrint) {
    {
        SCOPED_TRACE("the missing file alone");
        const RunResult run = Kqspool({"print", "--out", Path("alone.prn"), "no-such-job.prn"});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("no-such-job.prn"), std::string::npos) << run.err;
        const std::optional<Summary> summary = ParseSummary(run.err);
        ASSERT_TRUE(summary) << run.err;
        EXPECT_EQ(summary->printed, 0u) << run.err;
        EXPECT_EQ(summary->given, 1u);
        EXPECT_TRUE(ReadFile(Path("alone.prn")).empty());
    }
    SCOPED_TRACE("the missing file between two jobs");
    const std::string receipt = SourceDir() + "/samples/receipt.prn";
    const std::string text = SourceDir() + "/samples/text.prn";
    const RunResult run =
        Kqspool({"print", "--dpi", "180", "--out", Path("out.prn"), receipt, "gone.prn", text});
    EXPECT_EQ(run.status, 1) << run.err;
    const std::optional<Summary> summary = ParseSummary(run.err);
    ASSERT_TRUE(summary) << run.err;
    EXPECT_EQ(summary->printed, 2u) << run.err;
    EXPECT_EQ(summary->given, 3u);
    const Bytes a = ReadFile(receipt), b = ReadFile(text);
    EXPECT_EQ(summary->bytesIn, a.size() + b.size());
    Bytes want = Join(ExpectedOutput(a, 180, 1).writes);
    const Bytes second = Join(ExpectedOutput(b, 180, 1).writes);
    want.insert(want.end(), second.begin(), second.end());
    const Bytes out = ReadFile(Path("out.prn"));
    EXPECT_EQ(out == want, true) << "port output of " << out.size() << " bytes, expected " << want.size();
    EXPECT_EQ(summary->bytesOut, out.size());
    EXPECT_EQ(summary->imagesOut, 1u);
}

} // namespace
} // namespace e2e
