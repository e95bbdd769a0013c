// POSIX backend of the serial port object, on termios.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string_view>

#include "serial_port.h"

namespace zentavol {
namespace {

using Clock = std::chrono::steady_clock;

int fd_of(std::intptr_t handle) {
    return static_cast<int>(handle);
}

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

bool set_nonblocking(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) {
        return false;
    }
    return ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

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

int poll_timeout_ms(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Bytes still queued for the line; a driver that cannot tell counts as drained.
int output_queued(int fd) {
    int queued = 0;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

// The errors with which a read or an ioctl says that the device itself is gone.
bool means_device_gone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// What the name is now: a link's own inode and change time (a file system may hand a removed
// link's inode to the next one), and the inode of the node it leads to. Not the node's change
// time: devpts gives a reused pseudo-terminal number the same inode but a new time.
std::optional<SerialPort::NodeIdentity> identity_of(const char* name, bool pseudo_terminal) {
    struct stat link_stat {};
    struct stat node_stat {};
    if (::lstat(name, &link_stat) != 0 || ::stat(name, &node_stat) != 0) {
        return std::nullopt;
    }
    SerialPort::NodeIdentity identity;
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

// ttyS2 before ttyS10: by the name's letters, then by its number.
bool tty_name_before(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        const auto digits = name.find_first_of("0123456789");
        const std::string letters = name.substr(0, digits);
        const std::string number = digits == std::string::npos ? "" : name.substr(digits);
        return std::pair(letters, std::pair(number.size(), number));
    };
    return split(a) < split(b);
}

}  // namespace

SerialPort::~SerialPort() {
    close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : handle_(other.handle_),
      input_pending_(other.input_pending_),
      reported_readable_(other.reported_readable_),
      gone_(other.gone_),
      waiting_(other.waiting_),
      node_(other.node_) {
    other.handle_ = kNoHandle;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        input_pending_ = other.input_pending_;
        reported_readable_ = other.reported_readable_;
        gone_ = other.gone_;
        waiting_ = other.waiting_;
        node_ = other.node_;
        other.handle_ = kNoHandle;
    }
    return *this;
}

bool SerialPort::open(const char* name) {
    close();
    // Non-blocking, so that a port without carrier cannot hang the open.
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // Only a terminal is a port: a file, a FIFO or /dev/zero is closed again untouched.
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return false;
    }
    const bool pseudo_terminal = is_pseudo_terminal(fd);
    const bool exclusive = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                           (pseudo_terminal || ::ioctl(fd, TIOCEXCL) == 0 || errno == ENOTTY);
    if (!exclusive || !set_nonblocking(fd, false)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    node_ = identity_of(name, pseudo_terminal).value_or(NodeIdentity{});
    return true;
}

bool SerialPort::reopen(const char* name) {
    if (node_.known && node_.pseudo_terminal) {
        const auto now = identity_of(name, true);
        if (!now || *now == node_) {
            return false;
        }
    }
    return open(name);
}

void SerialPort::configure() {
    const int fd = fd_of(handle_);
    apply_timeouts(fd);
    if (const auto line = parse_line_settings(kLineSettings)) {
        apply_line_settings(fd, *line);
    }
    // A terminal keeps output that a received XOFF suspended after its holder has gone; TCOON
    // alone restarts only output that TCOOFF stopped, so both, as a Windows open does.
    ::tcflow(fd, TCOOFF);
    ::tcflow(fd, TCOON);
}

bool SerialPort::write(std::span<const std::uint8_t> bytes) {
    const int fd = fd_of(handle_);
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(kWriteTotalTimeoutMultiplier * bytes.size() +
                                                 kWriteTotalTimeoutConstant);
    // Non-blocking for the write alone, so that a line held by flow control cannot keep it past
    // its limit.
    if (!set_nonblocking(fd, true)) {
        return false;
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            break;
        }
        const int timeout = poll_timeout_ms(deadline);
        if (timeout == 0) {
            break;
        }
        pollfd room{fd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, timeout);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (room.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            break;
        }
    }
    set_nonblocking(fd, false);
    if (sent < bytes.size()) {
        return false;
    }
    // The write ends when its bytes have left for the line, as on Windows: a driver that queues
    // them while flow control holds the line must not make a held write look whole.
    while (const int queued = output_queued(fd)) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            ::tcflush(fd, TCOFLUSH);  // what the limit did not let out is not sent later
            return false;
        }
        // About the time the queued characters take on the line, but never past the limit.
        pause_for(std::min(std::chrono::milliseconds(queued),
                           std::chrono::ceil<std::chrono::milliseconds>(left)));
    }
    return true;
}

