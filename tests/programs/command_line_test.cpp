// What both programs share: help and version, a port they cannot hold (missing, held by another
// program, or no serial port at all), and a console that is missing or goes away.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "program_fixture.h"

namespace zentavol::test {
namespace {

using namespace std::string_literals;

TEST(CommandLine, HelpAndVersionPrintAndSucceed) {
    const std::string receiver_help_start = "usage zentavol COM\n";
    const std::string sender_help_start = "usage zentavol COM datafile\n";
    const struct {
        std::vector<std::string> argv;
        std::string starts_with;
        bool more_lines;
    } cases[] = {
        {{kReceiver, "--help"}, receiver_help_start, true},
        {{kReceiver, "-h"}, receiver_help_start, true},
        {{kSender, "--help"}, sender_help_start, true},
        {{kSender, "-h", "ignored"}, sender_help_start, true},
        {{kReceiver, "--version"}, "zentavol " ZENTAVOL_VERSION "\n", false},
        {{kSender, "--version"}, "zentavol-send " ZENTAVOL_VERSION "\n", false},
    };
    for (const auto& c : cases) {
        const auto result = run_to_end({.argv = c.argv}, 5s);
        EXPECT_EQ(result.status, 0) << c.argv[1];
        EXPECT_TRUE(result.output.starts_with(c.starts_with)) << result.output;
        EXPECT_EQ(result.output.size() > c.starts_with.size(), c.more_lines) << result.output;
    }
}

// The listing of this machine's ports, whatever they are: a port a line, or the one message.
TEST(CommandLine, ListShowsPortsOrSaysThereAreNone) {
    for (const char* program : {kReceiver, kSender}) {
        const auto result = run_to_end({.argv = {program, "--list"}}, 5s);
        if (result.output == "no serial ports found\n") {
            EXPECT_EQ(result.status, 1) << program;
            continue;
        }
        EXPECT_EQ(result.status, 0) << program << ": " << result.output;
        ASSERT_FALSE(result.output.empty()) << program;
        std::size_t start = 0;
        while (start < result.output.size()) {
            const auto end = result.output.find('\n', start);
            ASSERT_NE(end, std::string::npos) << "an unfinished line";
            const std::string line = result.output.substr(start, end - start);
            EXPECT_TRUE(line.starts_with("/dev/") && line.find("  ") != std::string::npos) << line;
            start = end + 1;
        }
    }
}

// Swapped arguments, or the capture file given as port: refused like a missing port, and the
// thing named is left exactly as it was.
TEST(CommandLine, WhatIsNoSerialPortIsRefusedAndLeftUntouched) {
    TempDir dir;
    write_file(dir / "notes.txt", "notes that must survive\n");
    write_file(dir / "data.txt", "a record\n");
    std::filesystem::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
    struct stat notes_before {};
    ASSERT_EQ(::stat((dir / "notes.txt").c_str(), &notes_before), 0);
    const std::string data = (dir / "data.txt").string();
    for (const std::string& port : {(dir / "notes.txt").string(), (dir / "folder").string(),
                                    (dir / "fifo").string(), "/dev/null"s, "/dev/zero"s}) {
        TempDir cwd;
        const auto received = run_to_end({.argv = {kReceiver, port}, .cwd = cwd.path()}, 5s);
        EXPECT_EQ(received.status, 1) << port;
        EXPECT_EQ(received.output, "error open COM\n") << port;
        EXPECT_TRUE(std::filesystem::is_empty(cwd.path())) << port << ": a capture was created";
        const auto sent = run_to_end({.argv = {kSender, port, data}, .cwd = cwd.path()}, 5s);
        EXPECT_EQ(sent.status, 1) << port;
        EXPECT_EQ(sent.output, "error open COM\n") << port;
    }
    EXPECT_EQ(file_bytes(dir / "notes.txt"), "notes that must survive\n");
    struct stat notes_after {};
    ASSERT_EQ(::stat((dir / "notes.txt").c_str(), &notes_after), 0);
    EXPECT_EQ(notes_after.st_mtim.tv_nsec, notes_before.st_mtim.tv_nsec);
    EXPECT_EQ(notes_after.st_mtim.tv_sec, notes_before.st_mtim.tv_sec);
}

// A name that leads nowhere, or to a port that another program holds: refused at once, with
// nothing created and nothing sent.
TEST(CommandLine, APortThatCannotBeHeldIsRefusedByBoth) {
    PtyPair line;
    const int holder = ::open(line.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    TempDir dir;
    write_file(dir / "data", "abc\n");
    for (const std::string& port : {line.slave_path(), (dir / "COM1").string()}) {
        for (const bool sender : {false, true}) {
            TempDir cwd;
            std::vector<std::string> argv = {sender ? kSender : kReceiver, port};
            if (sender) {
                argv.push_back((dir / "data").string());
            }
            const auto result = run_to_end({.argv = argv, .cwd = cwd.path()}, 5s);
            EXPECT_EQ(result.status, 1) << argv[0] << " " << port;
            EXPECT_EQ(result.output, "error open COM\n") << argv[0] << " " << port;
            EXPECT_TRUE(std::filesystem::is_empty(cwd.path())) << argv[0] << " " << port;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "COM1"));
    EXPECT_EQ(line.receive_for(200ms), "") << "something was sent";
    ::close(holder);
}

// Started without a standard output, or with one whose reader has gone: the receiver captures
// and the sender plays as ever, and neither puts a message on the line.
TEST(CommandLine, AConsoleThatIsClosedOrGoneChangesNothingForEither) {
    for (const bool closed : {true, false}) {
        for (const bool sender : {false, true}) {
            const std::string name =
                std::string(sender ? "sender" : "receiver") + (closed ? ", closed" : ", gone");
            PtyPair line;
            TempDir cwd;
            write_file(cwd / "data", "a\nb\n");
            int pipe_fds[2];
            ASSERT_EQ(::pipe(pipe_fds), 0);
            ::close(pipe_fds[0]);  // the reader has gone before the program starts
            std::vector<std::string> argv = {sender ? kSender : kReceiver, line.slave_path()};
            if (sender) {
                argv.push_back((cwd / "data").string());
            }
            ChildProcess program({.argv = argv,
                                  .cwd = cwd.path(),
                                  .stdout_fd = closed ? -1 : pipe_fds[1],
                                  .stdout_closed = closed});
            ::close(pipe_fds[1]);
            if (sender) {
                EXPECT_EQ(line.receive(6, 5s), "a\n\0b\n\0"s) << name;
                EXPECT_EQ(program.wait_exit(5s), 0) << name;
                continue;
            }
            ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s))
                << name;
            line.send("first");
            EXPECT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat") == "first"; }, 5s))
                << name;
            line.send("second");
            EXPECT_TRUE(
                eventually([&] { return file_bytes(cwd / "zentavol.dat") == "firstsecond"; }, 5s))
                << name;
            EXPECT_EQ(line.receive_for(300ms), "") << name << ": something went out on the line";
            EXPECT_TRUE(program.running()) << name;
        }
    }
}

}  // namespace
}  // namespace zentavol::test
