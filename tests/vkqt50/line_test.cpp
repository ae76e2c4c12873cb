// Line settings as the command lines write them, and how long a character takes on the line.
#include "line.h"

#include <gtest/gtest.h>

namespace {

using vkqt50::Flow;
using vkqt50::Parity;

TEST(LineTest, SettingsAreReadWithTheirDefaultsAndTheirLimits) {
    struct Case {
        const char* text;
        bool ok;
        unsigned rate = 0;
        int dataBits = 0;
        Parity parity = Parity::None;
        int stopHalves = 0;
        Flow flow = Flow::None;
        int bitHalves = 0; // a character on the line
    } const cases[] = {
        {"9600", true, 9600, 8, Parity::None, 2, Flow::None, 20},
        {"115200,8,n,1,xon", true, 115200, 8, Parity::None, 2, Flow::XonXoff, 20},
        {"19200,7,E,2,hardware", true, 19200, 7, Parity::Even, 4, Flow::Hardware, 22},
        {"300,5,m,1.5,rtscts", true, 300, 5, Parity::Mark, 3, Flow::Hardware, 17},
        {"4800,8,o", true, 4800, 8, Parity::Odd, 2, Flow::None, 22},
        {"9600,9", false},
        {"9600,8,x", false},
        {"9600,8,n,3", false},
        {"9600,8,n,1,dtr", false},
        {"fast", false},
        {"49", false},
        {"9600,8,n,1,none,extra", false},
        {"", false},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto line = vkqt50::ParseLine(c.text, &error);
        ASSERT_EQ(line.has_value(), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(line->rate, c.rate) << c.text;
        EXPECT_EQ(line->dataBits, c.dataBits) << c.text;
        EXPECT_EQ(line->parity, c.parity) << c.text;
        EXPECT_EQ(line->stopHalves, c.stopHalves) << c.text;
        EXPECT_EQ(line->flow, c.flow) << c.text;
        EXPECT_EQ(line->BitHalves(), c.bitHalves) << c.text;
    }
}

TEST(LineTest, ACharacterTakesItsBitsAtTheRate) {
    std::string error;
    EXPECT_EQ(vkqt50::ParseLine("9600", &error)->CharNanoseconds(), 1'041'666u);      // 10 bits
    EXPECT_EQ(vkqt50::ParseLine("115200,7,e,2", &error)->CharNanoseconds(), 95'486u); // 11 bits
    EXPECT_EQ(vkqt50::ParseLine("115200,7,e,2,xon", &error)->Text(), "115200 7E2, XON/XOFF");
}

} // namespace
