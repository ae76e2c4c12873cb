// The drivers' capabilities and the choices a job's attributes make: dither, the page's format, the raw
// format's recognition.
#include "app.h"
#include "drivers.h"
#include "printjob.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kqapp {
namespace {

TEST(DriversTest, EachPaperWidthHasItsHeadAndItsRoll) {
    struct Case {
        const char* driver;
        int dots;
        int marginHundredths; // of a millimetre, each side
        const char* media;
    };
    for (const Case& c : {Case{"kqt50_80mm", 576, 396, "om_receipt-80_80x297mm"},
                          Case{"kqt50_58mm", 384, 498, "om_receipt-58_58x297mm"}}) {
        pappl_pr_driver_data_t data{};
        ipp_t* attrs = nullptr;
        ASSERT_TRUE(FillDriver(nullptr, c.driver, "file:///dev/null", "", &data, &attrs, nullptr)) << c.driver;
        EXPECT_EQ(ModelOf(c.driver)->printableDots, c.dots);
        EXPECT_EQ(data.x_resolution[0], 203);
        EXPECT_EQ(data.num_resolution, 1);
        EXPECT_EQ(data.left_right, c.marginHundredths);
        EXPECT_STREQ(data.media_default.size_name, c.media);
        EXPECT_EQ(data.raster_types, PAPPL_PWG_RASTER_TYPE_SGRAY_8) << "grey in: the driver dithers";
        EXPECT_STREQ(data.format, "application/vnd.escpos");
        EXPECT_TRUE(data.finishings & PAPPL_FINISHINGS_TRIM);
        EXPECT_TRUE(data.kind & PAPPL_KIND_RECEIPT);
        // the roll's lengths, and the printed width they leave: the head's dots at 203 dpi
        const pwg_media_t* max = pwgMediaForPWG(data.media[2]);
        ASSERT_NE(max, nullptr);
        EXPECT_EQ(MaxRows(*ModelOf(c.driver)), max->length * 203 / 2540);
        const int printed = data.media_default.size_width - 2 * data.left_right;
        EXPECT_NEAR(printed * 203.0 / 2540, c.dots, 1.0);
        EXPECT_STREQ(ippGetString(ippFindAttribute(attrs, "cut-after-default", IPP_TAG_KEYWORD), 0, nullptr),
                     "job");
        EXPECT_EQ(ippGetCount(ippFindAttribute(attrs, "cut-after-supported", IPP_TAG_KEYWORD)), 3);
        ippDelete(attrs);
    }
    pappl_pr_driver_data_t data{};
    ipp_t* attrs = nullptr;
    EXPECT_FALSE(FillDriver(nullptr, "zpl_2inch", nullptr, nullptr, &data, &attrs, nullptr));
    EXPECT_EQ(AutoAddDriver("", "serial:/dev/ttyS0", "MFG:KQT;MDL:KQT-50;", nullptr), std::string("kqt50_80mm"));
    EXPECT_EQ(AutoAddDriver("", "serial:/dev/ttyS0", "MFG:Other;MDL:X;", nullptr), nullptr);
}

TEST(DitherTest, ContentDecidesBetweenThresholdAndDiffusion) {
    struct Case {
        pappl_content_t content;
        pappl_color_mode_t mode;
        const char* format;
        Dither dither;
    };
    for (const Case& c : {Case{PAPPL_CONTENT_PHOTO, PAPPL_COLOR_MODE_MONOCHROME, "application/pdf", Dither::Diffusion},
                          Case{PAPPL_CONTENT_TEXT, PAPPL_COLOR_MODE_MONOCHROME, "image/jpeg", Dither::Threshold},
                          Case{PAPPL_CONTENT_GRAPHIC, PAPPL_COLOR_MODE_MONOCHROME, "image/png", Dither::Threshold},
                          Case{PAPPL_CONTENT_TEXT_AND_GRAPHIC, PAPPL_COLOR_MODE_MONOCHROME, "image/pwg-raster",
                               Dither::Threshold},
                          Case{PAPPL_CONTENT_AUTO, PAPPL_COLOR_MODE_MONOCHROME, "image/jpeg", Dither::Diffusion},
                          Case{PAPPL_CONTENT_AUTO, PAPPL_COLOR_MODE_MONOCHROME, "image/png", Dither::ByContent},
                          Case{PAPPL_CONTENT_AUTO, PAPPL_COLOR_MODE_MONOCHROME, "application/pdf",
                               Dither::ByContent},
                          Case{PAPPL_CONTENT_PHOTO, PAPPL_COLOR_MODE_BI_LEVEL, "image/jpeg", Dither::Threshold}}) {
        EXPECT_EQ(DitherFor(c.content, c.mode, c.format), c.dither) << c.format << " " << c.content;
    }
}

TEST(FormatTest, APagesHeaderGivesItsFormat) {
    cups_page_header2_t h{};
    h.cupsWidth = 639;
    h.cupsHeight = 2400;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    PageFormat f = FormatOf(h, 576, 23976, Dither::Threshold);
    EXPECT_EQ(f.width, 639);
    EXPECT_EQ(f.height, 2400);
    EXPECT_FALSE(f.inkIsHigh);
    EXPECT_EQ(f.printableDots, 576);
    h.cupsColorSpace = CUPS_CSPACE_K;
    h.cupsHeight = 0xFFFFFFFFu; // a header's 32 bits do not wrap into a negative height
    f = FormatOf(h, 576, 23976, Dither::Diffusion);
    EXPECT_TRUE(f.inkIsHigh);
    EXPECT_GT(f.height, 0);
    EXPECT_TRUE(CheckPage(f).has_value()) << "longer than the roll's longest page";
}

TEST(SniffTest, ACommandsPrefixMakesAJobESCPOS) {
    const unsigned char escpos[] = {0x1B, '@', 'h', 'i'};
    const unsigned char text[] = {'h', 'i'};
    EXPECT_STREQ(SniffFormat(escpos, sizeof(escpos), nullptr), "application/vnd.escpos");
    EXPECT_EQ(SniffFormat(text, sizeof(text), nullptr), nullptr);
    EXPECT_EQ(SniffFormat(escpos, 0, nullptr), nullptr);
}

TEST(SettingsTest, TheApplicationsOwnOptions) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> options;
        bool ok;
        std::string listen;
        bool dnssd;
        int interval;
    };
    for (const Case& c : {Case{{}, true, "localhost", false, 5},
                          Case{{{"listen-hostname", "*"}}, true, "*", true, 5},
                          Case{{{"listen-hostname", "*"}, {"dnssd", "off"}}, true, "*", false, 5},
                          Case{{{"status-interval", "2"}}, true, "localhost", false, 2},
                          Case{{{"status-interval", "0"}}, false, "", false, 0},
                          Case{{{"dnssd", "yes"}}, false, "", false, 0}}) {
        cups_option_t* options = nullptr;
        int n = 0;
        for (const auto& [name, value] : c.options) {
            n = cupsAddOption(name, value, n, &options);
        }
        AppSettings s;
        std::string why;
        EXPECT_EQ(ParseSettings(n, options, &s, &why), c.ok) << why;
        if (c.ok) {
            EXPECT_EQ(s.listen, c.listen);
            EXPECT_EQ(s.dnssd, c.dnssd);
            EXPECT_EQ(s.statusInterval, c.interval);
        }
        cupsFreeOptions(n, options);
    }
}

} // namespace
} // namespace kqapp
