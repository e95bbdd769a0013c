// The receiver's two pieces without a port: the capture file's backlog for appends that fail,
// and the echo writer's backlog for a console that does not move.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>

#include "capture_file.h"
#include "echo_writer.h"
#include "pty_pair.h"

namespace zentavol {
namespace {

using namespace std::chrono_literals;
using Outcome = CaptureFile::Outcome;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A soft file size limit on this process while it lives; appends past it fail with EFBIG.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    void lift() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

  private:
    rlimit saved_{};
};

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

TEST(EchoWriter, ABacklogPastItsLimitIsShownWithEveryGapAccountedForAndEveryMessage) {
    test::Pipe console;
    ASSERT_GE(::fcntl(console.write_end(), F_SETPIPE_SZ, 4096), 4096);
    std::FILE* out = ::fdopen(::dup(console.write_end()), "wb");
    ASSERT_NE(out, nullptr);
    console.close_write_end();
    std::string stream;
    {
        EchoWriter echo(out, 1000);
        for (int chunk = 0; chunk < 40; ++chunk) {
            const std::string bytes(500, static_cast<char>('A' + chunk % 26));
            stream += bytes;
            echo.echo(bytes_of(bytes));
            if (chunk == 20) {
                echo.say("message");
            }
        }
        // The writer drains what it kept while this reads the console.
        std::thread reader(
            [&] { console.read_until([](const std::string&) { return false; }, 1s); });
        reader.join();
    }
    std::fclose(out);
    std::string shown = console.read_until([](const std::string&) { return false; }, 200ms);

    const std::string message = "message\n";
    const auto at = shown.find(message);
    ASSERT_NE(at, std::string::npos) << "a message was dropped";
    shown.erase(at, message.size());
    std::size_t consumed = 0;
    std::size_t gaps = 0;
    std::string_view rest = shown;
    const std::string_view mark = "\necho skipped ";
    while (!rest.empty()) {
        const auto gap = rest.find(mark);
        const auto piece = rest.substr(0, gap);
        ASSERT_EQ(std::string_view(stream).substr(consumed, piece.size()), piece);
        consumed += piece.size();
        if (gap == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(gap + mark.size());
        const auto end = rest.find(" bytes\n");
        ASSERT_NE(end, std::string_view::npos);
        consumed += std::stoul(std::string(rest.substr(0, end)));
        rest.remove_prefix(end + 7);
        ++gaps;
    }
    EXPECT_EQ(consumed, stream.size()) << "shown and skipped bytes do not add up to the stream";
    EXPECT_GE(gaps, 1u);
}

}  // namespace
}  // namespace zentavol
