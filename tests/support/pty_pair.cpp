#include "pty_pair.h"

#include "line_speed.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace zentavol::test {

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zentavol-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

PtyPair::PtyPair(Start start) {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    slave_path_ = name;
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    if (start == Start::kRaw) {
        termios tio{};
        ::tcgetattr(slave_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
}

PtyPair::~PtyPair() {
    hang_up();
}

void PtyPair::hang_up() {
    if (master_ >= 0) {
        ::close(master_);
    }
    if (slave_ >= 0) {
        ::close(slave_);
    }
    master_ = slave_ = -1;
}

void PtyPair::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n <= 0) {
            throw std::runtime_error("write to the pty master failed");
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::size_t PtyPair::send_for(std::string_view bytes, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < bytes.size() && Clock::now() < deadline) {
        pollfd room{master_, POLLOUT, 0};
        if (::poll(&room, 1, 10) <= 0) {
            continue;
        }
        const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    return sent;
}

Pipe::Pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    read_end_ = ends[0];
    write_end_ = ends[1];
}

Pipe::~Pipe() {
    close_write_end();
    ::close(read_end_);
}

void Pipe::close_write_end() {
    if (write_end_ >= 0) {
        ::close(write_end_);
        write_end_ = -1;
    }
}

const std::string& Pipe::read_until(const std::function<bool(const std::string&)>& done,
                                    std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done(got_) && Clock::now() < deadline) {
        pollfd input{read_end_, POLLIN, 0};
        if (::poll(&input, 1, 10) <= 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t n = ::read(read_end_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        got_.append(buffer, static_cast<std::size_t>(n));
    }
    return got_;
}

const std::string& Pipe::read_available() {
    pollfd input{read_end_, POLLIN, 0};
    char buffer[65536];
    while (::poll(&input, 1, 0) > 0 && (input.revents & POLLIN) != 0) {
        const ssize_t n = ::read(read_end_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        got_.append(buffer, static_cast<std::size_t>(n));
    }
    return got_;
}

std::string PtyPair::receive(std::size_t count, std::chrono::milliseconds timeout) {
    std::string got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            break;
        }
        pollfd input{master_, POLLIN, 0};
        if (::poll(&input, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string PtyPair::receive_for(std::chrono::milliseconds duration) {
    return receive(std::string::npos, duration);
}

termios PtyPair::slave_termios() const {
    termios tio{};
    ::tcgetattr(slave_, &tio);
    return tio;
}

bool carries_line_settings(const termios& tio) {
    return ::cfgetispeed(&tio) == B9600 && ::cfgetospeed(&tio) == B9600 &&
           (tio.c_cflag & CSIZE) == CS8 && (tio.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 &&
           (tio.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) &&
           (tio.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF) &&
           (tio.c_iflag & (IXANY | ISTRIP | ICRNL | INLCR | IGNCR | INPCK)) == 0 &&
           (tio.c_oflag & OPOST) == 0 && (tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 &&
           tio.c_cc[VSTART] == 0x11 && tio.c_cc[VSTOP] == 0x13;
}

std::uint32_t standard_line_speed(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return 0;
    }
    constexpr std::pair<speed_t, std::uint32_t> kRates[] = {
        {B50, 50},       {B75, 75},         {B1200, 1200},     {B9600, 9600},
        {B19200, 19200}, {B115200, 115200}, {B230400, 230400}, {B4000000, 4000000}};
    for (const auto& [code, rate] : kRates) {
        if (::cfgetospeed(&tio) == code) {
            return rate;
        }
    }
    return 0;
}

bool is_configured_line(const termios& tio) {
    return carries_line_settings(tio) && tio.c_cc[VMIN] == 0 && tio.c_cc[VTIME] == 10;
}

}  // namespace zentavol::test
