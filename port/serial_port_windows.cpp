// Windows backend of the serial port object, on the Win32 serial communications services.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "serial_port.h"

namespace zentavol {
namespace {

HANDLE handle_of(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

SerialPort::~SerialPort() {
    close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept : handle_(other.handle_) {
    other.handle_ = kNoHandle;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = kNoHandle;
    }
    return *this;
}

bool SerialPort::open(const char* name) {
    close();
    // Share mode 0 holds the port exclusively; OPEN_EXISTING never creates anything; without the
    // overlapped flag every operation on the handle blocks until it ends.
    const HANDLE port = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(port);
    return true;
}

void SerialPort::configure() {
    const HANDLE port = handle_of(handle_);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = kReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = kReadTotalTimeoutConstant;
    timeouts.WriteTotalTimeoutMultiplier = kWriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutConstant;
    ::SetCommTimeouts(port, &timeouts);

    DCB block{};
    block.DCBlength = sizeof block;
    ::BuildCommDCBA(kLineSettings, &block);
    // What the text leaves out but the line needs: SetCommState refuses equal XON and XOFF
    // characters (the cleared block has both 0), and Windows supports binary transfers only.
    block.XonChar = static_cast<char>(kXon);
    block.XoffChar = static_cast<char>(kXoff);
    block.fBinary = TRUE;
    // Some implementations take the two-digit abbreviation literally (96 bit/s).
    if (const auto line = parse_line_settings(kLineSettings);
        line && block.BaudRate != line->baud) {
        block.BaudRate = line->baud;
    }
    ::SetCommState(port, &block);
}

bool SerialPort::write(std::span<const std::uint8_t> bytes) {
    DWORD written = 0;
    const BOOL ok = ::WriteFile(handle_of(handle_), bytes.data(), static_cast<DWORD>(bytes.size()),
                                &written, nullptr);
    // The standard serial driver ends a timed-out write with success and a short count.
    return ok != FALSE && written == bytes.size();
}

std::uint32_t SerialPort::wait_for_received() {
    const HANDLE port = handle_of(handle_);
    ::SetCommMask(port, EV_RXCHAR);
    DWORD events = 0;
    ::WaitCommEvent(port, &events, nullptr);
    return events;
}

ReadResult SerialPort::read(std::span<std::uint8_t> buffer) {
    DWORD count = 0;
    const BOOL ok = ::ReadFile(handle_of(handle_), buffer.data(), static_cast<DWORD>(buffer.size()),
                               &count, nullptr);
    return {ok != FALSE, count};
}

void SerialPort::close() {
    if (handle_ != kNoHandle) {
        ::CloseHandle(handle_of(handle_));
        handle_ = kNoHandle;
    }
}

// Windows has no SIGPIPE: a console write to a closed pipe fails and the process goes on; and
// handles are not numbered from the lowest free one, so none can stand in for a closed stream.
void prepare_console() {}

void pause_for(std::chrono::milliseconds duration) {
    ::Sleep(static_cast<DWORD>(duration.count()));
}

}  // namespace zentavol
