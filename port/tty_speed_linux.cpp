// Any line rate on Linux: termios2 with BOTHER carries the rate as a number, where the classic
// termios knows only its Bxxx constants. Kept apart because <asm/termbits.h> and <termios.h>
// define the same names.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>
#include <optional>

namespace zentavol::posix {

bool set_any_speed(int fd, std::uint32_t baud) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    // The input rate follows the output rate (the CIBAUD bits cleared say "the same").
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

std::optional<std::uint32_t> read_speed(int fd) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return std::nullopt;
    }
    return tio.c_ospeed;
}

}  // namespace zentavol::posix
