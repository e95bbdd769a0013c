// Windows backend of the serial port object, on the Win32 serial communications services.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "serial_port.h"

namespace zentavol {
namespace {

HANDLE handle_of(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Clears a pending line error, which would otherwise fail every later read and wait; gives the
// bytes waiting in the input queue, or nothing when the port is gone.
std::optional<DWORD> clear_line_errors(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (::ClearCommError(port, &errors, &status) == FALSE) {
        return std::nullopt;
    }
    return status.cbInQue;
}

}  // namespace

// The block that configure hands to SetCommState: what kLineSettings names, completed where the
// text leaves the line unusable or fragile. Not static, so that its test program can reach it.
DCB line_control_block(const DCB& driver_block, bool own_queue_limits);
DCB line_control_block(const DCB& driver_block, bool own_queue_limits) {
    DCB block{};
    block.DCBlength = sizeof block;
    ::BuildCommDCBA(kLineSettings, &block);
    // What the text leaves out but the line needs, in one place:
    // SetCommState refuses equal XON and XOFF characters (the cleared block has both 0).
    block.XonChar = static_cast<char>(kXon);
    block.XoffChar = static_cast<char>(kXoff);
    // Windows supports binary transfers only.
    block.fBinary = TRUE;
    // Some implementations take the two-digit abbreviation literally (96 bit/s).
    if (const auto line = parse_line_settings(kLineSettings);
        line && block.BaudRate != line->baud) {
        block.BaudRate = line->baud;
    }
    // Our transmitter never waits on our own full input buffer: the sender never reads it.
    block.fTXContinueOnXoff = TRUE;
    // A line error must not fail every later read until someone clears it.
    block.fAbortOnError = FALSE;
    // XOFF while there is still room for the bytes in flight, XON once half the queue is free,
    // as the standard driver's defaults have it; or the driver's own where it refused ours.
    if (own_queue_limits) {
        block.XoffLim = static_cast<WORD>(kInputQueueSize / 8);
        block.XonLim = static_cast<WORD>(kInputQueueSize / 2);
    } else {
        block.XoffLim = driver_block.XoffLim;
        block.XonLim = driver_block.XonLim;
    }
    return block;
}

SerialPort::~SerialPort() {
    close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : handle_(other.handle_), gone_(other.gone_), waiting_(other.waiting_) {
    other.handle_ = kNoHandle;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        gone_ = other.gone_;
        waiting_ = other.waiting_;
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
    // Only a communications device is a port: a disk file named like one is closed untouched.
    DCB current{};
    current.DCBlength = sizeof current;
    if (::GetCommState(port, &current) == FALSE) {
        ::CloseHandle(port);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(port);
    return true;
}

// A COM name always means the same device; a released one can be opened again as it is.
bool SerialPort::reopen(const char* name) {
    return open(name);
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

    DCB driver_block{};
    driver_block.DCBlength = sizeof driver_block;
    ::GetCommState(port, &driver_block);
    COMMPROP driver_queues{};
    ::GetCommProperties(port, &driver_queues);
    ::SetupComm(port, kInputQueueSize, kOutputQueueSize);
    DCB block = line_control_block(driver_block, true);
    if (::SetCommState(port, &block) == FALSE) {
        // Some vendor drivers refuse queue sizes or limits they do not support: once more with
        // the driver's own.
        if (driver_queues.dwCurrentRxQueue != 0 && driver_queues.dwCurrentTxQueue != 0) {
            ::SetupComm(port, driver_queues.dwCurrentRxQueue, driver_queues.dwCurrentTxQueue);
        }
        block = line_control_block(driver_block, false);
        ::SetCommState(port, &block);
    }
    // Output that an XOFF suspended before this program is restarted.
    ::EscapeCommFunction(port, SETXON);
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
    waiting_ = 0;
    // The mask keeps an event that came before it: bytes that the last read already took leave
    // such a stale event behind, with nothing waiting. Reading then would block for the whole
    // read timeout while new bytes collect, so a stale event is waited past, once.
    for (int stale = 0; stale < 2; ++stale) {
        ::SetCommMask(port, EV_RXCHAR);
        DWORD events = 0;
        if (::WaitCommEvent(port, &events, nullptr) == FALSE) {
            gone_ = !clear_line_errors(port).has_value();
            return 0;
        }
        if ((events & EV_RXCHAR) == 0) {
            return events;
        }
        const auto waiting = clear_line_errors(port);
        if (!waiting) {
            gone_ = true;
            return 0;
        }
        if (*waiting > 0) {
            waiting_ = *waiting;
            return events;
        }
    }
    return 0;
}

ReadResult SerialPort::read(std::span<std::uint8_t> buffer) {
    const HANDLE port = handle_of(handle_);
    // Only what is there, which the driver hands over at once.
    const std::size_t wanted =
        waiting_ > 0 ? std::min<std::size_t>(waiting_, buffer.size()) : buffer.size();
    waiting_ = 0;
    DWORD count = 0;
    const BOOL ok = ::ReadFile(port, buffer.data(), static_cast<DWORD>(wanted), &count, nullptr);
    if (ok == FALSE) {
        gone_ = !clear_line_errors(port).has_value();
    }
    return {ok != FALSE, count};
}

bool SerialPort::lost() {
    if (gone_ || handle_ == kNoHandle) {
        return true;
    }
    gone_ = !clear_line_errors(handle_of(handle_)).has_value();
    return gone_;
}

void SerialPort::close() {
    if (handle_ != kNoHandle) {
        ::CloseHandle(handle_of(handle_));
        handle_ = kNoHandle;
    }
    gone_ = false;
    waiting_ = 0;
}

AppendFile::~AppendFile() {
    if (handle_ != kNoHandle) {
        ::CloseHandle(handle_of(handle_));
    }
}

AppendFile::AppendFile(AppendFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = kNoHandle;
}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
    if (this != &other) {
        if (handle_ != kNoHandle) {
            ::CloseHandle(handle_of(handle_));
        }
        handle_ = other.handle_;
        other.handle_ = kNoHandle;
    }
    return *this;
}

bool AppendFile::open(const char* name) {
    // Append access alone puts every write at the end, as "ab" does; readers may look meanwhile.
    const HANDLE file = ::CreateFileA(name, FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

std::size_t AppendFile::append(std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        DWORD count = 0;
        const auto chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
        if (::WriteFile(handle_of(handle_), bytes.data() + written, chunk, &count, nullptr) ==
                FALSE ||
            count == 0) {
            break;
        }
        written += count;
    }
    return written;
}

std::vector<PortListing> list_serial_ports(const DeviceTree& /*tree*/) {
    std::vector<std::pair<long, PortListing>> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return {};
    }
    for (DWORD index = 0;; ++index) {
        char device[256] = {};
        char com[64] = {};
        DWORD device_size = sizeof device;
        DWORD com_size = sizeof com - 1;
        DWORD type = 0;
        const LONG result = ::RegEnumValueA(key, index, device, &device_size, nullptr, &type,
                                            reinterpret_cast<BYTE*>(com), &com_size);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        const std::string name = com;
        const long number =
            name.starts_with("COM") ? std::strtol(name.c_str() + 3, nullptr, 10) : 0;
        // Windows reaches ports above COM9 only through the device prefix.
        found.push_back({number, {number > 9 ? "\\\\.\\" + name : name, device}});
    }
    ::RegCloseKey(key);
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PortListing> ports;
    for (auto& [number, port] : found) {
        ports.push_back(std::move(port));
    }
    return ports;
}

// Windows has no SIGPIPE: a console write to a closed pipe fails and the process goes on; and
// handles are not numbered from the lowest free one, so none can stand in for a closed stream.
void prepare_console() {}

void pause_for(std::chrono::milliseconds duration) {
    ::Sleep(static_cast<DWORD>(duration.count()));
}

PrecisePauses::PrecisePauses() {
    // Sleep rounds up to the timer tick (15.6 ms unless asked): a second a record would drift.
    ::timeBeginPeriod(1);
}

PrecisePauses::~PrecisePauses() {
    ::timeEndPeriod(1);
}

}  // namespace zentavol
