// The reader's pieces without files: reading an index, each byte's time, clean text, the times
// people type.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "bytes.h"
#include "render.h"
#include "time_argument.h"
#include "timeline.h"

namespace zentavol::show {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

Micros at(int hour, int minute, int second, int micro = 0) {
    return Micros(sys_days(2026y / 12 / 11) + hours(hour) + minutes(minute) + seconds(second)) +
           microseconds(micro);
}

// Local time is the C library's zone: fixed here, with a zone an hour east of UTC.
class LocalZone : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TZ", "CET-1", 1);
        ::tzset();
    }
    void TearDown() override {
        ::unsetenv("TZ");
        ::tzset();
    }
};

TEST(IndexReading, UnreadableLinesAreSkippedAndCountedUnknownEventsLeftOut) {
    const std::string text =
        "2026-12-11T14:00:00.000000Z\t0\topen\tCOM3\t9600 8 none 1 soft\n"
        "2026-12-11T14:00:01.000000Z\t0\tdata\n"
        "2026-12-11T14:00:02.000000Z\t10\tsparkle\tfrom a later version\n"
        "not an entry\n"
        "2026-12-11T14:00:03.000000Z\t50\tdata\n"
        "2026-12-11T14:00:03.500000Z\t5\tdata\n"    // backwards
        "2026-12-11T14:00:04.000000Z\t999\tdata\n"  // past the end
        "2026-12-11T14:00:05.000000Z\tx\tdata\n"    // no offset
        "2026-12-11T14:00:06.000000Z\t60\tdropped\tmany\n"
        "2026-12-11T14:00:07.000000Z\t60\tlost\n"
        "2026-12-11T14:00:08.0000";  // cut by a crash
    const Index index = read_index(text, 100);
    EXPECT_EQ(index.unreadable, 6u);
    ASSERT_EQ(index.entries.size(), 4u);
    EXPECT_EQ(index.entries[0].event, Event::kOpen);
    EXPECT_EQ(index.entries[0].detail, "COM3\t9600 8 none 1 soft");
    EXPECT_EQ(index.entries[1].time, at(14, 0, 1));
    EXPECT_EQ(index.entries[2].offset, 50u);
    EXPECT_EQ(index.entries[3].event, Event::kLost);
    EXPECT_EQ(index.entries[3].offset, 60u);
}

// 9600 8N1: a byte every 1041 us after its entry's time, but never past the next entry's time.
TEST(IndexReading, EachByteComesACharacterTimeAfterTheOneBeforeUntilTheNextEntry) {
    const Index index = read_index(
        "2026-12-11T14:00:00.000000Z\t100\topen\tCOM1\t9600 8 none 1 soft\n"
        "2026-12-11T14:00:01.000000Z\t100\tdata\n"
        "2026-12-11T14:00:01.003000Z\t200\tdata\n",
        300);
    const Timeline timeline(index.entries);
    EXPECT_FALSE(timeline.time_of(99).has_value()) << "bytes before the index have no time";
    EXPECT_EQ(timeline.time_of(100), at(14, 0, 1));
    EXPECT_EQ(timeline.time_of(102), at(14, 0, 1, 2083));
    EXPECT_EQ(timeline.time_of(150), at(14, 0, 1, 3000)) << "capped at the next entry";
    EXPECT_EQ(timeline.time_of(201), at(14, 0, 1, 4041));
    const auto ranges = timeline.bytes_within(300, at(14, 0, 1, 1000), at(14, 0, 1, 3000));
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].begin, 101u);
    EXPECT_EQ(ranges[0].end, 103u);
    EXPECT_TRUE(timeline.bytes_within(300, at(15, 0, 0), at(16, 0, 0)).empty());
}

TEST(CleanText, EveryCaptureLineIsOneLineOfCleanText) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain\ttext", "plain\ttext"},
        {std::string("a\0b", 3), "a\\0b"},
        {"\x01\x1b[0m\x7f", R"(\x01\x1B[0m\x7F)"},
        {"gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80",
         "gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"\xff\xc3(\xc0\xaf\xed\xa0\x80", R"(\xFF\xC3(\xC0\xAF\xED\xA0\x80)"},
        {"cut \xe2\x82", "cut \\xE2\\x82"},
    };
    for (const auto& [bytes, shown] : cases) {
        EXPECT_EQ(clean_text(test::bytes_of(bytes)), shown);
    }
}

TEST_F(LocalZone, TimesAreShownLocallyOrInUtcWithMillisecondsCut) {
    EXPECT_EQ(format_shown_time(at(14, 35, 23, 123999), false), "2026-12-11 15:35:23.123");
    EXPECT_EQ(format_shown_time(at(14, 35, 23, 123999), true), "2026-12-11T14:35:23.123Z");
}

TEST_F(LocalZone, TimeArgumentsInEveryFormPeopleType) {
    const Micros now = at(20, 0, 0);  // 21:00 local
    const struct {
        const char* text;
        Bound bound;
        std::optional<Micros> expected;
    } cases[] = {
        {"2026-12-11T15:35:23", Bound::kSince, at(14, 35, 23)},
        {"2026-12-11 15:35", Bound::kSince, at(14, 35, 0)},
        {"2026-12-11T14:35:23.5Z", Bound::kSince, at(14, 35, 23, 500000)},
        {"2026-12-11T16:35:23+02:00", Bound::kSince, at(14, 35, 23)},
        {"2026-12-11T13:35:23.123456-0100", Bound::kSince, at(14, 35, 23, 123456)},
        {"2026-12-11", Bound::kSince, at(0, 0, 0) - 1h},
        {"2026-12-11", Bound::kUntil, at(0, 0, 0) + 23h},
        {"15:35", Bound::kSince, at(14, 35, 0)},
        {"15:35:23.25", Bound::kUntil, at(14, 35, 23, 250000)},
        {"25:00", Bound::kSince, std::nullopt},
        {"2026-13-01", Bound::kSince, std::nullopt},
        {"2026-12-11T15:35x", Bound::kSince, std::nullopt},
        {"yesterday", Bound::kSince, std::nullopt},
        {"", Bound::kSince, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_time_argument(c.text, c.bound, now), c.expected) << c.text;
    }
}

}  // namespace
}  // namespace zentavol::show
