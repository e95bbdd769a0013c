// The echo writer without a port: its timing, its order, its backlog, and its end.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <thread>

#include "bytes.h"
#include "echo_gaps.h"
#include "echo_writer.h"
#include "pty_pair.h"

namespace zentavol {
namespace {

using namespace std::chrono_literals;
using test::bytes_of;

// A console on a pipe that the test reads when it chooses to.
class PipeConsole {
  public:
    explicit PipeConsole(int pipe_size = 0) {
        if (pipe_size > 0) {
            EXPECT_GE(::fcntl(pipe_.write_end(), F_SETPIPE_SZ, pipe_size), pipe_size);
        }
        out_ = ::fdopen(::dup(pipe_.write_end()), "wb");
        EXPECT_NE(out_, nullptr);
        pipe_.close_write_end();
    }
    ~PipeConsole() { close(); }
    PipeConsole(const PipeConsole&) = delete;
    PipeConsole& operator=(const PipeConsole&) = delete;
    std::FILE* out() const { return out_; }
    void close() {
        if (out_ != nullptr) {
            std::fclose(out_);
            out_ = nullptr;
        }
    }
    const std::string& read_until(std::string_view wanted, std::chrono::milliseconds timeout) {
        return pipe_.read_until([&](const std::string& got) { return got == wanted; }, timeout);
    }
    const std::string& read_all(std::chrono::milliseconds timeout) {
        return pipe_.read_until([](const std::string&) { return false; }, timeout);
    }

  private:
    test::Pipe pipe_;
    std::FILE* out_ = nullptr;
};

// A chunk that says more will follow, and then nothing does: it must not wait for ever.
TEST(EchoWriter, ALoneChunkThatSaysMoreFollowsIsShownAfterTheBatchDelay) {
    PipeConsole console;
    EchoWriter echo(console.out());
    const auto start = std::chrono::steady_clock::now();
    echo.echo(bytes_of("lone"), true);
    EXPECT_EQ(console.read_until("lone", 2s), "lone");
    EXPECT_LT(std::chrono::steady_clock::now() - start, kEchoBatchDelay + 300ms);
}

// Chunks of a burst, then a message: the message comes after all of them, and at once.
TEST(EchoWriter, AMessageAfterABurstFollowsItInOrder) {
    PipeConsole console;
    EchoWriter echo(console.out());
    std::string expected;
    for (int chunk = 0; chunk < 50; ++chunk) {
        const std::string bytes(100, static_cast<char>('a' + chunk % 26));
        echo.echo(bytes_of(bytes), true);
        expected += bytes;
    }
    echo.say("error read COM");
    expected += "error read COM\n";
    EXPECT_EQ(console.read_until(expected, 2s), expected);
}

// Ending the writer with bytes that still wait for the rest of their burst writes them all.
TEST(EchoWriter, EndingWritesOutEverythingQueued) {
    PipeConsole console(4096);
    std::string expected;
    std::thread reader;
    {
        EchoWriter echo(console.out());
        for (int chunk = 0; chunk < 100; ++chunk) {
            const std::string bytes = test::line_safe_bytes(1000);
            echo.echo(bytes_of(bytes), true);
            expected += bytes;
        }
        echo.say("last");
        expected += "last\n";
        // The pipe holds 4 KiB: the writer can only end once the test reads.
        reader = std::thread([&] { console.read_until(expected, 10s); });
    }
    reader.join();
    EXPECT_TRUE(console.read_all(0ms) == expected) << "the echo was cut short or reordered";
}

// A console that fails every write (its reader has gone) costs the caller nothing, and the
// writer still ends.
TEST(EchoWriter, AConsoleThatFailsHoldsUpNeitherCallerNorEnd) {
    std::signal(SIGPIPE, SIG_IGN);
    auto console = std::make_unique<test::Pipe>();
    std::FILE* out = ::fdopen(::dup(console->write_end()), "wb");
    ASSERT_NE(out, nullptr);
    console.reset();  // both of the test's ends close: writes fail with EPIPE
    const auto start = std::chrono::steady_clock::now();
    {
        EchoWriter echo(out);
        const std::string bytes(std::size_t{1} << 20, 'x');
        for (int chunk = 0; chunk < 32; ++chunk) {
            echo.echo(bytes_of(bytes));
            echo.say("message");
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(std::ferror(out) + std::fputc('y', out) + std::fflush(out), 0)
        << "the console was to fail";
    std::fclose(out);
}

TEST(EchoWriter, ABacklogPastItsLimitIsShownWithEveryGapAccountedForAndEveryMessage) {
    PipeConsole console(4096);
    std::string stream;
    {
        EchoWriter echo(console.out(), 1000);
        for (int chunk = 0; chunk < 40; ++chunk) {
            const std::string bytes(500, static_cast<char>('A' + chunk % 26));
            stream += bytes;
            echo.echo(bytes_of(bytes));
            if (chunk == 20) {
                echo.say("message");
            }
        }
        // The writer drains what it kept while this reads the console.
        std::thread reader([&] { console.read_all(1s); });
        reader.join();
    }
    console.close();
    std::string shown = console.read_all(200ms);

    const std::string message = "message\n";
    const auto at = shown.find(message);
    ASSERT_NE(at, std::string::npos) << "a message was dropped";
    shown.erase(at, message.size());
    const auto skipped = test::bytes_left_out(shown, stream);
    ASSERT_TRUE(skipped.has_value()) << "shown and skipped bytes do not add up to the stream";
    EXPECT_GT(*skipped, 0u);
}

}  // namespace
}  // namespace zentavol
