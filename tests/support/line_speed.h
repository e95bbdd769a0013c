// The rate a terminal has, as a number, read as any other process would read it (TCGETS2).
#pragma once

#include <cstdint>

namespace zentavol::test {

std::uint32_t line_speed(int fd);

}  // namespace zentavol::test
