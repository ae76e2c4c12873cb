// Jobs through the stand-in spooler as the application spools them: the kit's print processor and monitor
// print each document to the port the application serves, and where a copy stops, it says why.
#include "spool.h"

#include "receipt.h"

#include "kqwin/tool_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kqapp {
namespace {

using Bytes = std::vector<uint8_t>;

class SpoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kqapp-spool-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        const char* bin = std::getenv("KQ_TEST_BIN");
        ASSERT_NE(bin, nullptr) << "KQ_TEST_BIN names the folder of libkqprint.so";
        std::string error;
        ASSERT_TRUE(PrepareMachine(root_, bin, &error)) << error;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    // A device that keeps what it gets; `failAfter` writes and it fails.
    PortDevice Device(int failAfter = -1) {
        PortDevice d;
        d.write = [this, failAfter](const uint8_t* b, size_t n) {
            if (failAfter >= 0 && writes_ >= failAfter) {
                return false;
            }
            ++writes_;
            got_.insert(got_.end(), b, b + n);
            return true;
        };
        d.flush = [this] { ++flushes_; };
        d.cancelled = [this] { return cancelled_; };
        return d;
    }

    Despooled Print(const Bytes& job, unsigned copies = 1, PortDevice device = {}) {
        SpoolDocument doc("test", copies, device.write ? device : Device());
        EXPECT_TRUE(doc.ok()) << doc.error();
        EXPECT_TRUE(doc.Write(job.data(), job.size()));
        return doc.End();
    }

    std::string root_;
    Bytes got_;
    int writes_ = 0;
    int flushes_ = 0;
    bool cancelled_ = false;
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST_F(SpoolTest, APageOfBandsReachesThePrinterAsTheProcessorMakesIt) {
    // what the driver spools for a two-band page, cut after the job
    Bytes doc;
    ReceiptJob job(CutAfter::Job, [&](const uint8_t* b, size_t n) {
        doc.insert(doc.end(), b, b + n);
        return true;
    });
    ASSERT_TRUE(job.Start());
    PageFormat f;
    f.width = 576;
    f.height = kBandRows + 10;
    PageConverter page(f, [&](const uint8_t* b, size_t n) {
        doc.insert(doc.end(), b, b + n);
        return true;
    });
    const Bytes black(576, 0);
    for (int y = 0; y < f.height; ++y) {
        ASSERT_TRUE(page.Line(black.data()));
    }
    ASSERT_TRUE(page.Finish());
    ASSERT_TRUE(job.EndPage());
    ASSERT_TRUE(job.End());

    const Despooled d = Print(doc);
    EXPECT_TRUE(d.printed) << d.error;
    EXPECT_EQ(flushes_, 1) << "the port's document ended";
    // ESC @; the bands as one page image; the feed past the cutter; the cut; the line spacing reset
    const int rows = kBandRows + 10;
    Bytes image = {0x1D, 'v', '0', 0, 72, 0, uint8_t(rows & 0xFF), uint8_t(rows >> 8)};
    image.insert(image.end(), size_t(72) * rows, 0xFF);
    EXPECT_EQ(got_, Cat({{0x1B, '@'}, image, {0x1B, 'J', 238}, {0x1D, 'V', 255}, {0x1B, '2'}}));
    ASSERT_EQ(d.passes.size(), 1u);
    EXPECT_TRUE(kqspool::ExplainPass(doc, d.passes[0]).whole);
}

TEST_F(SpoolTest, ACopyThatStopsEarlyIsExplainedInKqspoolsWords) {
    const Bytes job = Cat({{0x1B, '@'}, {'h', 'i', '\n'}, {0x1C, '.'}, Bytes(20, 'x')});
    const Despooled d = Print(job, 2);
    EXPECT_TRUE(d.printed) << "the processor ends the copy; the port took what it got";
    ASSERT_EQ(d.passes.size(), 2u);
    for (const kqspool::PassRead& pass : d.passes) {
        const kqspool::PassStop stop = kqspool::ExplainPass(job, pass);
        EXPECT_FALSE(stop.whole);
        EXPECT_EQ(kqspool::StopSentence(stop, job.size()),
                  "stopped at byte 5 of 27: FS . (cancel Kanji character mode) is not a KQT-50 command; the "
                  "printer never got 22 byte(s)");
    }
    EXPECT_EQ(got_, Cat({{0x1B, '@'}, {'h', 'i', '\n'}, {0x1B, '@'}, {'h', 'i', '\n'}}));
}

TEST_F(SpoolTest, ADeviceThatFailsLeavesTheDocumentUnprinted) {
    const Despooled d = Print(Bytes(2000, 'a'), 1, Device(0));
    EXPECT_FALSE(d.printed);
    EXPECT_FALSE(d.error.empty());
    EXPECT_TRUE(got_.empty());
}

TEST_F(SpoolTest, ACancelledJobStopsTheProcessor) {
    cancelled_ = true; // the job was cancelled: the device refuses and the processor is told
    const Despooled d = Print(Bytes(5000, 'a'), 3, Device(0));
    EXPECT_FALSE(d.printed);
    EXPECT_TRUE(d.cancelled);
    ASSERT_GE(d.passes.size(), 1u);
    EXPECT_LT(d.passes.size(), 3u) << "not every copy is tried";
    for (size_t i = 1; i < d.passes.size(); ++i) {
        EXPECT_LE(d.passes[i].position, 1u) << "a copy after the cancel stops at its first byte";
    }
    EXPECT_TRUE(got_.empty());
}

TEST_F(SpoolTest, DocumentsOfOneJobAfterAnotherEachReachTheirOwnDevice) {
    Bytes first;
    Bytes second;
    auto into = [](Bytes* out) {
        PortDevice d;
        d.write = [out](const uint8_t* b, size_t n) {
            out->insert(out->end(), b, b + n);
            return true;
        };
        return d;
    };
    EXPECT_TRUE(Print({'o', 'n', 'e'}, 1, into(&first)).printed);
    EXPECT_TRUE(Print({'t', 'w', 'o'}, 1, into(&second)).printed);
    EXPECT_EQ(first, (Bytes{'o', 'n', 'e'}));
    EXPECT_EQ(second, (Bytes{'t', 'w', 'o'}));
    // the monitor keeps its copy of each document, as it does on Windows
    std::ifstream capture(kqwin::control::HostPath("c:\\kqt50mon.dat"), std::ios::binary);
    const std::string kept((std::istreambuf_iterator<char>(capture)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "two");
}

} // namespace
} // namespace kqapp
