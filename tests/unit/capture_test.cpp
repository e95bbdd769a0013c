// The capture file without a port: its backlog for appends that fail.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "bytes.h"
#include "capture_file.h"
#include "file_size_limit.h"
#include "pty_pair.h"

namespace zentavol {
namespace {

using namespace std::chrono_literals;
using Outcome = CaptureFile::Outcome;

using test::bytes_of;

using test::FileSizeLimit;

TEST(CaptureFile, KeepsWhatTheFileRefusedDropsTheOldestBeyondItsLimitAndLandsTheRestInOrder) {
    test::TempDir dir;
    const auto path = dir / "capture";
    CaptureFile capture(8);
    ASSERT_TRUE(capture.open(path.c_str()));
    FileSizeLimit limit(10);
    EXPECT_EQ(capture.store(bytes_of("0123456789AB")), Outcome::kFirstFailure);
    EXPECT_EQ(test::file_bytes(path), "0123456789");
    EXPECT_EQ(capture.store(bytes_of("CDEFGH")), Outcome::kStillFailing);  // 8 kept: full
    EXPECT_EQ(capture.store(bytes_of("IJ")), Outcome::kStillFailing);  // "AB" go; "IJ" wrap round
    EXPECT_EQ(capture.retry(), Outcome::kStillFailing);
    EXPECT_TRUE(capture.has_backlog());

    limit.lift();
    EXPECT_EQ(capture.retry(), Outcome::kStored);
    EXPECT_FALSE(capture.has_backlog());
    EXPECT_EQ(test::file_bytes(path), "0123456789CDEFGHIJ");
    EXPECT_EQ(capture.store(bytes_of("KL")), Outcome::kStored);
    EXPECT_EQ(test::file_bytes(path), "0123456789CDEFGHIJKL");
}

TEST(CaptureFile, AFailureAfterRecoveryIsNewAgain) {
    test::TempDir dir;
    const auto path = dir / "capture";
    CaptureFile capture(64);
    ASSERT_TRUE(capture.open(path.c_str()));
    {
        FileSizeLimit limit(2);
        EXPECT_EQ(capture.store(bytes_of("abc")), Outcome::kFirstFailure);
    }
    EXPECT_EQ(capture.store(bytes_of("d")), Outcome::kStored);
    FileSizeLimit limit(4);
    EXPECT_EQ(capture.store(bytes_of("e")), Outcome::kFirstFailure);
    EXPECT_EQ(test::file_bytes(path), "abcd");
}

}  // namespace
}  // namespace zentavol
