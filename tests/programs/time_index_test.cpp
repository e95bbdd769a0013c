// The receiver's time index as users meet it: the built program on ptys writes FILE.times beside
// the capture, and the entries say when bytes came and what happened to the port and the file.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "null_modem.h"
#include "program_fixture.h"
#include "time_index.h"

namespace zentavol::test {
namespace {

using namespace std::string_literals;

struct Entry {
    std::string time;
    std::uint64_t offset = 0;
    std::string event;
    std::string detail;
};

std::vector<Entry> entries_of(const std::string& text) {
    std::vector<Entry> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = text.find('\n', at);
        EXPECT_NE(end, std::string::npos) << "a line without its LF";
        if (end == std::string::npos) {
            break;
        }
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const auto tab1 = line.find('\t');
        const auto tab2 = line.find('\t', tab1 + 1);
        const auto tab3 = line.find('\t', tab2 + 1);
        entries.push_back(
            {line.substr(0, tab1), std::stoull(line.substr(tab1 + 1, tab2 - tab1 - 1)),
             line.substr(tab2 + 1, tab3 == std::string::npos ? std::string::npos : tab3 - tab2 - 1),
             tab3 == std::string::npos ? "" : line.substr(tab3 + 1)});
    }
    return entries;
}

std::vector<std::pair<std::string, std::uint64_t>> events_of(const std::vector<Entry>& entries) {
    std::vector<std::pair<std::string, std::uint64_t>> events;
    events.reserve(entries.size());
    for (const auto& entry : entries) {
        events.emplace_back(entry.event, entry.offset);
    }
    return events;
}

// The moment an index time stands for.
WallClock::time_point time_of(const std::string& text) {
    std::tm parts{};
    EXPECT_EQ(text.size(), 27u) << text;
    parts.tm_year = std::stoi(text.substr(0, 4)) - 1900;
    parts.tm_mon = std::stoi(text.substr(5, 2)) - 1;
    parts.tm_mday = std::stoi(text.substr(8, 2));
    parts.tm_hour = std::stoi(text.substr(11, 2));
    parts.tm_min = std::stoi(text.substr(14, 2));
    parts.tm_sec = std::stoi(text.substr(17, 2));
    return WallClock::from_time_t(::timegm(&parts)) +
           std::chrono::microseconds(std::stoi(text.substr(20, 6)));
}

TEST(TimeIndexFile, BurstsGiveOneDataEntryEachAtTheMomentSentWithTheirOffsets) {
    PtyPair line;
    TempDir cwd;
    ChildProcess receiver({.argv = {kReceiver, "-t", line.slave_path()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out"});
    ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
    std::vector<WallClock::time_point> sent;
    std::string stream;
    for (std::size_t burst = 0; burst < 4; ++burst) {
        const std::string bytes =
            "burst " + std::to_string(burst) + std::string(burst * 7, '.') + "\r\n";
        std::this_thread::sleep_for(300ms);
        sent.push_back(WallClock::now());
        line.send(bytes);
        stream += bytes;
    }
    ASSERT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat") == stream; }, 5s));
    std::this_thread::sleep_for(100ms);
    const auto entries = entries_of(file_bytes(cwd / "zentavol.dat.times"));
    ASSERT_EQ(entries.size(), 5u) << file_bytes(cwd / "zentavol.dat.times");
    EXPECT_EQ(entries[0].event, "open");
    EXPECT_EQ(entries[0].offset, 0u);
    EXPECT_EQ(entries[0].detail, line.slave_path() + "\t9600 8 none 1 soft");
    std::uint64_t offset = 0;
    for (std::size_t burst = 0; burst < 4; ++burst) {
        const Entry& entry = entries[1 + burst];
        EXPECT_EQ(entry.event, "data");
        EXPECT_EQ(entry.offset, offset);
        const auto late = time_of(entry.time) - sent[burst];
        EXPECT_GE(late, -1ms) << "burst " << burst;
        EXPECT_LT(late, 50ms) << "burst " << burst;
        offset = stream.find("burst " + std::to_string(burst + 1));
    }
}

// A stream without a pause: an entry for its first chunk and one about every second after.
TEST(TimeIndexFile, AContinuousStreamGivesAboutOneEntryASecond) {
    PtyPair line;
    TempDir cwd;
    ChildProcess receiver({.argv = {kReceiver, "-t", "-q", line.slave_path()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out"});
    ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
    const std::string chunk = line_safe_bytes(std::size_t{64} * 1024);
    std::uint64_t total = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < 2500ms) {
        line.send(chunk);  // blocks while the pty is full: the stream never pauses
        total += chunk.size();
    }
    const double took = seconds(Clock::now() - start);
    ASSERT_TRUE(
        eventually([&] { return std::filesystem::file_size(cwd / "zentavol.dat") == total; }, 10s));
    std::this_thread::sleep_for(100ms);
    const auto entries = entries_of(file_bytes(cwd / "zentavol.dat.times"));
    const auto data = std::count_if(entries.begin(), entries.end(),
                                    [](const Entry& e) { return e.event == "data"; });
    EXPECT_GE(data, 3) << "at least one a second";
    EXPECT_LE(data, static_cast<long>(took) + 3) << total << " bytes in " << took << " s";
}

TEST(TimeIndexFile, APortGoneAndBackIsLostThenOpen) {
    ASSERT_EQ(::access(kSocat, X_OK), 0) << "socat is needed for the null modem";
    NullModem modem;
    TempDir cwd;
    ChildProcess receiver({.argv = {kReceiver, "--timestamps", modem.a()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out"});
    ASSERT_TRUE(eventually([&] { return receiver.output() == kAnnouncement; }, 5s));
    std::this_thread::sleep_for(200ms);
    modem.send("before");
    ASSERT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat") == "before"; }, 5s));
    modem.stop();
    ASSERT_TRUE(eventually(
        [&] { return receiver.output() == kAnnouncement + "before"s + "error read COM\n"; }, 5s));
    modem.start();
    ASSERT_TRUE(eventually(
        [&] {
            return receiver.output() ==
                   kAnnouncement + "before"s + "error read COM\n" + kAnnouncement;
        },
        5s));
    modem.send("after");
    ASSERT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat") == "beforeafter"; }, 5s));
    std::this_thread::sleep_for(100ms);
    const auto entries = entries_of(file_bytes(cwd / "zentavol.dat.times"));
    const std::vector<std::pair<std::string, std::uint64_t>> expected = {
        {"open", 0}, {"data", 0}, {"lost", 6}, {"open", 6}, {"data", 6}};
    EXPECT_EQ(events_of(entries), expected);
}

// Appends that fail say where the file stood: the size before the failing append, and before
// the one that succeeded again.
TEST(TimeIndexFile, FailingAppendsAreEntriesAtTheOffsetsWhereTheFileStood) {
    PtyPair line;
    TempDir cwd;
    ChildProcess receiver({.argv = {kReceiver, "-t", "-q", line.slave_path()},
                           .cwd = cwd.path(),
                           .stdout_path = cwd / "out",
                           .file_size_limit = 1000});
    ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
    const std::string bytes = line_safe_bytes(1200);
    line.send(bytes.substr(0, 600));
    ASSERT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat").size() == 600; }, 5s));
    std::this_thread::sleep_for(100ms);
    line.send(bytes.substr(600));
    ASSERT_TRUE(
        eventually([&] { return receiver.output().find("error write") != std::string::npos; }, 5s));
    rlimit limit{};
    ASSERT_EQ(::prlimit(receiver.pid(), RLIMIT_FSIZE, nullptr, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    ASSERT_EQ(::prlimit(receiver.pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
    ASSERT_TRUE(eventually([&] { return file_bytes(cwd / "zentavol.dat") == bytes; }, 3s));
    std::this_thread::sleep_for(100ms);
    const std::vector<std::pair<std::string, std::uint64_t>> expected = {
        {"open", 0}, {"data", 0}, {"append-failed", 600}, {"data", 600}, {"append-resumed", 1000}};
    EXPECT_EQ(events_of(entries_of(file_bytes(cwd / "zentavol.dat.times"))), expected);
}

TEST(TimeIndexFile, RunsAppendToOneIndexAndNothingIsWrittenWithoutTheOption) {
    PtyPair line;
    TempDir cwd;
    for (const std::string bytes : {"first", "second"}) {
        ChildProcess receiver({.argv = {kReceiver, "-t", "-o", "log.bin", line.slave_path()},
                               .cwd = cwd.path(),
                               .stdout_path = cwd / "out"});
        ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
        const auto before = file_bytes(cwd / "log.bin");
        line.send(bytes);
        ASSERT_TRUE(eventually([&] { return file_bytes(cwd / "log.bin") == before + bytes; }, 5s));
        std::this_thread::sleep_for(100ms);
        receiver.send_signal(SIGINT);
        receiver.wait_exit(5s);
        termios raw = line.slave_termios();
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
        ::tcsetattr(line.slave(), TCSANOW, &raw);  // so that the next run is seen configuring
    }
    // Each run ended by Ctrl+C notes its end.
    const std::vector<std::pair<std::string, std::uint64_t>> expected = {
        {"open", 0}, {"data", 0}, {"close", 5}, {"open", 5}, {"data", 5}, {"close", 11}};
    EXPECT_EQ(events_of(entries_of(file_bytes(cwd / "log.bin.times"))), expected);

    TempDir plain;
    ChildProcess receiver({.argv = {kReceiver, line.slave_path()},
                           .cwd = plain.path(),
                           .stdout_path = plain / "out"});
    ASSERT_TRUE(eventually([&] { return is_configured_line(line.slave_termios()); }, 5s));
    line.send("untimed");
    ASSERT_TRUE(eventually([&] { return file_bytes(plain / "zentavol.dat") == "untimed"; }, 5s));
    EXPECT_FALSE(std::filesystem::exists(plain / "zentavol.dat.times"));
}

}  // namespace
}  // namespace zentavol::test
