// Apart from the other helpers: <asm/termbits.h> and <termios.h> define the same names.
#include "line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace zentavol::test {

std::uint32_t line_speed(int fd) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return standard_line_speed(fd);
    }
    return tio.c_ospeed;
}

bool any_rate_readable(int fd) {
    termios2 tio{};
    return ::ioctl(fd, TCGETS2, &tio) == 0;
}

}  // namespace zentavol::test
