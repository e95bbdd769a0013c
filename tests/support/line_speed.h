// The rate a terminal has, as a number, read as any other process would read it (TCGETS2).
#pragma once

#include <cstdint>

namespace zentavol::test {

// Where termios2 cannot be read (qemu-user does not carry it), the classic termios speed, which
// names the standard rates alone.
std::uint32_t line_speed(int fd);
// Whether any rate, standard or not, can be set and read here.
bool any_rate_readable(int fd);
// The classic termios speed, in bit/s (standard rates only; 0 for others).
std::uint32_t standard_line_speed(int fd);

}  // namespace zentavol::test
