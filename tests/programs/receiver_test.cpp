// The receiver as its users meet it: the built program on a pty pair made by the test.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "program_fixture.h"

namespace zentavol::test {
namespace {

using namespace std::string_literals;

TEST(ReceiverStart, WithoutArgumentPrintsUsageAndCreatesNothing) {
    TempDir cwd;
    const auto result = run_to_end({.argv = {kReceiver}, .cwd = cwd.path()}, 5s);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.output, "usage zentavol COM\n");
    EXPECT_TRUE(std::filesystem::is_empty(cwd.path()));
}

TEST(ReceiverStart, ASecondReceiverOnTheSamePortIsRefused) {
    PtyPair line;
    TempDir first_cwd;
    RunningReceiver first(line.slave_path(), first_cwd.path());
    TempDir cwd;
    const auto result = run_to_end({.argv = {kReceiver, line.slave_path()}, .cwd = cwd.path()}, 5s);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "error open COM\n");
}

TEST(ReceiverStart, CaptureFileThatCannotBeOpenedEndsTheReceiver) {
    PtyPair line;
    TempDir cwd;
    std::filesystem::create_directory(cwd / "zentavol.dat");
    const auto result = run_to_end({.argv = {kReceiver, line.slave_path()}, .cwd = cwd.path()}, 5s);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, kAnnouncement + "error open zentavol.dat\n"s);
}

TEST(ReceiverStart, AnnouncesCreatesAnEmptyCaptureAndConfiguresThePort) {
    PtyPair line(PtyPair::Start::kTerminalDefaults);
    TempDir cwd;
    RunningReceiver receiver(line.slave_path(), cwd.path(), &line);
    EXPECT_TRUE(std::filesystem::exists(cwd / "zentavol.dat"));
    EXPECT_EQ(receiver.capture(), "");
    EXPECT_TRUE(is_configured_line(line.slave_termios()));
    EXPECT_TRUE(receiver.process().running());
}

TEST(ReceiverCapture, StoresAndEchoesEveryByteUnchangedAndAppendsAcrossRuns) {
    PtyPair line;
    TempDir cwd;
    write_file(cwd / "zentavol.dat", "earlier run\n");
    const std::string bytes = "\0\r\n\r\x01\xff\x7f plain text\n\0"s;
    {
        RunningReceiver receiver(line.slave_path(), cwd.path(), &line);
        line.send(bytes);
        ASSERT_TRUE(eventually([&] { return receiver.echo() == bytes; }, 5s)) << receiver.echo();
        EXPECT_EQ(receiver.capture(), "earlier run\n" + bytes);
    }
    RunningReceiver again(line.slave_path(), cwd.path(), &line);
    line.send("more");
    ASSERT_TRUE(eventually([&] { return again.echo() == "more"; }, 5s));
    EXPECT_EQ(again.capture(), "earlier run\n" + bytes + "more");
}

TEST(ReceiverCapture, ABurstFarLongerThanOneReadIsCapturedWholeAndInOrder) {
    PtyPair line;
    TempDir cwd;
    RunningReceiver receiver(line.slave_path(), cwd.path(), &line);
    const std::string burst = line_safe_bytes(std::size_t{64} * 1024);
    for (std::size_t at = 0; at < burst.size(); at += 4096) {
        line.send(std::string_view(burst).substr(at, 4096));
    }
    EXPECT_TRUE(eventually([&] { return receiver.capture().size() >= burst.size(); }, 10s));
    EXPECT_TRUE(receiver.capture() == burst) << "capture differs from the burst";
    EXPECT_TRUE(eventually([&] { return receiver.echo().size() >= burst.size(); }, 5s));
    EXPECT_TRUE(receiver.echo() == burst) << "echo differs from the burst";
}

