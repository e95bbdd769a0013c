// The time index's pieces without a port: its lines, when a chunk starts a data entry, and where
// the capture file says each marked byte and each mishap landed.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>

#include "bytes.h"
#include "capture_file.h"
#include "file_size_limit.h"
#include "pty_pair.h"
#include "time_index.h"

namespace zentavol {
namespace {

using namespace std::chrono_literals;
using test::bytes_of;
using Kind = CaptureEvent::Kind;

WallClock::time_point utc(int hour, int minute, int second, int micro) {
    using namespace std::chrono;
    return sys_days(2026y / 12 / 11) + hours(hour) + minutes(minute) + seconds(second) +
           microseconds(micro);
}

TEST(TimeIndex, LinesAreTabSeparatedWithUtcMicrosecondsAndLfAlone) {
    EXPECT_EQ(format_index_time(utc(14, 35, 23, 123456)), "2026-12-11T14:35:23.123456Z");
    EXPECT_EQ(format_index_time(utc(0, 0, 0, 7)), "2026-12-11T00:00:00.000007Z");
    EXPECT_EQ(index_line(utc(14, 35, 23, 5), 1234, "data"),
              "2026-12-11T14:35:23.000005Z\t1234\tdata\n");
    EXPECT_EQ(index_line(utc(9, 0, 0, 0), 0, "open", "COM3\t9600 8 none 1 soft"),
              "2026-12-11T09:00:00.000000Z\t0\topen\tCOM3\t9600 8 none 1 soft\n");
}

TEST(TimeIndex, ADataEntryStartsAfterTenQuietCharacterTimesAndOnceASecondInAStream) {
    EXPECT_EQ(quiet_for(9600, 8, false, 1), 10'416'666ns);  // 10 x 10 bits at 9600 bit/s
    EXPECT_EQ(quiet_for(115200, 7, true, 2), 954'861ns);
    DataEntryPolicy policy(10ms);
    const SteadyClock::time_point start{};
    EXPECT_TRUE(policy.starts_entry(start));
    EXPECT_FALSE(policy.starts_entry(start + 5ms));
    EXPECT_TRUE(policy.starts_entry(start + 20ms)) << "after a quiet of 15 ms";
    // A stream of chunks 5 ms apart: an entry once a second.
    int entries = 0;
    for (auto at = start + 25ms; at <= start + 3020ms; at += 5ms) {
        entries += policy.starts_entry(at) ? 1 : 0;
    }
    EXPECT_EQ(entries, 3);
}

using test::FileSizeLimit;

TEST(CaptureEvents, MarksLandWhereTheirBytesAreStoredAfterWhatTheFileHeld) {
    test::TempDir dir;
    test::write_file(dir / "capture", "earlier run\n");
    CaptureFile capture;
    ASSERT_TRUE(capture.open((dir / "capture").c_str()));
    EXPECT_EQ(capture.size(), 12u);
    capture.mark(1);
    capture.store(bytes_of("abc"));
    capture.store(bytes_of("def"));  // no mark: belongs to the entry before
    capture.mark(2);
    capture.store(bytes_of("g"));
    const auto events = capture.take_events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::kLanded);
    EXPECT_EQ(events[0].tag, 1u);
    EXPECT_EQ(events[0].offset, 12u);
    EXPECT_EQ(events[1].tag, 2u);
    EXPECT_EQ(events[1].offset, 18u);
    EXPECT_TRUE(capture.take_events().empty());
}

// Appends that fail, then succeed: the file's size before each, and the marks of the bytes kept
// meanwhile land once the file takes them; marks of bytes dropped beyond the bound go with them.
TEST(CaptureEvents, FailingAppendsAndDroppedBytesAreToldInOrder) {
    test::TempDir dir;
    CaptureFile capture(8);
    ASSERT_TRUE(capture.open((dir / "capture").c_str()));
    {
        FileSizeLimit limit(4);
        capture.mark(1);
        EXPECT_EQ(capture.store(bytes_of("012345")), CaptureFile::Outcome::kFirstFailure);
        capture.mark(2);
        capture.store(bytes_of("6789"));  // "456789" kept
        capture.mark(3);
        capture.store(bytes_of("ABCDEFGH"));  // 8 kept: "456789" go, and the mark of "6789"
    }
    EXPECT_EQ(capture.retry(), CaptureFile::Outcome::kStored);
    EXPECT_EQ(test::file_bytes(dir / "capture"), "0123ABCDEFGH");
    const auto events = capture.take_events();
    const std::vector<std::tuple<Kind, std::uint64_t, std::uint64_t>> expected = {
        {Kind::kAppendFailed, 0, 0},  {Kind::kLanded, 0, 1}, {Kind::kDropped, 4, 6},
        {Kind::kAppendResumed, 4, 0}, {Kind::kLanded, 4, 3},
    };
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        const auto [kind, offset, tag_or_count] = expected[i];
        EXPECT_EQ(events[i].kind, kind) << i;
        EXPECT_EQ(events[i].offset, offset) << i;
        EXPECT_EQ(kind == Kind::kDropped ? events[i].count : events[i].tag, tag_or_count) << i;
    }
}

}  // namespace
}  // namespace zentavol
