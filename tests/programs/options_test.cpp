// The options of both programs as users give them: the line they reach on the port, where the
// capture goes, what is shown, waiting for a port, the pace of records, and what is refused.
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <thread>

#include "line_speed.h"
#include "null_modem.h"
#include "program_fixture.h"

namespace zentavol::test {
namespace {

using namespace std::string_literals;

std::string announcement_for(const std::string& file) {
    return "result in " + file + "   Press CtrlC to break;\n";
}

// What another process sees of the port's line.
struct SeenLine {
    std::uint32_t baud = 0;
    bool two_stop_bits = false;
    bool odd_flag = false;      // PARODD: odd, or mark with CMSPAR
    bool stick_parity = false;  // CMSPAR
    bool xon_xoff = false;
    bool rts_cts = false;
    bool hang_up_on_close = true;
    friend bool operator==(const SeenLine&, const SeenLine&) = default;
};

std::ostream& operator<<(std::ostream& out, const SeenLine& line) {
    return out << line.baud << (line.two_stop_bits ? " 2 stop" : " 1 stop")
               << (line.odd_flag ? " PARODD" : "") << (line.stick_parity ? " CMSPAR" : "")
               << (line.xon_xoff ? " IXON|IXOFF" : "") << (line.rts_cts ? " CRTSCTS" : "")
               << (line.hang_up_on_close ? " HUPCL" : "");
}

SeenLine seen_line(const PtyPair& line) {
    const termios tio = line.slave_termios();
    return {.baud = line_speed(line.slave()),
            .two_stop_bits = (tio.c_cflag & CSTOPB) != 0,
            .odd_flag = (tio.c_cflag & PARODD) != 0,
            .stick_parity = (tio.c_cflag & CMSPAR) != 0,
            .xon_xoff = (tio.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF),
            .rts_cts = (tio.c_cflag & CRTSCTS) != 0,
            .hang_up_on_close = (tio.c_cflag & HUPCL) != 0};
}

std::vector<std::string> with(std::vector<std::string> argv, const std::vector<std::string>& more) {
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
}

// Whether the classic termios names the rate.
std::uint32_t standard_line_speed_of(std::uint32_t baud) {
    for (const std::uint32_t rate : {50u, 75u, 1200u, 9600u, 19200u, 115200u, 230400u}) {
        if (rate == baud) {
            return rate;
        }
    }
    return 0;
}

// A pseudo-terminal forces 8 data bits and no parity, and keeps the rest; 16550 registers are
// checked in the emulated machine.
TEST(LineOptions, ReachThePortAsAnotherProcessReadsIt) {
    const struct {
        std::vector<std::string> options;
        SeenLine expected;
    } cases[] = {
        {{}, {.baud = 9600, .xon_xoff = true}},
        {{"-b", "115200"}, {.baud = 115200, .xon_xoff = true}},
        {{"--baudrate=250000", "-f", "none"}, {.baud = 250000}},
        {{"-b31250", "-s", "2", "--parity", "odd"},
         {.baud = 31250, .two_stop_bits = true, .odd_flag = true, .xon_xoff = true}},
        {{"--parity=mark", "--flow", "hard"},
         {.baud = 9600, .odd_flag = true, .stick_parity = true, .rts_cts = true}},
        {{"-p", "space", "-d", "7", "--stopbits=1", "-f", "soft"},
         {.baud = 9600, .stick_parity = true, .xon_xoff = true}},
        {{"-b", "50", "-p", "even", "-b", "75"}, {.baud = 75, .xon_xoff = true}},
    };
    const bool any_rate = any_rate_readable(PtyPair().slave());
    for (const bool sender : {false, true}) {
        for (const auto& c : cases) {
            std::string name = sender ? "sender" : "receiver";
            for (const auto& option : c.options) {
                name += " " + option;
            }
            if (!any_rate && standard_line_speed_of(c.expected.baud) == 0) {
                // qemu-user carries no termios2: a rate without a Bxxx name cannot be set.
                std::cout << "skipped under this emulator: " << name << "\n";
                continue;
            }
            SeenLine expected = c.expected;
            // qemu-user does not carry CMSPAR either; the 16550 in the emulated machine does.
            expected.stick_parity = expected.stick_parity && any_rate;
            PtyPair line;
            termios tio = line.slave_termios();
            tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);  // configure must set it itself
            ASSERT_EQ(::tcsetattr(line.slave(), TCSANOW, &tio), 0);
            TempDir cwd;
            write_file(cwd / "data", "x\n");
            const std::vector<std::string> argv =
                sender ? with(with({kSender, "--line-delay", "3000"}, c.options),
                              {line.slave_path(), (cwd / "data").string()})
                       : with(with({kReceiver}, c.options), {line.slave_path()});
            ChildProcess program({.argv = argv, .cwd = cwd.path(), .stdout_path = cwd / "out"});
            // The sender configures before its record; the receiver before it reads.
            if (sender) {
                EXPECT_EQ(line.receive(3, 5s), "x\n\0"s) << name;
            } else {
                EXPECT_TRUE(eventually([&] { return seen_line(line) == expected; }, 5s));
            }
            EXPECT_EQ(seen_line(line), expected) << name;
            EXPECT_TRUE(program.running()) << name << ": " << program.output();
        }
    }
}

// Without flow control the two flow-control bytes are data both ways: a stream of every byte
// value is captured as it is, and the sender neither stops on the far end's XOFF nor leaves its
// own 0x11 and 0x13 out.
TEST(LineOptions, WithoutFlowControlEveryByteValueIsData) {
    std::string every_value;
    for (int value = 0; value < 256; ++value) {
        every_value.push_back(static_cast<char>(value));
    }
    {
        PtyPair line;
        TempDir cwd;
        ChildProcess receiver({.argv = {kReceiver, "-f", "none", line.slave_path()},
                               .cwd = cwd.path(),
                               .stdout_path = cwd / "out"});
        ASSERT_TRUE(eventually([&] { return !seen_line(line).xon_xoff; }, 5s));
        line.send(every_value + every_value);
        EXPECT_TRUE(eventually(
            [&] { return file_bytes(cwd / "zentavol.dat") == every_value + every_value; }, 5s))
            << "capture is " << file_bytes(cwd / "zentavol.dat").size() << " bytes";
    }
    PtyPair line;
    TempDir cwd;
    write_file(cwd / "data", "a\x11\x13z\nsecond\n");
    ChildProcess sender({.argv = {kSender, "--flow=none", "--line-delay", "300", line.slave_path(),
                                  (cwd / "data").string()},
                         .stdout_path = cwd / "out"});
    EXPECT_EQ(line.receive(6, 5s), "a\x11\x13z\n\0"s);
    line.send("\x13");  // an XOFF from the far end is data too, and holds nothing
    EXPECT_EQ(line.receive(8, 3s), "second\n\0"s);
    EXPECT_EQ(sender.wait_exit(5s), 0);
    EXPECT_EQ(sender.output(), "Press CtrlC to break;\n");
}

TEST(ReceiverOptions, OutputGoesWhereToldAndTheMessagesNameIt) {
    PtyPair line;
    TempDir cwd;
    TempDir elsewhere;
    std::filesystem::create_directory(elsewhere / "logs");
    const std::string file = (elsewhere / "logs" / "scale.dat").string();
    Pipe console;
    ChildProcess receiver({.argv = {kReceiver, line.slave_path(), "--output", file},
                           .cwd = cwd.path(),
                           .stdout_fd = console.write_end(),
                           .file_size_limit = 1000});
    console.close_write_end();
    const std::string chunk = line_safe_bytes(600);
    ASSERT_EQ(console.read_until(
                  [&](const std::string& got) { return got == announcement_for(file); }, 5s),
              announcement_for(file));
    ASSERT_TRUE(eventually([&] { return seen_line(line).xon_xoff; }, 5s));
    line.send(chunk);
    std::this_thread::sleep_for(200ms);
    line.send(chunk);
    const std::string expected =
        announcement_for(file) + chunk + "error write " + file + "\n" + chunk;
    EXPECT_EQ(console.read_until([&](const std::string& got) { return got == expected; }, 5s),
              expected);
    EXPECT_EQ(file_bytes(file), (chunk + chunk).substr(0, 1000));
    EXPECT_TRUE(std::filesystem::is_empty(cwd.path()))
        << "something was made in the working folder";
}

// A relative name is the working folder's; a folder or a missing one cannot take a capture.
TEST(ReceiverOptions, AnOutputThatCannotBeOpenedIsSaidAsTyped) {
    TempDir cwd;
    std::filesystem::create_directory(cwd / "folder");
    for (const std::string output : {"folder", "missing/capture.dat"}) {
        PtyPair line;
        const auto result = run_to_end(
            {.argv = {kReceiver, "-o", output, line.slave_path()}, .cwd = cwd.path()}, 5s);
        EXPECT_EQ(result.status, 1) << output;
        EXPECT_EQ(result.output, announcement_for(output) + "error open " + output + "\n");
    }
    PtyPair line;
    ChildProcess receiver({.argv = {kReceiver, "-o", "relative.dat", line.slave_path()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out"});
    ASSERT_TRUE(eventually([&] { return seen_line(line).xon_xoff; }, 5s));
    line.send("here");
    EXPECT_TRUE(eventually([&] { return file_bytes(cwd / "relative.dat") == "here"; }, 5s));
}

TEST(ReceiverOptions, QuietShowsTheMessagesAndNothingOfTheData) {
    PtyPair line;
    TempDir cwd;
    ChildProcess receiver({.argv = {kReceiver, "-q", line.slave_path()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out"});
    ASSERT_TRUE(eventually([&] { return seen_line(line).xon_xoff; }, 5s));
    line.send("not shown");
    ASSERT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat") == "not shown"; }, 5s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(file_bytes(cwd / "out"), announcement_for("zentavol.dat"));
}

// Waiting for a port that is not there yet, or that another program holds: said once, waited
// for without spinning, announced once it is held.
TEST(ReceiverOptions, WaitTakesAPortOnceItAppearsOrIsLetGo) {
    {
        TempDir dir;
        TempDir cwd;
        const std::string port = (dir / "a").string();
        ChildProcess receiver(
            {.argv = {kReceiver, "--wait", port}, .cwd = cwd.path(), .stdout_path = cwd / "out"});
        ASSERT_TRUE(eventually([&] { return receiver.output() == "error open COM\n"; }, 5s));
        const auto cpu_before = receiver.cpu_time();
        std::this_thread::sleep_for(2s);
        EXPECT_LT(receiver.cpu_time() - cpu_before, 100ms) << "busy while waiting";
        EXPECT_EQ(receiver.output(), "error open COM\n");
        EXPECT_FALSE(std::filesystem::exists(cwd / "zentavol.dat"));
        NullModem modem(dir.path());
        EXPECT_TRUE(eventually(
            [&] {
                return receiver.output() == "error open COM\n" + announcement_for("zentavol.dat");
            },
            5s))
            << receiver.output();
        std::this_thread::sleep_for(200ms);  // past configure
        modem.send("late");
        EXPECT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat") == "late"; }, 5s));
    }
    PtyPair line;
    // Not inherited: the lock must be the test's alone.
    const int holder = ::open(line.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    TempDir cwd;
    ChildProcess receiver({.argv = {kReceiver, "-w", line.slave_path()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out"});
    ASSERT_TRUE(eventually([&] { return receiver.output() == "error open COM\n"; }, 5s));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(receiver.output(), "error open COM\n") << "a held port was taken";
    ::close(holder);
    EXPECT_TRUE(eventually(
        [&] { return receiver.output() == "error open COM\n" + announcement_for("zentavol.dat"); },
        5s))
        << receiver.output();
    EXPECT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
    line.send("free");
    EXPECT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat") == "free"; }, 5s));
}

TEST(SenderOptions, LineDelaySetsThePauseAfterEachRecord) {
    for (const int delay_ms : {0, 250}) {
        PtyPair line;
        TempDir dir;
        write_file(dir / "data", "1\n2\n3\n4\n");
        const auto start = Clock::now();
        ChildProcess sender({.argv = {kSender, "--line-delay", std::to_string(delay_ms),
                                      line.slave_path(), (dir / "data").string()},
                             .stdout_path = dir / "out"});
        std::string got;
        std::vector<Clock::duration> at;
        while (got.size() < 12 && Clock::now() - start < 5s) {
            const std::string chunk = line.receive_for(5ms);
            for (char byte : chunk) {
                if (byte == '\0') {
                    at.push_back(Clock::now() - start);
                }
            }
            got += chunk;
        }
        EXPECT_EQ(got,
                  "1\n\0"s
                  "2\n\0"s
                  "3\n\0"s
                  "4\n\0"s)
            << delay_ms;
        EXPECT_EQ(sender.wait_exit(5s), 0) << delay_ms;
        ASSERT_EQ(at.size(), 4u);
        for (std::size_t i = 1; i < at.size(); ++i) {
            EXPECT_NEAR(seconds(at[i] - at[i - 1]), delay_ms / 1000.0, 0.1) << delay_ms;
        }
    }
}

// Refused before anything is opened or created: one line that says what is wrong, the usage
// line, status 2.
TEST(CommandLineOptions, BadCommandLinesAreRefusedWithOneLineAndTheUsage) {
    PtyPair line;
    const std::string port = line.slave_path();
    const std::string receiver_usage = "usage zentavol COM\n";
    const std::string sender_usage = "usage zentavol COM datafile\n";
    const struct {
        bool sender;
        std::vector<std::string> options;
        std::string complaint;
    } cases[] = {
        {false, {"-b", "0"}, R"(invalid baud rate "0")"},
        {false, {"-b", "12"}, R"(invalid baud rate "12")"},
        {false, {"-b", "-5"}, R"(invalid baud rate "-5")"},
        {false, {"-b", "12x"}, R"(invalid baud rate "12x")"},
        {false, {"--baudrate=99999999999"}, R"(invalid baud rate "99999999999")"},
        {true, {"-b", "+9600"}, R"(invalid baud rate "+9600")"},
        {false, {"-d", "9"}, R"(invalid data bits "9")"},
        {true, {"--databits=4"}, R"(invalid data bits "4")"},
        {false, {"-p", "x"}, R"(invalid parity "x")"},
        {false, {"-s", "3"}, R"(invalid stop bits "3")"},
        {true, {"-f", "rts"}, R"(invalid flow control "rts")"},
        {true, {"--line-delay", "-1"}, R"(invalid line delay "-1")"},
        {true, {"--line-delay", "abc"}, R"(invalid line delay "abc")"},
        {false, {"--line-delay", "5"}, R"(unknown option "--line-delay")"},
        {true, {"-o", "x"}, R"(unknown option "-o")"},
        {false, {"--colour"}, R"(unknown option "--colour")"},
        {false, {"-qx"}, R"(unknown option "-x")"},
        {false, {"--quiet=yes"}, R"(option "--quiet" takes no value)"},
        {false, {"-o", ""}, R"(invalid output file "")"},
    };
    for (const auto& c : cases) {
        TempDir cwd;
        write_file(cwd / "data", "abc\n");
        std::vector<std::string> argv = {c.sender ? kSender : kReceiver};
        argv = with(argv, c.options);
        argv.push_back(port);
        if (c.sender) {
            argv.emplace_back("data");
        }
        const auto result = run_to_end({.argv = argv, .cwd = cwd.path()}, 5s);
        const std::string program = c.sender ? "zentavol-send" : "zentavol";
        EXPECT_EQ(result.status, 2) << c.complaint;
        EXPECT_EQ(result.output,
                  program + ": " + c.complaint + "\n" + (c.sender ? sender_usage : receiver_usage));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cwd.path()), {}), 1)
            << c.complaint << ": something was created";
    }
    // A value missing at the end of the command line.
    const auto missing = run_to_end({.argv = {kReceiver, port, "-b"}}, 5s);
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.output, "zentavol: option \"-b\" needs a value\n" + receiver_usage);
    EXPECT_EQ(line.receive_for(200ms), "") << "something was sent";
    EXPECT_FALSE(is_configured_line(line.slave_termios())) << "the port was configured";
}

// A rate that the line-settings text cannot carry (the mode syntax reads 60 as 600 bit/s) is
// read back as another one: said after the announcement, and nothing is captured or sent.
TEST(CommandLineOptions, ASettingThatDoesNotHoldEndsBothPrograms) {
    PtyPair line;
    TempDir cwd;
    write_file(cwd / "data", "abc\n");
    const auto received =
        run_to_end({.argv = {kReceiver, "-b", "60", line.slave_path()}, .cwd = cwd.path()}, 5s);
    EXPECT_EQ(received.status, 1);
    EXPECT_EQ(received.output, announcement_for("zentavol.dat") + "error configure COM\n");
    const auto sent = run_to_end(
        {.argv = {kSender, "-b", "60", line.slave_path(), "data"}, .cwd = cwd.path()}, 5s);
    EXPECT_EQ(sent.status, 1);
    EXPECT_EQ(sent.output, "Press CtrlC to break;\nerror configure COM\n");
    EXPECT_EQ(line.receive_for(200ms), "");
}

TEST(CommandLineOptions, HelpListsEveryOptionWithAnExample) {
    const struct {
        const char* program;
        std::vector<std::string> names;
        std::string example;
    } cases[] = {
        {kReceiver,
         {"--baudrate", "--databits", "--parity", "--stopbits", "--flow", "--output", "--quiet",
          "--wait", "--help", "--version", "--list", "default"},
         "zentavol -b 115200 -f none "},
        {kSender,
         {"--baudrate", "--databits", "--parity", "--stopbits", "--flow", "--line-delay", "--help",
          "--version", "--list", "default"},
         "zentavol-send -b 115200"},
    };
    for (const auto& c : cases) {
        const auto result = run_to_end({.argv = {c.program, "--help"}}, 5s);
        EXPECT_EQ(result.status, 0);
        for (const auto& name : c.names) {
            EXPECT_NE(result.output.find(name), std::string::npos) << c.program << " " << name;
        }
        EXPECT_NE(result.output.find(c.example), std::string::npos) << result.output;
    }
}

}  // namespace
}  // namespace zentavol::test
