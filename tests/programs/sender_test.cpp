// The sender as its users meet it: the built program on a pty pair made by the test.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "program_fixture.h"

namespace zentavol::test {
namespace {

using namespace std::string_literals;

TEST(SenderStart, FailuresAreReportedInOrderWithTheirStatus) {
    PtyPair line;
    TempDir dir;
    write_file(dir / "data", "abc\n");
    std::filesystem::create_directory(dir / "folder");
    const std::string port = line.slave_path();
    const std::string bad_port = (dir / "COM9").string();
    const struct {
        const char* name;
        std::vector<std::string> argv;
        int status;
        const char* output;
    } cases[] = {
        {"no argument", {kSender}, 2, "usage zentavol COM datafile\n"},
        {"one argument", {kSender, port}, 2, "usage zentavol COM datafile\n"},
        {"bad port, bad file", {kSender, bad_port, (dir / "none").string()}, 1, "error open COM\n"},
        {"bad port, good file",
         {kSender, bad_port, (dir / "data").string()},
         1,
         "error open COM\n"},
        {"missing file", {kSender, port, (dir / "none").string()}, 1, "cannot find datafile\n"},
        {"file is a folder",
         {kSender, port, (dir / "folder").string()},
         1,
         "cannot find datafile\n"},
    };
    for (const auto& c : cases) {
        const auto result = run_to_end({.argv = c.argv, .cwd = dir.path()}, 5s);
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_EQ(result.output, c.output) << c.name;
    }
    EXPECT_EQ(line.receive_for(200ms), "") << "nothing may be sent";
}

TEST(SenderPlayback, AnEmptyFileConfiguresThePortSendsNothingAndEndsAtOnce) {
    PtyPair line(PtyPair::Start::kTerminalDefaults);
    TempDir dir;
    write_file(dir / "data", "");
    const auto start = Clock::now();
    const auto result =
        run_to_end({.argv = {kSender, line.slave_path(), (dir / "data").string()}}, 5s);
    EXPECT_LT(Clock::now() - start, 900ms);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "Press CtrlC to break;\n");
    EXPECT_TRUE(is_configured_line(line.slave_termios()));
    EXPECT_EQ(line.receive_for(100ms), "");
}

// How a file is cut is the line reader's (unit) test; here each piece must leave whole, as one
// record, one a second, zero bytes and all.
TEST(SenderPlayback, RecordsAreOneSecondApartAndThePauseFollowsTheLast) {
    PtyPair line;
    TempDir dir;
    const std::string line98(98, 'L');
    write_file(dir / "data", "ab\0c\r\n"s + line98 + "\n" + "last");
    const auto start = Clock::now();
    ChildProcess sender({.argv = {kSender, line.slave_path(), (dir / "data").string()},
                         .stdout_path = dir / "out"});
    const auto arrivals = arrivals_until_exit(line, sender, 15s);
    const auto took = Clock::now() - start;
    EXPECT_EQ(sender.wait_exit(5s), 0);
    EXPECT_EQ(records_of(arrivals),
              (std::vector<std::string>{"ab\0c\r\n\0"s, line98 + "\0"s, "\n\0"s, "last\0"s}));
    ASSERT_EQ(arrivals.size(), 4u);
    EXPECT_LT(seconds(arrivals[0].at), 0.5) << "the first record goes out at once";
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        EXPECT_NEAR(seconds(arrivals[i].at - arrivals[i - 1].at), 1.0, 0.15);
    }
    EXPECT_NEAR(seconds(took), 4.0, 0.5);
}

TEST(SenderPlayback, AWriteHeldByXoffIsReportedAndPlaybackGoesOn) {
    PtyPair line;
    TempDir dir;
    write_file(dir / "data", "first\nsecond\nthird\n");
    ChildProcess sender({.argv = {kSender, line.slave_path(), (dir / "data").string()},
                         .stdout_path = dir / "out"});
    ASSERT_EQ(line.receive(7, 3s), "first\n\0"s);
    line.send("\x13");  // XOFF: hold the line
    ASSERT_TRUE(eventually(
        [&] { return sender.output().find("write comm error") != std::string::npos; }, 3s));
    const auto error_seen = Clock::now();
    line.send("\x11");  // XON
    const std::string third = line.receive(7, 3s);
    const auto third_at = Clock::now();
    EXPECT_EQ(third, "third\n\0"s) << "the held record is not sent later";
    EXPECT_NEAR(seconds(third_at - error_seen), 1.0, 0.3);
    EXPECT_EQ(sender.wait_exit(5s), 1);
    EXPECT_EQ(sender.output(), "Press CtrlC to break;\nwrite comm error\n");
}

// An XOFF that came before the sender, from a far end that then fell silent, must not hold it.
TEST(SenderPlayback, AStaleXoffFromBeforeDoesNotHoldTheSender) {
    PtyPair line;
    termios tio = line.slave_termios();
    tio.c_iflag |= IXON;
    ASSERT_EQ(::tcsetattr(line.slave(), TCSANOW, &tio), 0);
    line.send("\x13");
    // Output on the port is now suspended: a write there cannot go out.
    const int probe = ::open(line.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(eventually([&] { return ::write(probe, "p", 1) < 0 && errno == EAGAIN; }, 2s))
        << "the XOFF did not suspend output";
    ::close(probe);
    line.receive_for(100ms);  // probes written before the XOFF took hold

    TempDir dir;
    write_file(dir / "data", "first\nsecond\n");
    ChildProcess sender({.argv = {kSender, line.slave_path(), (dir / "data").string()},
                         .stdout_path = dir / "out"});
    EXPECT_EQ(line.receive(16, 5s), "first\n\0second\n\0"s);
    EXPECT_EQ(sender.wait_exit(5s), 0);
    EXPECT_EQ(sender.output(), "Press CtrlC to break;\n");
}

}  // namespace
}  // namespace zentavol::test
