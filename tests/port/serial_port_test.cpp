// The serial port object on pseudo-terminals made by the test.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <thread>

#include "bytes.h"
#include "pty_pair.h"
#include "serial_port.h"

namespace zentavol {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::PtyPair;

using test::bytes_of;

std::chrono::milliseconds elapsed_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

TEST(SerialPortOpen, NamesThatAreNoDeviceFailAndNothingIsCreated) {
    test::TempDir dir;
    const auto missing = dir / "COM1";
    SerialPort port;
    EXPECT_FALSE(port.open(missing.c_str()));
    EXPECT_FALSE(port.is_open());
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(SerialPortOpen, IsExclusive) {
    PtyPair line;
    SerialPort first;
    ASSERT_TRUE(first.open(line.slave_path().c_str()));
    SerialPort second;
    EXPECT_FALSE(second.open(line.slave_path().c_str()));
    first.close();
    EXPECT_TRUE(second.open(line.slave_path().c_str()));
}

TEST(SerialPortOpen, APortLockedByAnotherToolIsRefused) {
    PtyPair line;
    const int other = ::open(line.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    SerialPort port;
    EXPECT_FALSE(port.open(line.slave_path().c_str()));
    ::close(other);
    EXPECT_TRUE(port.open(line.slave_path().c_str()));
}

TEST(SerialPortOpen, OwnershipMovesWithTheHandle) {
    PtyPair line;
    SerialPort port;
    ASSERT_TRUE(port.open(line.slave_path().c_str()));
    SerialPort moved(std::move(port));
    EXPECT_FALSE(port.is_open());  // NOLINT(bugprone-use-after-move): moved-from state is defined
    ASSERT_TRUE(moved.is_open());
    moved.configure();
    line.send("m");
    std::array<std::uint8_t, 8> buffer{};
    const auto result = moved.read(buffer);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 1u);
}

TEST(SerialPortConfigure, LeavesTheFixedLineSettings) {
    PtyPair line(PtyPair::Start::kTerminalDefaults);
    ASSERT_FALSE(test::is_configured_line(line.slave_termios()));
    SerialPort port;
    ASSERT_TRUE(port.open(line.slave_path().c_str()));
    port.configure();  // a pseudo-terminal refuses the DTR and RTS lines, silently
    EXPECT_TRUE(test::is_configured_line(line.slave_termios()));
}

class ConfiguredPort : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(port.open(line.slave_path().c_str()));
        port.configure();
    }
    PtyPair line;
    SerialPort port;
};

TEST_F(ConfiguredPort, ReadReturnsWhatIsWaitingAtOnce) {
    line.send(std::string("ab\0\r\n", 5));
    ASSERT_EQ(port.wait_for_received() & kEventReceivedChar, kEventReceivedChar);
    std::array<std::uint8_t, 1000> buffer{};
    const auto start = Clock::now();
    const auto result = port.read(buffer);
    EXPECT_LT(elapsed_since(start), 200ms);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<long>(result.count)),
              std::string("ab\0\r\n", 5));
}

TEST_F(ConfiguredPort, ReadOnAQuietLineEndsAfterAboutOneSecond) {
    std::array<std::uint8_t, 1000> buffer{};
    const auto start = Clock::now();
    const auto result = port.read(buffer);
    const auto took = elapsed_since(start);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 0u);
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 1600ms);
}

TEST_F(ConfiguredPort, ReadNeverTakesMoreThanTheCapacity) {
    line.send(std::string(1500, 'q'));
    std::array<std::uint8_t, 1000> buffer{};
    std::size_t total = 0;
    while (total < 1500) {
        ASSERT_EQ(port.wait_for_received() & kEventReceivedChar, kEventReceivedChar);
        const auto result = port.read(buffer);
        ASSERT_TRUE(result.ok);
        ASSERT_LE(result.count, buffer.size());
        total += result.count;
    }
    EXPECT_EQ(total, 1500u);
}

