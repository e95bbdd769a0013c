#include <gtest/gtest.h>

#include "line_settings.h"

namespace zentavol {
namespace {

TEST(LineSettings, TheFixedTextDefinesTheLine) {
    const auto line = parse_line_settings(kLineSettings);
    ASSERT_TRUE(line.has_value());
    const LineSettings expected{.baud = 9600,
                                .parity = 'n',
                                .data_bits = 8,
                                .stop_bits = 1,
                                .xon_xoff = true,
                                .dtr = true,
                                .rts = true};
    EXPECT_EQ(*line, expected);
}

TEST(LineSettings, TwoDigitRatesAreAbbreviations) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"baud=11", 110},   {"baud=30", 300},    {"baud=12", 1200},     {"baud=96", 9600},
        {"baud=19", 19200}, {"baud=9600", 9600}, {"baud=19200", 19200},
    };
    for (const auto& [text, baud] : cases) {
        const auto line = parse_line_settings(text);
        ASSERT_TRUE(line.has_value()) << text;
        EXPECT_EQ(line->baud, baud) << text;
    }
}

TEST(LineSettings, MalformedTextIsRefusedWhole) {
    for (const char* text :
         {"", "parity=n", "baud=96 parity=x", "baud=96 data=9", "baud=96 stop=3",
          "baud=96 xon=maybe", "baud=96 colour=blue", "baud=96 data", "baud=57", "baud=96x"}) {
        EXPECT_FALSE(parse_line_settings(text).has_value()) << '"' << text << '"';
    }
}

TEST(LineSettings, SwitchesAndFramingAreReadItemByItem) {
    const auto line =
        parse_line_settings("baud=2400 parity=e data=7 stop=2 xon=off dtr=off rts=on");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->parity, 'e');
    EXPECT_EQ(line->data_bits, 7);
    EXPECT_EQ(line->stop_bits, 2);
    EXPECT_FALSE(line->xon_xoff);
    EXPECT_FALSE(line->dtr);
    EXPECT_TRUE(line->rts);
}

}  // namespace
}  // namespace zentavol
