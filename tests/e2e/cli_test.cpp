// kqspool's command line: help, version, usage errors, exit status and the summary line.
#include "harness.h"
#include "model.h"

#include <algorithm>
#include <fstream>
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
        {"print", "--preview"},
        {"check", "--paper-width", "7", job},
        {"check", "--paper-width", "wide", job},
        {"print", "--windows", "95", job},
        {"print", "--windows"},
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

// A job file that cannot be read is an error of its own (exit 4) but does not stop the jobs around it,
// which print in turn to the same port; the summary counts what printed.
TEST_F(CommandLineTest, MissingJobFileExits4AndTheOtherJobsPrint) {
    {
        SCOPED_TRACE("the missing file alone");
        const RunResult run = Kqspool({"print", "--out", Path("alone.prn"), "no-such-job.prn"});
        EXPECT_EQ(run.status, 4);
        EXPECT_NE(run.err.find("no-such-job.prn: cannot read: No such file or directory"), std::string::npos)
            << run.err;
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
    EXPECT_EQ(run.status, 4) << run.err;
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

// A directory given as a job is one line and exit 4, not an abort; an empty job (a file, or nothing on
// standard input) is a warning and is never spooled, so the port and the monitor's capture keep what the
// job before them left.
TEST_F(CommandLineTest, DirectoriesAndEmptyJobsPrintNothing) {
    const std::string receipt = SourceDir() + "/samples/receipt.prn";
    ASSERT_EQ(Kqspool({"print", receipt}).status, 0);
    const std::string port = Dir() + "/root/ports/COM1.out";
    const Bytes portBefore = ReadFile(port);
    const Bytes captureBefore = ReadFile(CapturePath());
    ASSERT_FALSE(captureBefore.empty());
    { std::ofstream(Path("empty.prn")); }
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"print", Dir()}, 4, "kqspool: " + Dir() + ": cannot read: is a directory, not a job file\n"},
        {{"check", Dir()}, 4, "kqspool: " + Dir() + ": cannot read: is a directory, not a job file\n"},
        {{"print", Path("empty.prn")},
         0,
         "kqspool: warning: " + Path("empty.prn") + " is empty: nothing printed\n"},
        {{"print", "-"}, 0, "kqspool: warning: standard input is empty: nothing printed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const RunResult run = Kqspool(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2)
            << "the message and the summary: " << run.err;
    }
    EXPECT_EQ(ReadFile(port), portBefore);
    EXPECT_EQ(ReadFile(CapturePath()), captureBefore);
}

} // namespace
} // namespace e2e