std::uint32_t SerialPort::wait_for_received() {
    reported_readable_ = false;
    // Under a steady stream this saves a system call per chunk; if nothing is waiting after
    // all, the read returns as soon as the next byte comes, or empty after its timeout.
    if (input_pending_) {
        input_pending_ = false;
        return kEventReceivedChar;
    }
    pollfd input{fd_of(handle_), POLLIN, 0};
    while (::poll(&input, 1, -1) < 0) {
        if (errno != EINTR) {
            return 0;
        }
    }
    if ((input.revents & POLLNVAL) != 0) {
        gone_ = true;
        return 0;
    }
    if ((input.revents & (POLLERR | POLLHUP)) != 0) {
        // A hung-up terminal reports itself readable for ever; only bytes really waiting count,
        // and with none left it is gone.
        int waiting = 0;
        if (::ioctl(input.fd, FIONREAD, &waiting) != 0 || waiting <= 0) {
            gone_ = true;
            return 0;
        }
    }
    reported_readable_ = (input.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    return reported_readable_ ? kEventReceivedChar : 0;
}

ReadResult SerialPort::read(std::span<std::uint8_t> buffer) {
    const bool after_readable = reported_readable_;
    reported_readable_ = false;
    ssize_t n = 0;
    do {
        n = ::read(fd_of(handle_), buffer.data(), buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        gone_ = gone_ || means_device_gone(errno);
        return {};
    }
    // Nothing to read from a port that has just said it is readable: the end of the line. A
    // read without such a wait may simply have timed out.
    gone_ = gone_ || (n == 0 && after_readable);
    input_pending_ = static_cast<std::size_t>(n) == buffer.size();
    return {true, static_cast<std::size_t>(n)};
}

bool SerialPort::lost() {
    if (gone_ || handle_ == kNoHandle) {
        return true;
    }
    pollfd input{fd_of(handle_), POLLIN, 0};
    if (::poll(&input, 1, 0) < 0) {
        return false;
    }
    int waiting = 0;
    if (::ioctl(input.fd, FIONREAD, &waiting) != 0) {
        gone_ = means_device_gone(errno);
    } else {
        gone_ = waiting == 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return gone_;
}

void SerialPort::close() {
    if (handle_ != kNoHandle) {
        ::close(fd_of(handle_));
        handle_ = kNoHandle;
    }
    input_pending_ = false;
    reported_readable_ = false;
    gone_ = false;
}

AppendFile::~AppendFile() {
    if (handle_ != kNoHandle) {
        ::close(fd_of(handle_));
    }
}

AppendFile::AppendFile(AppendFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = kNoHandle;
}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
    if (this != &other) {
        if (handle_ != kNoHandle) {
            ::close(fd_of(handle_));
        }
        handle_ = other.handle_;
        other.handle_ = kNoHandle;
    }
    return *this;
}

bool AppendFile::open(const char* name) {
    const int fd = ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

std::size_t AppendFile::append(std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd_of(handle_), bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    return written;
}

void prepare_console() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);  // an append past a file size limit then fails with EFBIG
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);  // takes the lowest free descriptor: this one
        }
    }
}

void pause_for(std::chrono::milliseconds duration) {
    timespec wake{};
    ::clock_gettime(CLOCK_MONOTONIC, &wake);
    const auto total_ns = duration.count() * 1'000'000LL + wake.tv_nsec;
    wake.tv_sec += static_cast<time_t>(total_ns / 1'000'000'000LL);
    wake.tv_nsec = static_cast<long>(total_ns % 1'000'000'000LL);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
}

std::vector<PortListing> list_serial_ports(const DeviceTree& tree) {
    namespace fs = std::filesystem;
    std::vector<PortListing> ports;
    std::error_code error;

    // The stable names that udev gives, each with the device it leads to.
    std::vector<fs::path> stable_names(fs::directory_iterator(tree.dev / "serial" / "by-id", error),
                                       fs::directory_iterator{});
    std::sort(stable_names.begin(), stable_names.end());
    for (const auto& name : stable_names) {
        const auto target = fs::read_symlink(name, error);
        if (!error) {
            ports.push_back(
                {name.string(), (name.parent_path() / target).lexically_normal().string()});
        }
    }

    // Every terminal that a driver serves. The 8250 driver keeps a ttyS node for each port it
    // could have; only those of type non-zero are really there.
    std::vector<std::string> ttys;
    for (const auto& entry : fs::directory_iterator(tree.sys / "class" / "tty", error)) {
        const std::string name = entry.path().filename().string();
        if (!fs::is_symlink(entry.path() / "device" / "driver", error)) {
            continue;
        }
        if (name.starts_with("ttyS")) {
            int type = 0;
            std::ifstream(entry.path() / "type") >> type;
            if (type == 0) {
                continue;
            }
        }
        ttys.push_back(name);
    }
    std::sort(ttys.begin(), ttys.end(), tty_name_before);
    for (const auto& name : ttys) {
        const auto driver =
            fs::read_symlink(tree.sys / "class" / "tty" / name / "device" / "driver", error);
        ports.push_back({(tree.dev / name).string(), error ? "" : driver.filename().string()});
    }
    return ports;
}

// clock_nanosleep to an absolute deadline is exact already.
PrecisePauses::PrecisePauses() = default;
PrecisePauses::~PrecisePauses() = default;

}  // namespace zentavol
