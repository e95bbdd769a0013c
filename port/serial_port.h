// The serial port object: the one seam between the programs and the platform's serial services.
// Both programs prepare a port in exactly the same way through it; the backend that carries it is
// picked by the build (serial_port_posix.cpp or serial_port_windows.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zentavol {

// The line, in the platform's mode-command syntax ("baud=96" abbreviates 9600 bit/s). This text is
// the single definition of the line settings on every platform: the Windows backend hands it to
// BuildCommDCBA, the POSIX backend interprets it with parse_line_settings.
inline constexpr std::size_t kLineSettingsBufferSize = 100;
inline constexpr char kLineSettings[kLineSettingsBufferSize] =
    "baud=96 parity=n data=8 stop=1 xon=on dtr=on rts=on";

// Timeouts, in milliseconds, with the meaning of the Windows COMMTIMEOUTS record: a read returns
// at once with whatever is waiting (up to the asked count), or after about one second with
// nothing; a write of n bytes may take at most 2*n ms.
inline constexpr std::uint32_t kReadIntervalTimeout = 0xFFFFFFFF;
inline constexpr std::uint32_t kReadTotalTimeoutMultiplier = 0;
inline constexpr std::uint32_t kReadTotalTimeoutConstant = 1000;
inline constexpr std::uint32_t kWriteTotalTimeoutMultiplier = 2;
inline constexpr std::uint32_t kWriteTotalTimeoutConstant = 0;

// The driver's input and output queues, where the platform lets a program size them: what the
// standard Windows serial driver uses.
inline constexpr std::uint32_t kInputQueueSize = 4096;
inline constexpr std::uint32_t kOutputQueueSize = 4096;

// The event word bit that says characters have been received (EV_RXCHAR).
inline constexpr std::uint32_t kEventReceivedChar = 0x0001;

// The standard flow-control characters.
inline constexpr unsigned char kXon = 0x11;
inline constexpr unsigned char kXoff = 0x13;

// What the line-settings text says, item by item.
struct LineSettings {
    std::uint32_t baud = 0;  // bit/s, abbreviations expanded
    char parity = 'n';       // n, e, o, m or s
    int data_bits = 8;
    int stop_bits = 1;
    bool xon_xoff = false;
    bool dtr = false;
    bool rts = false;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Interprets a mode-command text such as kLineSettings; nothing when an item is unknown or
// malformed.
std::optional<LineSettings> parse_line_settings(std::string_view text);

struct ReadResult {
    bool ok = false;
    std::size_t count = 0;
};

// A thin, move-only owner of one open port handle. Every operation blocks until it ends or its
// timeout runs out; results are plain flags and counts, nothing is thrown.
class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port by the name exactly as typed, exclusively, never creating anything. Only a
    // terminal device is a port: anything else that opens is closed again untouched.
    bool open(const char* name);
    // Opens the same name again after the port was lost, exactly as open does. A pseudo-terminal
    // is taken back only when its name, or the node that it leads to, has been made anew since:
    // its old number may have gone to an unrelated terminal, which must be left alone.
    bool reopen(const char* name);
    // Applies the timeouts, then the line settings, then restarts output that an earlier XOFF
    // left suspended; a step the platform rejects passes silently and does not keep the next one
    // from being tried.
    void configure();
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

    bool is_open() const { return handle_ != kNoHandle; }

    // What names the port's node, seen at open: lets reopen tell a node made anew from an old
    // one (a backend may ignore it).
    struct NodeIdentity {
        std::uint64_t name_device = 0, name_inode = 0, name_changed_ns = 0;
        std::uint64_t node_device = 0, node_inode = 0;
        bool name_is_link = false;
        bool pseudo_terminal = false;
        bool known = false;
        friend bool operator==(const NodeIdentity&, const NodeIdentity&) = default;
    };

  private:
    static constexpr std::intptr_t kNoHandle = -1;  // also INVALID_HANDLE_VALUE's bits
    std::intptr_t handle_ = kNoHandle;
    // Set by a read that filled its whole buffer: more bytes are almost surely waiting, so the
    // next wait need not ask the platform (a backend may ignore it).
    bool input_pending_ = false;
    // Set by a wait that asked the platform and heard that bytes are waiting.
    bool reported_readable_ = false;
    // Set when a wait or a read has shown that the port is gone.
    bool gone_ = false;
    // Bytes that the last wait found waiting, where the platform tells (0: not known).
    std::uint32_t waiting_ = 0;
    NodeIdentity node_;
};

// A file opened for appending whose writes report exactly how many bytes went in, so that what
// a failing disk did not take can be kept and tried again. Move-only, like SerialPort.
class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(AppendFile&& other) noexcept;
    AppendFile& operator=(AppendFile&& other) noexcept;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens the file for binary appending, created when missing, never truncated.
    bool open(const char* name);
    // Appends at the end of the file; gives the number of bytes that went in (fewer than asked
    // when the file refused the rest).
    std::size_t append(std::span<const std::uint8_t> bytes);

  private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t handle_ = kNoHandle;
};

// One serial port that the system knows: the name to type, and what it is.
struct PortListing {
    std::string name;
    std::string description;
    friend bool operator==(const PortListing&, const PortListing&) = default;
};

// Where the system describes its devices (a backend may ignore it); the tests point it at a tree
// of their own.
struct DeviceTree {
    std::filesystem::path dev = "/dev";
    std::filesystem::path sys = "/sys";
};

// The serial ports that the system has, in a stable order. Opens none of them.
std::vector<PortListing> list_serial_ports(const DeviceTree& tree = {});

// Prints the listing, a port a line: the name to type, two blanks, what it is. False when the
// system has no serial port, which is then said instead.
inline bool print_serial_ports(std::FILE* out, const DeviceTree& tree = {}) {
    const auto ports = list_serial_ports(tree);
    if (ports.empty()) {
        std::fputs("no serial ports found\n", out);
    }
    for (const auto& port : ports) {
        std::fprintf(out, "%s  %s\n", port.name.c_str(), port.description.c_str());
    }
    std::fflush(out);
    return !ports.empty();
}

// The few other platform facts a program needs.

// A console that has gone away must only make console writes fail: it must neither end the
// process nor leave a standard descriptor free for the port or the capture file to take. A file
// size limit must likewise only make appends fail.
void prepare_console();
// Blocks the thread for the whole duration.
void pause_for(std::chrono::milliseconds duration);
// While one lives, pause_for keeps to about a millisecond where the platform's timer would
// otherwise round every pause up to its tick.
class PrecisePauses {
  public:
    PrecisePauses();
    ~PrecisePauses();  // NOLINT(performance-trivially-destructible): not on every platform
    PrecisePauses(const PrecisePauses&) = delete;
    PrecisePauses& operator=(const PrecisePauses&) = delete;
};

}  // namespace zentavol
