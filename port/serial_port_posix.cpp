// POSIX backend of the serial port object, on termios.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "port_timeouts.h"
#include "process_setup.h"
#include "process_signals.h"
#include "serial_port.h"
#include "tty_posix.h"

namespace zentavol {
namespace {

using Clock = std::chrono::steady_clock;

int fd_of(NativeHandle handle) {
    return static_cast<int>(handle);
}

int poll_timeout_ms(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace

bool SerialPort::open(const char* name) {
    close();
    // Non-blocking, so that a port without carrier cannot hang the open, and for good: every
    // operation waits in poll for its own limit, so a read after a full one can take just what is
    // there, and a write held by flow control ends at its limit.
    UniqueHandle port(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!port.valid()) {
        return false;
    }
    const int fd = fd_of(port.get());
    // Only a terminal is a port: a file, a FIFO or /dev/zero is closed again untouched.
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    const bool pseudo_terminal = posix::is_pseudo_terminal(fd);
    const bool exclusive = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                           (pseudo_terminal || ::ioctl(fd, TIOCEXCL) == 0 || errno == ENOTTY);
    if (!exclusive) {
        return false;
    }
    handle_ = std::move(port);
    state_.node = posix::identity_of(name, pseudo_terminal).value_or(NodeIdentity{});
    state_.node.pseudo_terminal = pseudo_terminal;
    return true;
}

bool SerialPort::reopen(const char* name) {
    if (state_.node.known && state_.node.pseudo_terminal) {
        const auto now = posix::identity_of(name, true);
        if (!now || *now == state_.node) {
            return false;
        }
    }
    return open(name);
}

LineReadback SerialPort::configure(const char* line_settings) {
    const int fd = fd_of(handle_.get());
    posix::apply_timeouts(fd);
    if (const auto line = parse_line_settings(line_settings)) {
        posix::apply_line_settings(fd, *line);
    }
    // A terminal keeps output that a received XOFF suspended after its holder has gone; TCOON
    // alone restarts only output that TCOOFF stopped, so both, as a Windows open does.
    ::tcflow(fd, TCOOFF);
    ::tcflow(fd, TCOON);
    const auto now = posix::read_line_settings(fd);
    return {.ok = now.ok, .line = now.line, .framing_known = !state_.node.pseudo_terminal};
}

bool SerialPort::write(std::span<const std::uint8_t> bytes) {
    const int fd = fd_of(handle_.get());
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(kWriteTotalTimeoutMultiplier * bytes.size() +
                                                 kWriteTotalTimeoutConstant);
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
    if (sent < bytes.size()) {
        return false;
    }
    // The write ends when its bytes have left for the line, as on Windows: a driver that queues
    // them while flow control holds the line must not make a held write look whole.
    while (const int queued = posix::output_queued(fd)) {
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
    state_.reported_readable = false;
    // The last read filled its buffer: under a steady stream this saves a system call per read,
    // and the read that follows takes only what is there.
    if (state_.more_waiting) {
        return kEventReceivedChar;
    }
    // A signal for the program wakes the wait too (a descriptor of -1 is left out by poll).
    pollfd waits[2] = {{fd_of(handle_.get()), POLLIN, 0},
                       {fd_of(ProcessSignals::wake_handle()), POLLIN, 0}};
    pollfd& input = waits[0];
    while (::poll(waits, 2, -1) < 0) {
        if (errno != EINTR || ProcessSignals::pending()) {
            return 0;
        }
    }
    if (input.revents == 0) {
        return 0;  // woken for a signal: the caller looks at it
    }
    if ((input.revents & POLLNVAL) != 0) {
        state_.gone = true;
        return 0;
    }
    if ((input.revents & (POLLERR | POLLHUP)) != 0) {
        // A hung-up terminal reports itself readable for ever; only bytes really waiting count,
        // and with none left it is gone.
        if (posix::input_waiting(input.fd).value_or(0) <= 0) {
            state_.gone = true;
            return 0;
        }
    }
    state_.reported_readable = (input.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    return state_.reported_readable ? kEventReceivedChar : 0;
}

ReadResult SerialPort::read(std::span<std::uint8_t> buffer) {
    const int fd = fd_of(handle_.get());
    const bool after_readable = state_.reported_readable;
    // After a wait that saw bytes, or a read that filled its buffer, the read takes what is there
    // at once; otherwise it waits for the first byte up to the total read timeout, as VTIME
    // would on a blocking descriptor.
    const bool take_what_is_there = after_readable || state_.more_waiting;
    state_.reported_readable = false;
    state_.more_waiting = false;
    const auto read_now = [&] {
        ssize_t n = 0;
        do {
            n = ::read(fd, buffer.data(), buffer.size());
        } while (n < 0 && errno == EINTR);
        return n;
    };
    ssize_t n = read_now();
    if (n < 0 && errno == EAGAIN && !take_what_is_there) {
        pollfd waits[2] = {{fd, POLLIN, 0}, {fd_of(ProcessSignals::wake_handle()), POLLIN, 0}};
        if (::poll(waits, 2, static_cast<int>(kReadTotalTimeoutConstant)) > 0 &&
            waits[0].revents != 0) {
            n = read_now();
        }
    }
    if (n < 0 && errno == EAGAIN) {
        // Nothing after a full read is no fault; nothing after the system said bytes were
        // waiting (another reader took them) fails the read, so that its caller pauses.
        return {!after_readable, 0, false};
    }
    if (n < 0) {
        state_.gone = state_.gone || posix::means_device_gone(errno);
        return {};
    }
    // Nothing to read from a port that has just said it is readable: the end of the line.
    state_.gone = state_.gone || (n == 0 && after_readable);
    // A full read has most likely left bytes behind: the next wait need not ask, and the next
    // read takes only what is there, so asking costs nothing when nothing is.
    const auto count = static_cast<std::size_t>(n);
    state_.more_waiting = count == buffer.size();
    return {true, count, state_.more_waiting};
}

bool SerialPort::lost() {
    if (state_.gone || !handle_.valid()) {
        return true;
    }
    pollfd input{fd_of(handle_.get()), POLLIN, 0};
    if (::poll(&input, 1, 0) < 0) {
        return false;
    }
    if (const auto waiting = posix::input_waiting(input.fd)) {
        state_.gone = *waiting == 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    } else {
        state_.gone = posix::means_device_gone(errno);
    }
    return state_.gone;
}

void SerialPort::close() {
    handle_.reset();
    // What names the node stays: reopen compares against it.
    state_ = PortState{.node = state_.node};
}

}  // namespace zentavol
