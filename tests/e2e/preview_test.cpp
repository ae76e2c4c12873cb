// kqspool --preview: the bundled samples and the npm encoders' jobs drawn from what the port received.
#include "harness.h"

#include <fstream>
#include <sys/stat.h>

namespace e2e {
namespace {

class PreviewTest : public KqspoolTest {};

struct Png {
    int width = 0, height = 0;
    size_t black = 0, red = 0;
};

std::optional<Png> ReadPng(const std::string& path) {
    const auto image = ReadRgbPng(path);
    if (!image) {
        return std::nullopt;
    }
    Png png{image->width, image->height};
    const std::vector<uint8_t>& rgb = image->rgb;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        png.black += rgb[i] == 0 && rgb[i + 1] == 0 && rgb[i + 2] == 0;
        png.red += rgb[i] > 0 && rgb[i + 1] == 0;
    }
    return png;
}

std::vector<std::string> PreviewWarnings(const std::string& err) {
    std::vector<std::string> out;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("kqspool: warning: preview: ", 0) == 0) {
            out.push_back(line.substr(27));
        }
    }
    return out;
}

TEST_F(PreviewTest, SamplesAndEncoderJobsRenderWithOnlyTheWarningsTheyDeserve) {
    struct Case {
        std::string job;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"samples/receipt.prn", {}},
        {"samples/text.prn", {}},
        {"tests/clients/jobs/ntp-receipt.prn", {}},
        // The encoder ends its CODE128 with LF, which the print processor takes into the barcode's data
        // (it runs to CR): a printer does not print that barcode.
        {"tests/clients/jobs/rpe-receipt.prn",
         {"GS k CODE128 holds the byte 0x0a, which code set B does not have: not drawn"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job);
        const RunResult run = Kqspool({"print", "--out", Path("port.bin"), "--preview", Path("receipt.png"),
                                       SourceDir() + "/" + c.job});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(PreviewWarnings(run.err), c.warnings) << run.err;
        const std::optional<Png> png = ReadPng(Path("receipt.png"));
        ASSERT_TRUE(png);
        EXPECT_EQ(png->width, 576);
        EXPECT_GT(png->black, 1000u);
        EXPECT_GT(png->red, 0u) << "every job ends with a cut";
        EXPECT_NE(run.err.find("preview " + Path("receipt.png") + ": 576 x " + std::to_string(png->height) +
                               " dots"),
                  std::string::npos)
            << run.err;
    }
}

TEST_F(PreviewTest, PaperWidthAndCheckDrawTheSameReceipt) {
    const std::string job = SourceDir() + "/samples/receipt.prn";
    const RunResult wide = Kqspool({"check", "--preview", Path("wide.png"), job});
    const RunResult narrow = Kqspool({"check", "--paper-width", "384", "--preview", Path("narrow.png"), job});
    ASSERT_EQ(wide.status, 0) << wide.err;
    ASSERT_EQ(narrow.status, 0) << narrow.err;
    const auto a = ReadPng(Path("wide.png")), b = ReadPng(Path("narrow.png"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->width, 576);
    EXPECT_EQ(b->width, 384);
    // The logo and the text fit both: the same dots, only the paper is narrower.
    EXPECT_EQ(a->black, b->black);
}

TEST_F(PreviewTest, APreviewThatCannotBeWrittenCostsNoPaper) {
    const RunResult run = Kqspool({"print", "--out", Path("port.bin"), "--preview", Path("no/such/dir/r.png"),
                                   SourceDir() + "/samples/receipt.prn"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write the preview"), std::string::npos) << run.err;
    struct stat st {};
    EXPECT_NE(stat(Path("port.bin").c_str(), &st), 0) << "nothing was printed";
}

} // namespace
} // namespace e2e
