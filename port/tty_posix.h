// The POSIX backend's dealings with terminal devices, below the serial port object: descriptor
// flags, the termios mapping of the line settings, and what a port's name leads to.
#pragma once

#include <cstdint>
#include <optional>

#include "line_settings.h"
#include "serial_port_state_posix.h"

namespace zentavol::posix {

bool is_pseudo_terminal(int fd);
// The read timeouts: what is waiting at once, or the first byte within the total constant.
void apply_timeouts(int fd);
// Raw line in both directions with the given rate, framing, flow control and modem lines; DTR
// drops when the port is released.
void apply_line_settings(int fd, const LineSettings& line);
// The line as the port has it now; the rate as a number.
struct TtyLine {
    bool ok = false;
    LineSettings line;
};
TtyLine read_line_settings(int fd);
// Any rate as a number (the driver may still pick another), and the rate the port has.
bool set_any_speed(int fd, std::uint32_t baud);
std::optional<std::uint32_t> read_speed(int fd);
// Bytes still queued for the line; a driver that cannot tell counts as drained.
int output_queued(int fd);
// Bytes waiting to be read; nothing when the device cannot tell (it may be gone).
std::optional<int> input_waiting(int fd);
// The errors with which a read or an ioctl says that the device itself is gone.
bool means_device_gone(int error);
// What the name is now (see NodeIdentity); nothing when it leads nowhere.
std::optional<NodeIdentity> identity_of(const char* name, bool pseudo_terminal);

}  // namespace zentavol::posix
