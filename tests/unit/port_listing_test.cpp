// The listing of serial ports, against a made-up device tree.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "port_listing.h"
#include "pty_pair.h"

namespace zentavol {
namespace {

namespace fs = std::filesystem;

// A terminal in the made-up sysfs, served by a driver when one is named; a ttyS one with its
// UART type.
void add_tty(const fs::path& sys, const std::string& name, const std::string& driver,
             const char* uart_type = nullptr) {
    const auto tty = sys / "class" / "tty" / name;
    fs::create_directories(tty);
    if (!driver.empty()) {
        fs::create_directories(tty / "device");
        fs::create_symlink("../../../../bus/drivers/" + driver, tty / "device" / "driver");
    }
    if (uart_type != nullptr) {
        test::write_file(tty / "type", std::string(uart_type) + "\n");
    }
}

TEST(PortListing, StableNamesThenEveryTtyThatADriverServesOnce) {
    test::TempDir root;
    const DeviceTree tree{root / "dev", root / "sys"};
    fs::create_directories(tree.dev / "serial" / "by-id");
    fs::create_symlink("../../ttyUSB0", tree.dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1-port0");
    fs::create_symlink("../../ttyACM0", tree.dev / "serial" / "by-id" / "usb-Arduino_Uno-if00");
    add_tty(tree.sys, "ttyUSB0", "ftdi_sio");
    add_tty(tree.sys, "ttyACM0", "cdc_acm");
    add_tty(tree.sys, "ttyS0", "serial8250", "4");
    add_tty(tree.sys, "ttyS10", "serial8250", "4");
    add_tty(tree.sys, "ttyS2", "serial8250", "4");
    add_tty(tree.sys, "ttyS1", "serial8250", "0");  // a port the UART driver could have: absent
    add_tty(tree.sys, "tty1", "");                  // a virtual console: no driver
    add_tty(tree.sys, "ttyprintk", "");

    const std::string dev = tree.dev.string();
    const std::vector<PortListing> expected = {
        {dev + "/serial/by-id/usb-Arduino_Uno-if00", dev + "/ttyACM0"},
        {dev + "/serial/by-id/usb-FTDI_FT232R_A1-port0", dev + "/ttyUSB0"},
        {dev + "/ttyACM0", "cdc_acm"},
        {dev + "/ttyS0", "serial8250"},
        {dev + "/ttyS2", "serial8250"},
        {dev + "/ttyS10", "serial8250"},
        {dev + "/ttyUSB0", "ftdi_sio"},
    };
    EXPECT_EQ(list_serial_ports(tree), expected);
}

TEST(PortListing, ASystemWithoutSerialPortsListsNothingAndSaysSo) {
    test::TempDir root;
    const DeviceTree tree{root / "dev", root / "sys"};
    add_tty(tree.sys, "tty1", "");
    add_tty(tree.sys, "ttyS0", "serial8250", "0");
    EXPECT_TRUE(list_serial_ports(tree).empty());

    test::Pipe out;
    std::FILE* stream = ::fdopen(::dup(out.write_end()), "w");
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(print_serial_ports(stream, tree));
    std::fclose(stream);
    EXPECT_EQ(out.read_available(), "no serial ports found\n");
}

}  // namespace
}  // namespace zentavol
