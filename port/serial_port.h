// The serial port object: the one seam between the programs and the platform's serial services.
// Both programs prepare a port in exactly the same way through it; the backend that carries it is
// picked by the build (serial_port_posix.cpp or serial_port_windows.cpp), and each backend keeps
// its own state (serial_port_state_*.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "line_settings.h"
#include "unique_handle.h"
#if defined(_WIN32)
#include "serial_port_state_windows.h"
#else
#include "serial_port_state_posix.h"
#endif

namespace zentavol {

// The event word bit that says characters have been received (EV_RXCHAR).
inline constexpr std::uint32_t kEventReceivedChar = 0x0001;

struct ReadResult {
    bool ok = false;
    std::size_t count = 0;
    // The read filled its buffer, so more bytes are likely waiting: the next wait returns at once,
    // and the next read never waits for the line (it gives 0 when nothing was there after all).
    bool more_waiting = false;
};

// The line that the port has after configure, read back from it: a driver may have refused a
// setting or picked another rate than the one asked for.
struct LineReadback {
    bool ok = false;  // the port's settings could be read at all
    LineSettings line;
    // False where the port keeps no framing (a pseudo-terminal forces 8 data bits and no
    // parity): data bits and parity then say nothing.
    bool framing_known = true;
};

// A thin, move-only owner of one open port handle. Every operation blocks until it ends or its
// timeout runs out; results are plain flags and counts, nothing is thrown.
class SerialPort {
  public:
    // Opens the port by the name exactly as typed, exclusively, never creating anything. Only a
    // terminal device is a port: anything else that opens is closed again untouched.
    bool open(const char* name);
    // Opens the same name again after the port was lost, exactly as open does. A pseudo-terminal
    // is taken back only when its name, or the node that it leads to, has been made anew since:
    // its old number may have gone to an unrelated terminal, which must be left alone.
    bool reopen(const char* name);
    // Applies the timeouts, then the line settings of the text (kLineSettings unless given), then
    // restarts output that an earlier XOFF left suspended; a step the platform rejects passes
    // silently and does not keep the next one from being tried. Gives the line read back.
    LineReadback configure(const char* line_settings = kLineSettings);
    // True only when every byte went out within the write limit.
    bool write(std::span<const std::uint8_t> bytes);
    // Blocks until received characters are waiting; the event word has kEventReceivedChar set
    // then, and lacks it when the wait failed or the line is gone.
    std::uint32_t wait_for_received();
    ReadResult read(std::span<std::uint8_t> buffer);
    // Asked after a wait or a read that gave nothing: true when the port has gone away (hung up,
    // unplugged). A transient line error is cleared instead, and the port is not lost.
    bool lost();
    void close();

    bool is_open() const { return handle_.valid(); }

  private:
    UniqueHandle handle_;
    PortState state_;
};

}  // namespace zentavol
