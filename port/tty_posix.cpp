// Terminal-device helpers of the POSIX backend: descriptor flags, the termios mapping of the line
// settings, and node identities.
#include "tty_posix.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

#include "port_timeouts.h"

namespace zentavol::posix {
namespace {

speed_t speed_for(std::uint32_t baud) {
    switch (baud) {
        case 110:
            return B110;
        case 150:
            return B150;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        default:
            return B0;
    }
}

tcflag_t size_flag(int data_bits) {
    switch (data_bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

}  // namespace

// Exclusive mode outlives its holder on a pseudo-terminal whose far end stays open, which would
// lock the port's owner out after a Ctrl+C; there the advisory lock alone must do.
bool is_pseudo_terminal(int fd) {
    char name[128] = {};
    if (::ttyname_r(fd, name, sizeof name) != 0) {
        return false;
    }
    const std::string_view path(name);
    return path.starts_with("/dev/pts/") || path.starts_with("/dev/pty") ||
           path.starts_with("/dev/ttyp");
}

void apply_timeouts(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return;
    }
    // An interval timeout of MAXDWORD with a constant total: return what is waiting at once, or
    // wait up to the constant (in tenths of a second) for the first byte.
    static_assert(kReadIntervalTimeout == 0xFFFFFFFF && kReadTotalTimeoutMultiplier == 0);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = static_cast<cc_t>(kReadTotalTimeoutConstant / 100);
    ::tcsetattr(fd, TCSANOW, &tio);
}

void apply_line_settings(int fd, const LineSettings& line) {
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        // Raw: every byte passes unchanged in both directions.
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXANY | INPCK | IXON | IXOFF);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
        tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
        tio.c_cflag |= size_flag(line.data_bits) | CLOCAL | CREAD;
        if (line.stop_bits == 2) {
            tio.c_cflag |= CSTOPB;
        }
        if (line.parity != 'n') {
            tio.c_cflag |= PARENB;
            tio.c_cflag |= (line.parity == 'o' || line.parity == 'm') ? PARODD : 0;
#ifdef CMSPAR
            tio.c_cflag |= (line.parity == 'm' || line.parity == 's') ? CMSPAR : 0;
#endif
        }
        if (line.xon_xoff) {
            tio.c_iflag |= IXON | IXOFF;
            tio.c_cc[VSTART] = kXon;
            tio.c_cc[VSTOP] = kXoff;
        }
        ::cfsetispeed(&tio, speed_for(line.baud));
        ::cfsetospeed(&tio, speed_for(line.baud));
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    int raise = 0;
    int lower = 0;
    (line.dtr ? raise : lower) |= TIOCM_DTR;
    (line.rts ? raise : lower) |= TIOCM_RTS;
    if (raise != 0) {
        ::ioctl(fd, TIOCMBIS, &raise);  // a pseudo-terminal has no modem lines and refuses
    }
    if (lower != 0) {
        ::ioctl(fd, TIOCMBIC, &lower);
    }
}

int output_queued(int fd) {
    int queued = 0;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

std::optional<int> input_waiting(int fd) {
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) {
        return std::nullopt;
    }
    return waiting;
}

bool means_device_gone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// A link's own inode and change time (a file system may hand a removed link's inode to the next
// one), and the inode of the node it leads to. Not the node's change time: devpts gives a reused
// pseudo-terminal number the same inode but a new time.
std::optional<NodeIdentity> identity_of(const char* name, bool pseudo_terminal) {
    struct stat link_stat {};
    struct stat node_stat {};
    if (::lstat(name, &link_stat) != 0 || ::stat(name, &node_stat) != 0) {
        return std::nullopt;
    }
    NodeIdentity identity;
    identity.name_is_link = S_ISLNK(link_stat.st_mode);
    if (identity.name_is_link) {
        identity.name_device = link_stat.st_dev;
        identity.name_inode = link_stat.st_ino;
        identity.name_changed_ns =
            static_cast<std::uint64_t>(link_stat.st_ctim.tv_sec) * 1'000'000'000u +
            static_cast<std::uint64_t>(link_stat.st_ctim.tv_nsec);
    }
    identity.node_device = node_stat.st_dev;
    identity.node_inode = node_stat.st_ino;
    identity.pseudo_terminal = pseudo_terminal;
    identity.known = true;
    return identity;
}

}  // namespace zentavol::posix
