// zentavol-show as users meet it: on captures and indexes written here, and on a capture that the
// receiver made from the sender's records through a null modem.
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "null_modem.h"
#include "program_fixture.h"

namespace zentavol::test {
namespace {

using namespace std::string_literals;

// Local times are shown in the zone of the environment: UTC here, for fixed expectations.
class ShowInUtc : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("TZ", "UTC", 1); }
    void TearDown() override { ::unsetenv("TZ"); }
};

const std::string kOpen = "2026-12-11T14:00:00.000000Z\t0\topen\tCOM1\t9600 8 none 1 soft\n";

std::string data_entry(const std::string& time, std::uint64_t offset) {
    return "2026-12-11T" + time + "Z\t" + std::to_string(offset) + "\tdata\n";
}

TEST_F(ShowInUtc, CapturesAndIndexesAreShownAsThePeopleReadingThemNeedIt) {
    const std::string records = "one\r\n\0"s + "two\r\n\0"s + "\n"s + "three";
    const std::string records_index =
        kOpen + data_entry("14:00:01.000000", 0) + data_entry("14:00:02.000000", 6) +
        data_entry("14:00:03.000000", 12) + data_entry("14:00:04.250000", 13);
    const std::string long_line(10000, 'L');
    const struct {
        const char* name;
        std::string capture;
        std::optional<std::string> index;
        std::vector<std::string> options;
        std::string shown;
        std::string errors;
    } cases[] = {
        {"records, CR LF and NUL ends, an empty line, a last line without LF",
         records,
         records_index,
         {},
         "2026-12-11 14:00:00.000 -- open COM1 9600 8 none 1 soft --\n"
         "2026-12-11 14:00:01.000 one\n"
         "2026-12-11 14:00:02.000 two\n"
         "2026-12-11 14:00:03.000 \n"
         "2026-12-11 14:00:04.250 three\n",
         ""},
        {"in UTC",
         records,
         records_index,
         {"--utc"},
         "2026-12-11T14:00:00.000Z -- open COM1 9600 8 none 1 soft --\n"
         "2026-12-11T14:00:01.000Z one\n"
         "2026-12-11T14:00:02.000Z two\n"
         "2026-12-11T14:00:03.000Z \n"
         "2026-12-11T14:00:04.250Z three\n",
         ""},
        {"a window of the second record",
         records,
         records_index,
         {"--since", "2026-12-11T14:00:02Z", "--until", "14:00:02.5"},
         "2026-12-11 14:00:02.000 two\n",
         ""},
        {"an empty window",
         records,
         records_index,
         {"--since", "15:00", "--until", "16:00"},
         "",
         ""},
        {"a window, raw",
         records,
         records_index,
         {"--raw", "--since", "14:00:02", "--until", "14:00:03"},
         "two\r\n\0"s,
         ""},
        {"binary and invalid UTF-8, no index",
         "\x01\x02\xff\x7f ok \xc3\xa9\x80\n\0x\0"s,
         std::nullopt,
         {},
         "\\x01\\x02\\xFF\\x7F ok \xc3\xa9\\x80\nx\\0\n",
         "no time index: capture.times\n"},
        {"a line of 10000 bytes, cut in three with their times",
         long_line + "\n",
         kOpen + data_entry("14:00:01.000000", 0),
         {},
         "2026-12-11 14:00:00.000 -- open COM1 9600 8 none 1 soft --\n"
         "2026-12-11 14:00:01.000 " +
             std::string(4096, 'L') + "\n" + "2026-12-11 14:00:05.266 " + std::string(4096, 'L') +
             "\n" + "2026-12-11 14:00:09.533 " + std::string(1808, 'L') + "\n",
         ""},
        {"an event inside a line ends it there",
         "abcdef\n"s,
         kOpen + data_entry("14:00:01.000000", 0) + "2026-12-11T14:00:01.500000Z\t3\tlost\n" +
             "2026-12-11T14:00:02.000000Z\t3\topen\tCOM1\t9600 8 none 1 soft\n" +
             data_entry("14:00:02.100000", 3),
         {},
         "2026-12-11 14:00:00.000 -- open COM1 9600 8 none 1 soft --\n"
         "2026-12-11 14:00:01.000 abc\n"
         "2026-12-11 14:00:01.500 -- port lost --\n"
         "2026-12-11 14:00:02.000 -- open COM1 9600 8 none 1 soft --\n"
         "2026-12-11 14:00:02.100 def\n",
         ""},
        {"hex rows, ended where an event falls",
         "0123456789abcdefghij"s,
         kOpen + data_entry("14:00:01.000000", 0) +
             "2026-12-11T14:00:01.100000Z\t18\tappend-failed\n",
         {"--hex"},
         "2026-12-11 14:00:00.000 -- open COM1 9600 8 none 1 soft --\n"
         "2026-12-11 14:00:01.000 00000000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  "
         "|0123456789abcdef|\n"
         "2026-12-11 14:00:01.016 00000010  67 68                                             "
         "|gh|\n"
         "2026-12-11 14:00:01.100 -- appends failing --\n"
         "2026-12-11 14:00:01.018 00000012  69 6a                                             "
         "|ij|\n",
         ""},
        {"a cut last index line and an offset past the end",
         "x\n"s,
         kOpen + data_entry("14:00:01.000000", 0) + data_entry("14:00:02.000000", 99) +
             "2026-12-11T14:00:0",
         {},
         "2026-12-11 14:00:00.000 -- open COM1 9600 8 none 1 soft --\n2026-12-11 14:00:01.000 x\n",
         "skipped 2 unreadable index lines\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        write_file(dir / "capture", c.capture);
        if (c.index) {
            write_file(dir / "capture.times", *c.index);
        }
        std::vector<std::string> argv = {kShow};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        argv.emplace_back("capture");
        const auto result = run_to_end({.argv = argv, .cwd = dir.path()}, 10s);
        EXPECT_EQ(result.status, 0) << c.name;
        EXPECT_EQ(result.output, c.shown) << c.name;
        EXPECT_EQ(result.errors, c.errors) << c.name;
    }
}

TEST_F(ShowInUtc, WhatCannotBeShownIsSaidOnStandardError) {
    TempDir dir;
    write_file(dir / "zentavol.dat", "x\n");
    std::filesystem::create_directory(dir / "folder");
    const std::string usage =
        "usage zentavol-show [--hex|--raw] [--utc] [--since TIME] [--until TIME] [FILE]\n";
    const struct {
        std::vector<std::string> argv;
        int status;
        std::string errors;
    } cases[] = {
        {{kShow, "missing.dat"}, 1, "error open missing.dat\n"},
        {{kShow, "folder"}, 1, "error open folder\n"},
        {{kShow, "--since", "noon"}, 2, "zentavol-show: invalid time \"noon\"\n" + usage},
        {{kShow, "--until"}, 2, "zentavol-show: option \"--until\" needs a value\n" + usage},
        {{kShow, "--hex", "--raw"},
         2,
         "zentavol-show: --hex and --raw exclude each other\n" + usage},
        {{kShow, "-x"}, 2, "zentavol-show: unknown option \"-x\"\n" + usage},
    };
    for (const auto& c : cases) {
        const auto result = run_to_end({.argv = c.argv, .cwd = dir.path()}, 10s);
        EXPECT_EQ(result.status, c.status) << c.argv.back();
        EXPECT_EQ(result.output, "") << c.argv.back();
        EXPECT_EQ(result.errors, c.errors) << c.argv.back();
    }
    // The default capture file is the working folder's zentavol.dat.
    const auto plain = run_to_end({.argv = {kShow}, .cwd = dir.path()}, 10s);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.output, "x\n");
    EXPECT_EQ(plain.errors, "no time index: zentavol.dat.times\n");
}

