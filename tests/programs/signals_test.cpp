// How the receiver ends and rotates on signals, as a service manager, a shell or logrotate sends
// them: everything read is stored or said lost, the end is the signal's, and SIGUSR1 splits the
// capture between the renamed file and a new one with nothing lost or doubled.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "program_fixture.h"

namespace zentavol::test {
namespace {

using namespace std::string_literals;

TEST(EndingOnASignal, EachEndingSignalStoresEverythingAndEndsAsTheSignalWould) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        PtyPair line;
        TempDir cwd;
        RunningReceiver receiver(line.slave_path(), cwd.path(), &line);
        const std::string bytes = line_safe_bytes(5000);
        line.send(bytes);
        ASSERT_TRUE(eventually([&] { return receiver.echo() == bytes; }, 5s)) << signal;
        receiver.process().send_signal(signal);
        EXPECT_FALSE(receiver.process().wait_exit(3s).has_value()) << signal;
        EXPECT_TRUE(receiver.process().ended_by_signal(signal)) << signal;
        EXPECT_TRUE(receiver.capture() == bytes) << signal;
        EXPECT_EQ(receiver.echo(), bytes) << signal << ": a message was added";
    }
}

// Bytes that failing appends kept are tried once more; what still cannot be stored is said,
// with its count.
TEST(EndingOnASignal, WhatFailingAppendsStillHoldIsSaidLostWithItsCount) {
    PtyPair line;
    TempDir cwd;
    ChildProcess receiver({.argv = {kReceiver, "-q", line.slave_path()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out",
                           .file_size_limit = 1000});
    ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
    line.send(line_safe_bytes(1500));
    ASSERT_TRUE(eventually(
        [&] { return receiver.output() == kAnnouncement + "error write zentavol.dat\n"s; }, 5s));
    receiver.send_signal(SIGTERM);
    EXPECT_FALSE(receiver.wait_exit(3s).has_value());
    EXPECT_TRUE(receiver.ended_by_signal(SIGTERM));
    EXPECT_EQ(receiver.output(), kAnnouncement + "error write zentavol.dat\n"s +
                                     "error write zentavol.dat\nlost 500 bytes\n");
    EXPECT_EQ(file_bytes(cwd / "zentavol.dat"), line_safe_bytes(1500).substr(0, 1000));
}

// A console that does not move gets about a second for the echo still queued; the file has
// everything anyway.
TEST(EndingOnASignal, AStalledConsoleDelaysTheEndByAboutASecondAtMost) {
    PtyPair line;
    TempDir cwd;
    Pipe console;
    ASSERT_GE(::fcntl(console.write_end(), F_SETPIPE_SZ, 4096), 4096);
    ChildProcess receiver({.argv = {kReceiver, line.slave_path()},
                           .cwd = cwd.path(),
                           .stdout_fd = console.write_end()});
    console.close_write_end();
    ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
    const std::string stream = line_safe_bytes(std::size_t{1} << 20);
    ASSERT_EQ(line.send_for(stream, 20s), stream.size());
    ASSERT_TRUE(
        eventually([&] { return file_bytes(cwd / "zentavol.dat").size() == stream.size(); }, 10s));
    const auto start = Clock::now();
    receiver.send_signal(SIGINT);
    EXPECT_FALSE(receiver.wait_exit(5s).has_value());
    EXPECT_TRUE(receiver.ended_by_signal(SIGINT));
    EXPECT_LT(Clock::now() - start, 2500ms);
    EXPECT_TRUE(file_bytes(cwd / "zentavol.dat") == stream);
}

// Waiting for a port, at start or after it went away: a signal ends the wait at once.
TEST(EndingOnASignal, ASignalEndsTheWaitForAPortAtOnce) {
    TempDir cwd;
    {
        ChildProcess waiting({.argv = {kReceiver, "-w", (cwd / "nothing").string()},
                              .cwd = cwd.path(),
                              .stdout_path = cwd / "out"});
        ASSERT_TRUE(eventually([&] { return waiting.output() == "error open COM\n"; }, 5s));
        std::this_thread::sleep_for(300ms);
        const auto start = Clock::now();
        waiting.send_signal(SIGTERM);
        EXPECT_FALSE(waiting.wait_exit(3s).has_value());
        EXPECT_TRUE(waiting.ended_by_signal(SIGTERM));
        EXPECT_LT(Clock::now() - start, 300ms);
    }
    auto line = std::make_unique<PtyPair>();
    RunningReceiver receiver(line->slave_path(), cwd.path(), line.get());
    line.reset();  // the port goes away
    ASSERT_TRUE(eventually([&] { return receiver.echo() == "error read COM\n"; }, 5s));
    std::this_thread::sleep_for(300ms);
    const auto start = Clock::now();
    receiver.process().send_signal(SIGHUP);
    EXPECT_FALSE(receiver.process().wait_exit(3s).has_value());
    EXPECT_TRUE(receiver.process().ended_by_signal(SIGHUP));
    EXPECT_LT(Clock::now() - start, 300ms);
}

// logrotate renames the files and sends SIGUSR1 while a stream runs: the old file and the new
// one together hold the stream in order, nothing twice, nothing lost; so do the indexes.
TEST(Rotation, SigUsr1AfterRenamingSplitsTheCaptureWithNothingLostOrDoubled) {
    for (const bool timestamps : {false, true}) {
        PtyPair line;
        TempDir cwd;
        std::vector<std::string> argv = {kReceiver, "-q", line.slave_path()};
        if (timestamps) {
            argv.emplace_back("-t");
        }
        ChildProcess receiver({.argv = argv, .cwd = cwd.path(), .stdout_path = cwd / "out"});
        ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
        const std::string stream = line_safe_bytes(std::size_t{4} << 20);
        std::thread feeder([&] {
            for (std::size_t at = 0; at < stream.size(); at += 4096) {
                line.send(std::string_view(stream).substr(at, 4096));
                std::this_thread::sleep_for(1ms);
            }
        });
        ASSERT_TRUE(eventually(
            [&] { return std::filesystem::file_size(cwd / "zentavol.dat") > stream.size() / 3; },
            10s));
        std::filesystem::rename(cwd / "zentavol.dat", cwd / "zentavol.dat.1");
        if (timestamps) {
            std::filesystem::rename(cwd / "zentavol.dat.times", cwd / "zentavol.dat.1.times");
        }
        receiver.send_signal(SIGUSR1);
        feeder.join();
        ASSERT_TRUE(eventually(
            [&] {
                return file_bytes(cwd / "zentavol.dat.1").size() +
                           file_bytes(cwd / "zentavol.dat").size() ==
                       stream.size();
            },
            10s));
        const std::string old_part = file_bytes(cwd / "zentavol.dat.1");
        EXPECT_GT(old_part.size(), 0u);
        EXPECT_LT(old_part.size(), stream.size()) << "nothing went to the new file";
        EXPECT_TRUE(old_part + file_bytes(cwd / "zentavol.dat") == stream)
            << "lost, doubled or out of order";
        if (timestamps) {
            for (const auto& [index, size] :
                 {std::pair{"zentavol.dat.1.times"s, old_part.size()},
                  std::pair{"zentavol.dat.times"s, stream.size() - old_part.size()}}) {
                const std::string text = file_bytes(cwd / index);
                EXPECT_NE(text.substr(0, text.find('\n')).find("\t0\topen\t"), std::string::npos)
                    << index << ": does not start with its open";
                EXPECT_NE(text.find("\t0\tdata\n"), std::string::npos)
                    << index << ": the first byte has no data entry";
                EXPECT_EQ(text.find("\t" + std::to_string(size + 1)), std::string::npos) << index;
            }
        }
        EXPECT_TRUE(receiver.running());
    }
}

}  // namespace
}  // namespace zentavol::test
