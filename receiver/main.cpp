// zentavol: captures everything that arrives on a serial port into "zentavol.dat" and echoes it.
#include <array>
#include <cstdio>
#include <string_view>

#include "serial_port.h"

namespace {

constexpr const char* kCaptureFileName = "zentavol.dat";
constexpr std::size_t kReceiveBufferSize = 1000;
// A wait or read that yields nothing (a failed wait, a hung-up line, a device that is no serial
// port) is retried after this pause, so that such a port cannot make the loop spin.
constexpr std::chrono::milliseconds kIdleRetryPause{50};

constexpr int kStatusOk = 0;
constexpr int kStatusFailure = 1;
constexpr int kStatusUsage = 2;

constexpr const char* kHelp =
    "usage zentavol COM\n"
    "Captures everything that arrives on the serial port COM (9600 bit/s, 8N1, XON/XOFF,\n"
    "DTR and RTS on): appends it to zentavol.dat in the working directory and echoes it\n"
    "here, until Ctrl+C.";

void say(const char* message) {
    std::puts(message);
    std::fflush(stdout);
}

bool append(std::FILE* capture, std::span<const std::uint8_t> bytes) {
    const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), capture) == bytes.size();
    const bool flushed = std::fflush(capture) == 0;
    std::clearerr(capture);
    return whole && flushed;
}

// Failures of the echo pass in silence: a console that has gone away must not end the capture.
void echo(std::span<const std::uint8_t> bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
    std::clearerr(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    zentavol::prepare_console();
    const std::string_view first_argument = argc >= 2 ? argv[1] : "";
    if (first_argument == "-h" || first_argument == "--help") {
        say(kHelp);
        return kStatusOk;
    }
    if (first_argument == "--version") {
        say("zentavol " ZENTAVOL_VERSION);
        return kStatusOk;
    }
    if (argc < 2) {
        say("usage zentavol COM");
        return kStatusUsage;
    }

    zentavol::SerialPort port;
    if (!port.open(argv[1])) {
        say("error open COM");
        return kStatusFailure;
    }
    say("result in zentavol.dat   Press CtrlC to break;");

    std::FILE* capture = std::fopen(kCaptureFileName, "ab");
    if (capture == nullptr) {
        say("error open zentavol.dat");
        return kStatusFailure;
    }
    port.configure();

    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    for (;;) {
        if ((port.wait_for_received() & zentavol::kEventReceivedChar) == 0) {
            zentavol::pause_for(kIdleRetryPause);
            continue;
        }
        const auto [ok, count] = port.read(buffer);
        if (!ok || count == 0) {
            zentavol::pause_for(kIdleRetryPause);
            continue;
        }
        const std::span<const std::uint8_t> chunk(buffer.data(), count);
        if (!append(capture, chunk)) {
            say("error write zentavol.dat");
        }
        echo(chunk);
    }
}