// The sender's records through a null modem into a timed capture: each on its own line, a
// second after the one before.
TEST_F(ShowInUtc, ARealCaptureShowsEachRecordOnItsLineASecondApart) {
    ASSERT_EQ(::access(kSocat, X_OK), 0) << "socat is needed for the null modem";
    NullModem modem;
    TempDir cwd;
    ChildProcess receiver({.argv = {kReceiver, "-t", "-q", modem.a()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out"});
    ASSERT_TRUE(eventually([&] { return receiver.output() == kAnnouncement; }, 5s));
    std::this_thread::sleep_for(300ms);
    write_file(cwd / "data", "alpha\r\nbeta\r\ngamma\r\n");
    const auto sent = run_to_end({.argv = {kSender, modem.b(), (cwd / "data").string()}}, 20s);
    ASSERT_EQ(sent.status, 0);
    ASSERT_TRUE(eventually(
        [&] { return file_bytes(cwd / "zentavol.dat") == "alpha\r\n\0beta\r\n\0gamma\r\n\0"s; },
        5s));
    const auto shown = run_to_end({.argv = {kShow, "--utc"}, .cwd = cwd.path()}, 10s);
    EXPECT_EQ(shown.status, 0);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < shown.output.size();) {
        const auto end = shown.output.find('\n', at);
        lines.push_back(shown.output.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 4u) << shown.output;
    EXPECT_TRUE(lines[0].ends_with(" -- open " + modem.a() + " 9600 8 none 1 soft --")) << lines[0];
    const std::string words[] = {"alpha", "beta", "gamma"};
    double previous = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& line = lines[1 + i];
        ASSERT_EQ(line.size(), 25 + words[i].size()) << line;
        EXPECT_EQ(line.substr(25), words[i]);
        const double second = std::stod(line.substr(17, 6)) + 60 * std::stoi(line.substr(14, 2));
        if (i > 0) {
            EXPECT_NEAR(second - previous, 1.0, 0.15) << line;
        }
        previous = second;
    }
}

}  // namespace
}  // namespace zentavol::test
