// The POSIX backend's dealings with terminal devices, below the serial port object: descriptor
// flags, the termios mapping of the line settings, and what a port's name leads to.
#pragma once

#include <optional>

#include "line_settings.h"
#include "serial_port_state_posix.h"

namespace zentavol::posix {

bool is_pseudo_terminal(int fd);
// The read timeouts: what is waiting at once, or the first byte within the total constant.
void apply_timeouts(int fd);
// Raw line in both directions with the given framing, flow control and modem lines.
void apply_line_settings(int fd, const LineSettings& line);
// Bytes still queued for the line; a driver that cannot tell counts as drained.
int output_queued(int fd);
// Bytes waiting to be read; nothing when the device cannot tell (it may be gone).
std::optional<int> input_waiting(int fd);
// The errors with which a read or an ioctl says that the device itself is gone.
bool means_device_gone(int error);
// What the name is now (see NodeIdentity); nothing when it leads nowhere.
std::optional<NodeIdentity> identity_of(const char* name, bool pseudo_terminal);

}  // namespace zentavol::posix
