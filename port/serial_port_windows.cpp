// Windows backend of the serial port object, on the Win32 serial communications services.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <optional>

#include "control_block_windows.h"
#include "line_settings.h"
#include "port_timeouts.h"
#include "serial_port.h"

namespace zentavol {
namespace {

HANDLE handle_of(NativeHandle handle) {
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

DCB line_control_block(const char* line_settings, const DCB& driver_block, bool own_queue_limits) {
    DCB block{};
    block.DCBlength = sizeof block;
    ::BuildCommDCBA(line_settings, &block);
    const auto line = parse_line_settings(line_settings);
    // What the text leaves out but the line needs, in one place:
    // SetCommState refuses equal XON and XOFF characters (the cleared block has both 0).
    block.XonChar = static_cast<char>(kXon);
    block.XoffChar = static_cast<char>(kXoff);
    // Windows supports binary transfers only.
    block.fBinary = TRUE;
    // Some implementations take the two-digit abbreviation literally (96 bit/s).
    if (line && block.BaudRate != line->baud) {
        block.BaudRate = line->baud;
    }
    // The mode syntax's rts=hs is refused by Wine's BuildCommDCBA (it fails and leaves the block
    // zeroed), so the text says octs=on alone and the RTS half of the handshake is set here.
    if (line && line->cts_flow) {
        block.fOutxCtsFlow = TRUE;
        block.fRtsControl = RTS_CONTROL_HANDSHAKE;
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

bool SerialPort::open(const char* name) {
    close();
    // Share mode 0 holds the port exclusively; OPEN_EXISTING never creates anything; without the
    // overlapped flag every operation on the handle blocks until it ends.
    const HANDLE port = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    UniqueHandle held(reinterpret_cast<NativeHandle>(port));
    // Only a communications device is a port: a disk file named like one is closed untouched.
    DCB current{};
    current.DCBlength = sizeof current;
    if (::GetCommState(port, &current) == FALSE) {
        return false;
    }
    handle_ = std::move(held);
    return true;
}

// A COM name always means the same device; a released one can be opened again as it is.
bool SerialPort::reopen(const char* name) {
    return open(name);
}

namespace {

char parity_letter(BYTE parity) {
    switch (parity) {
        case ODDPARITY:
            return 'o';
        case EVENPARITY:
            return 'e';
        case MARKPARITY:
            return 'm';
        case SPACEPARITY:
            return 's';
        default:
            return 'n';
    }
}

// What the port ended with: the block that SetCommState took, and the rate as the driver reads
// it back, since a driver that cannot make a rate picks another without refusing the block (Wine's
// GetCommState does not report the RTS/CTS handshake it has set, so the block itself is trusted
// for the rest).
LineReadback read_back(HANDLE port, const DCB& accepted) {
    DCB now_block{};
    now_block.DCBlength = sizeof now_block;
    if (::GetCommState(port, &now_block) == FALSE) {
        return {};
    }
    LineReadback now;
    now.ok = true;
    now.line.baud = now_block.BaudRate;
    now.line.data_bits = accepted.ByteSize;
    now.line.parity = parity_letter(accepted.Parity);
    now.line.stop_bits = accepted.StopBits == TWOSTOPBITS ? 2 : 1;
    now.line.xon_xoff = accepted.fOutX != FALSE && accepted.fInX != FALSE;
    now.line.cts_flow =
        accepted.fOutxCtsFlow != FALSE && accepted.fRtsControl == RTS_CONTROL_HANDSHAKE;
    now.line.dtr = accepted.fDtrControl == DTR_CONTROL_ENABLE;
    now.line.rts = accepted.fRtsControl == RTS_CONTROL_ENABLE;
    return now;
}

}  // namespace

LineReadback SerialPort::configure(const char* line_settings) {
    const HANDLE port = handle_of(handle_.get());
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
    DCB block = line_control_block(line_settings, driver_block, true);
    bool accepted = ::SetCommState(port, &block) != FALSE;
    if (!accepted) {
        // Some vendor drivers refuse queue sizes or limits they do not support: once more with
        // the driver's own.
        if (driver_queues.dwCurrentRxQueue != 0 && driver_queues.dwCurrentTxQueue != 0) {
            ::SetupComm(port, driver_queues.dwCurrentRxQueue, driver_queues.dwCurrentTxQueue);
        }
        block = line_control_block(line_settings, driver_block, false);
        accepted = ::SetCommState(port, &block) != FALSE;
    }
    // Output that an XOFF suspended before this program is restarted.
    ::EscapeCommFunction(port, SETXON);
    return accepted ? read_back(port, block) : LineReadback{};
}

bool SerialPort::write(std::span<const std::uint8_t> bytes) {
    DWORD written = 0;
    const BOOL ok = ::WriteFile(handle_of(handle_.get()), bytes.data(),
                                static_cast<DWORD>(bytes.size()), &written, nullptr);
    // The standard serial driver ends a timed-out write with success and a short count.
    return ok != FALSE && written == bytes.size();
}

std::uint32_t SerialPort::wait_for_received() {
    const HANDLE port = handle_of(handle_.get());
    state_.waiting = 0;
    // The mask keeps an event that came before it: bytes that the last read already took leave
    // such a stale event behind, with nothing waiting. Reading then would block for the whole
    // read timeout while new bytes collect, so a stale event is waited past, once.
    for (int stale = 0; stale < 2; ++stale) {
        ::SetCommMask(port, EV_RXCHAR);
        DWORD events = 0;
        if (::WaitCommEvent(port, &events, nullptr) == FALSE) {
            state_.gone = !clear_line_errors(port).has_value();
            return 0;
        }
        if ((events & EV_RXCHAR) == 0) {
            return events;
        }
        const auto waiting = clear_line_errors(port);
        if (!waiting) {
            state_.gone = true;
            return 0;
        }
        if (*waiting > 0) {
            state_.waiting = *waiting;
            return events;
        }
    }
    return 0;
}

ReadResult SerialPort::read(std::span<std::uint8_t> buffer) {
    const HANDLE port = handle_of(handle_.get());
    // Only what is there, which the driver hands over at once.
    const std::size_t waiting = state_.waiting;
    const std::size_t wanted = waiting > 0 ? std::min(waiting, buffer.size()) : buffer.size();
    state_.waiting = 0;
    DWORD count = 0;
    const BOOL ok = ::ReadFile(port, buffer.data(), static_cast<DWORD>(wanted), &count, nullptr);
    if (ok == FALSE) {
        state_.gone = !clear_line_errors(port).has_value();
    }
    // The wait counted the queue: what this read left of it is still there.
    return {ok != FALSE, count, ok != FALSE && waiting > count};
}

bool SerialPort::lost() {
    if (state_.gone || !handle_.valid()) {
        return true;
    }
    state_.gone = !clear_line_errors(handle_of(handle_.get())).has_value();
    return state_.gone;
}

void SerialPort::close() {
    handle_.reset();
    state_ = PortState{};
}

}  // namespace zentavol
