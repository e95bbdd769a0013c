// Terminal-device helpers of the POSIX backend: descriptor flags, the termios mapping of the line
// settings, and node identities.
#include "tty_posix.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "port_timeouts.h"

namespace zentavol::posix {
namespace {

struct StandardSpeed {
    std::uint32_t baud;
    speed_t code;
};

// The rates the classic termios names.
constexpr StandardSpeed kStandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> standard_speed(std::uint32_t baud) {
    const auto* found = std::ranges::find(kStandardSpeeds, baud, &StandardSpeed::baud);
    return found == std::end(kStandardSpeeds) ? std::nullopt : std::optional(found->code);
}

std::uint32_t rate_of(speed_t code) {
    const auto* found = std::ranges::find(kStandardSpeeds, code, &StandardSpeed::code);
    return found == std::end(kStandardSpeeds) ? 0 : found->baud;
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
        // HUPCL: DTR drops when the port is released, as a Windows port's does when its handle
        // is closed; set here rather than left to whatever the kernel's default was.
        tio.c_cflag |= size_flag(line.data_bits) | CLOCAL | CREAD | HUPCL;
        if (line.cts_flow) {
            tio.c_cflag |= CRTSCTS;
        }
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
        // A rate without a Bxxx name is set as a number below; the rest of the line first.
        if (const auto code = standard_speed(line.baud)) {
            ::cfsetispeed(&tio, *code);
            ::cfsetospeed(&tio, *code);
        }
        ::tcsetattr(fd, TCSANOW, &tio);
        if (!standard_speed(line.baud)) {
            set_any_speed(fd, line.baud);
        }
    }
    int raise = 0;
    int lower = 0;
    (line.dtr ? raise : lower) |= TIOCM_DTR;
    if (!line.cts_flow) {  // under the handshake the driver drives RTS
        (line.rts ? raise : lower) |= TIOCM_RTS;
    }
    if (raise != 0) {
        ::ioctl(fd, TIOCMBIS, &raise);  // a pseudo-terminal has no modem lines and refuses
    }
    if (lower != 0) {
        ::ioctl(fd, TIOCMBIC, &lower);
    }
}

TtyLine read_line_settings(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return {};
    }
    TtyLine now;
    now.ok = true;
    LineSettings& line = now.line;
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            line.data_bits = 5;
            break;
        case CS6:
            line.data_bits = 6;
            break;
        case CS7:
            line.data_bits = 7;
            break;
        default:
            line.data_bits = 8;
    }
    line.parity = 'n';
    if ((tio.c_cflag & PARENB) != 0) {
        const bool odd = (tio.c_cflag & PARODD) != 0;
        line.parity = odd ? 'o' : 'e';
#ifdef CMSPAR
        if ((tio.c_cflag & CMSPAR) != 0) {
            line.parity = odd ? 'm' : 's';
        }
#endif
    }
    line.stop_bits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    line.xon_xoff = (tio.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF);
    line.cts_flow = (tio.c_cflag & CRTSCTS) != 0;
    line.baud = read_speed(fd).value_or(rate_of(::cfgetospeed(&tio)));
    return now;
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
