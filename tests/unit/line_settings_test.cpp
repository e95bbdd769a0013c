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

TEST(LineSettings, TwoDigitRatesAreAbbreviationsAndOthersFrom50AreTakenAsTheyAre) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"baud=11", 110},   {"baud=30", 300},      {"baud=12", 1200},       {"baud=96", 9600},
        {"baud=19", 19200}, {"baud=9600", 9600},   {"baud=19200", 19200},   {"baud=50", 50},
        {"baud=75", 75},    {"baud=31250", 31250}, {"baud=250000", 250000},
    };
    for (const auto& [text, baud] : cases) {
        const auto line = parse_line_settings(text);
        ASSERT_TRUE(line.has_value()) << text;
        EXPECT_EQ(line->baud, baud) << text;
    }
}

TEST(LineSettings, MalformedTextIsRefusedWhole) {
    for (const char* text : {"", "parity=n", "baud=96 parity=x", "baud=96 data=9", "baud=96 stop=3",
                             "baud=96 xon=maybe", "baud=96 colour=blue", "baud=96 data", "baud=49",
                             "baud=0", "baud=96x", "baud=96 octs=hs"}) {
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

// The text that options make is read back as the line it was made from, the rate in full.
TEST(LineSettings, AFormattedLineReadsBackAsItself) {
    const struct {
        LineSettings line;
        const char* text;
    } cases[] = {
        {{.baud = 115200,
          .parity = 'e',
          .data_bits = 7,
          .stop_bits = 1,
          .cts_flow = true,
          .dtr = true},
         "baud=115200 parity=e data=7 stop=1 xon=off octs=on dtr=on"},
        {{.baud = 9600, .xon_xoff = true, .dtr = true, .rts = true},
         "baud=9600 parity=n data=8 stop=1 xon=on dtr=on rts=on"},
        {{.baud = 50, .parity = 's', .data_bits = 5, .stop_bits = 2, .dtr = true, .rts = true},
         "baud=50 parity=s data=5 stop=2 xon=off dtr=on rts=on"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_line_settings(c.line), c.text);
        EXPECT_EQ(parse_line_settings(c.text), c.line) << c.text;
    }
}

}  // namespace
}  // namespace zentavol