// The receiver gathers reads only while bytes are already waiting: a full read says that more may
// be there, and the read after it takes what is there at once, never waiting for the line.
TEST_F(ConfiguredPort, AReadAfterAFullOneTakesWhatIsThereAtOnce) {
    const auto waiting_in_port = [&] {
        int waiting = 0;
        ::ioctl(line.slave(), FIONREAD, &waiting);
        return waiting;
    };
    std::array<std::uint8_t, 1000> buffer{};
    line.send(std::string(1500, 'w'));
    ASSERT_TRUE(test::eventually([&] { return waiting_in_port() == 1500; }, 2s));
    ASSERT_EQ(port.wait_for_received() & kEventReceivedChar, kEventReceivedChar);
    const auto first = port.read(buffer);
    EXPECT_EQ(first.count, 1000u);
    EXPECT_TRUE(first.more_waiting);
    ASSERT_EQ(port.wait_for_received() & kEventReceivedChar, kEventReceivedChar);
    const auto rest = port.read(buffer);
    EXPECT_EQ(rest.count, 500u);
    EXPECT_FALSE(rest.more_waiting);

    line.send(std::string(1000, 'x'));
    ASSERT_TRUE(test::eventually([&] { return waiting_in_port() == 1000; }, 2s));
    ASSERT_EQ(port.wait_for_received() & kEventReceivedChar, kEventReceivedChar);
    EXPECT_EQ(port.read(buffer).count, 1000u);
    ASSERT_EQ(port.wait_for_received() & kEventReceivedChar, kEventReceivedChar);
    const auto start = Clock::now();
    const auto nothing = port.read(buffer);
    EXPECT_LT(elapsed_since(start), 100ms) << "the read waited for the line";
    EXPECT_TRUE(nothing.ok);
    EXPECT_EQ(nothing.count, 0u);
}

TEST_F(ConfiguredPort, ByteAfterAFullReadIsDeliveredAtOnce) {
    line.send(std::string(1000, 'f'));
    std::array<std::uint8_t, 1000> buffer{};
    ASSERT_EQ(port.wait_for_received() & kEventReceivedChar, kEventReceivedChar);
    ASSERT_EQ(port.read(buffer).count, 1000u);
    std::thread late_byte([&] {
        std::this_thread::sleep_for(200ms);
        line.send("z");
    });
    const auto start = Clock::now();
    std::size_t got = 0;
    while (got == 0 && Clock::now() - start < 3s) {
        if ((port.wait_for_received() & kEventReceivedChar) != 0) {
            got = port.read(buffer).count;
        }
    }
    late_byte.join();
    EXPECT_EQ(got, 1u);
    EXPECT_LT(elapsed_since(start), 500ms);
}

TEST_F(ConfiguredPort, WriteAtLineSpeedCompletes) {
    const std::string record("abc\r\n\0", 6);
    EXPECT_TRUE(port.write(bytes_of(record)));
    EXPECT_EQ(line.receive(record.size(), 1s), record);
}

TEST_F(ConfiguredPort, WriteHeldByXoffEndsWithinItsLimitAndFails) {
    line.send("\x13");
    ASSERT_TRUE(test::eventually([&] { return !port.write(bytes_of("x")); }, 1s))
        << "the far end's XOFF did not hold the line";
    line.receive_for(50ms);  // probes written before the XOFF took hold
    const std::string record(50, 'h');
    const auto start = Clock::now();
    EXPECT_FALSE(port.write(bytes_of(record)));
    const auto took = elapsed_since(start);
    EXPECT_GE(took, 90ms);   // 2 ms a byte
    EXPECT_LT(took, 400ms);  // and nothing more, with slack for a busy machine
    EXPECT_EQ(line.receive_for(100ms), "");

    line.send("\x11");
    ASSERT_TRUE(test::eventually([&] { return port.write(bytes_of("r")); }, 1s));
    EXPECT_EQ(line.receive(1, 1s), "r");
}

TEST_F(ConfiguredPort, WaitReportsReceivedCharacters) {
    line.send("w");
    EXPECT_EQ(port.wait_for_received() & kEventReceivedChar, kEventReceivedChar);
}

TEST_F(ConfiguredPort, WaitAfterHangUpGivesNoReceivedBitAndDoesNotBlock) {
    line.hang_up();
    const auto start = Clock::now();
    EXPECT_EQ(port.wait_for_received() & kEventReceivedChar, 0u);
    EXPECT_LT(elapsed_since(start), 500ms);
    std::array<std::uint8_t, 16> buffer{};
    const auto result = port.read(buffer);
    EXPECT_FALSE(result.ok && result.count > 0);
    EXPECT_FALSE(port.write(bytes_of("gone")));
}

}  // namespace
}  // namespace zentavol