TEST(ReceiverCapture, CtrlCLosesNothingThatWasEchoed) {
    PtyPair line;
    TempDir cwd;
    RunningReceiver receiver(line.slave_path(), cwd.path(), &line);
    const std::string bytes = line_safe_bytes(3000);
    line.send(bytes);
    ASSERT_TRUE(eventually([&] { return receiver.echo().size() >= bytes.size(); }, 5s));
    receiver.process().send_signal(SIGINT);
    ASSERT_FALSE(receiver.process().wait_exit(5s).has_value());
    EXPECT_TRUE(receiver.process().ended_by_signal(SIGINT));
    EXPECT_TRUE(receiver.capture() == bytes);
}

TEST(ReceiverCapture, DoesNotSpinAfterTheFarEndHangsUp) {
    auto line = std::make_unique<PtyPair>();
    TempDir cwd;
    RunningReceiver receiver(line->slave_path(), cwd.path(), line.get());
    line->send("bye");
    ASSERT_TRUE(eventually([&] { return receiver.capture() == "bye"; }, 5s));
    line.reset();  // hang up

    const auto before = receiver.process().cpu_time();
    std::this_thread::sleep_for(3s);
    EXPECT_TRUE(receiver.process().running());
    EXPECT_LT(receiver.process().cpu_time() - before, 300ms);
    EXPECT_EQ(receiver.capture(), "bye");
}

TEST(ReceiverCapture, FailingAppendsAreReportedOnceAndTheEchoGoesOn) {
    PtyPair line;
    TempDir cwd;
    std::filesystem::create_symlink("/dev/full", cwd / "zentavol.dat");  // every write fails
    RunningReceiver receiver(line.slave_path(), cwd.path(), &line);
    std::string sent;
    for (const char* chunk : {"one", "two", "three"}) {
        line.send(chunk);
        sent += chunk;
        ASSERT_TRUE(eventually(
            [&] {
                return receiver.output() == kAnnouncement + "error write zentavol.dat\n"s + sent;
            },
            5s))
            << receiver.output();
    }
    EXPECT_TRUE(receiver.process().running());
}

TEST(ReceiverCapture, IdleOnAQuietPortUsesNoCpu) {
    PtyPair line;
    TempDir cwd;
    RunningReceiver receiver(line.slave_path(), cwd.path(), &line);
    const auto before = receiver.process().cpu_time();
    std::this_thread::sleep_for(2s);
    EXPECT_LT(receiver.process().cpu_time() - before, 50ms);
}

// Exclusive mode set on a pseudo-terminal would outlive the receiver and refuse its owner the
// port afterwards; only root is exempt from it, so this runs the receiver as an ordinary user
// (the one running the tests, or nobody when that is root).
TEST(ReceiverStart, ThePortOpensAgainForItsOwnerAfterCtrlC) {
    const bool root = ::geteuid() == 0;
    if (root && ::access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "setpriv is not installed";
    }
    PtyPair line;
    ASSERT_EQ(::fchmod(line.slave(), 0666), 0);
    TempDir cwd;
    ASSERT_EQ(::chmod(cwd.path().c_str(), 0777), 0);
    // A copy that the ordinary user can reach wherever the build tree lies.
    TempDir bin;
    ASSERT_EQ(::chmod(bin.path().c_str(), 0755), 0);
    const auto receiver_copy = bin / "zentavol";
    std::filesystem::copy_file(kReceiver, receiver_copy);
    const std::vector<std::string> as_nobody =
        root ? std::vector<std::string>{"/usr/bin/setpriv",     "--reuid=65534",
                                        "--regid=65534",        "--clear-groups",
                                        receiver_copy.string(), line.slave_path()}
             : std::vector<std::string>{receiver_copy.string(), line.slave_path()};
    for (int run = 0; run < 2; ++run) {
        TempDir out;
        ::chmod(out.path().c_str(), 0777);
        ChildProcess receiver({.argv = as_nobody, .cwd = cwd.path(), .stdout_path = out / "out"});
        ASSERT_TRUE(eventually([&] { return receiver.output() == kAnnouncement; }, 5s))
            << "run " << run << ": " << receiver.output();
        receiver.send_signal(SIGINT);
        EXPECT_FALSE(receiver.wait_exit(5s).has_value());
        EXPECT_TRUE(receiver.ended_by_signal(SIGINT));
    }
}

}  // namespace
}  // namespace zentavol::test
