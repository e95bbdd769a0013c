// zentavol: captures everything that arrives on a serial port into "zentavol.dat" and echoes it.
#include <array>
#include <cstdio>
#include <string_view>

#include "capture_file.h"
#include "echo_writer.h"
#include "serial_port.h"

namespace {

constexpr const char* kCaptureFileName = "zentavol.dat";
constexpr const char* kAnnouncement = "result in zentavol.dat   Press CtrlC to break;";
constexpr std::size_t kReceiveBufferSize = 1000;
// A wait or read that yields nothing on a port that is still there (a failed wait, a cleared line
// error) is retried after this pause, so that such a port cannot make the loop spin.
constexpr std::chrono::milliseconds kIdleRetryPause{50};
// How often a port that has gone away is looked for again.
constexpr std::chrono::milliseconds kReopenPause{1000};

constexpr int kStatusOk = 0;
constexpr int kStatusFailure = 1;
constexpr int kStatusUsage = 2;

constexpr const char* kHelp =
    "usage zentavol COM\n"
    "Captures everything that arrives on the serial port COM (9600 bit/s, 8N1, XON/XOFF,\n"
    "DTR and RTS on): appends it to zentavol.dat in the working directory and echoes it\n"
    "here, until Ctrl+C. A port that goes away is waited for and taken back.\n"
    "zentavol --list shows the serial ports that this system has.";

void say(const char* message) {
    std::puts(message);
    std::fflush(stdout);
}

// The one message for appends that fail, said when they start failing.
void report(zentavol::CaptureFile::Outcome outcome, zentavol::EchoWriter& console) {
    if (outcome == zentavol::CaptureFile::Outcome::kFirstFailure) {
        console.say("error write zentavol.dat");
    }
}

// A port that has gone away is released at once, so that a re-plugged adapter gets its old name
// back, and looked for about once a second until it can be held again as at start.
void take_back(zentavol::SerialPort& port, const char* name, zentavol::CaptureFile& capture,
               zentavol::EchoWriter& console) {
    console.say("error read COM");
    port.close();
    do {
        zentavol::pause_for(kReopenPause);
        report(capture.retry(), console);
    } while (!port.reopen(name));
    port.configure();
    console.say(kAnnouncement);
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
    if (first_argument == "--list") {
        return zentavol::print_serial_ports(stdout) ? kStatusOk : kStatusFailure;
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
    zentavol::EchoWriter console(stdout);
    console.say(kAnnouncement);

    zentavol::CaptureFile capture;
    if (!capture.open(kCaptureFileName)) {
        console.say("error open zentavol.dat");
        return kStatusFailure;
    }
    port.configure();

    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    for (;;) {
        // While appends are failing, the read's one-second timeout paces their retries;
        // otherwise the loop sleeps in the wait until bytes come.
        const bool retrying = capture.has_backlog();
        const bool received =
            retrying || (port.wait_for_received() & zentavol::kEventReceivedChar) != 0;
        const auto [ok, count] = received ? port.read(buffer) : zentavol::ReadResult{};
        if (!ok || count == 0) {
            if (retrying) {
                report(capture.retry(), console);
            }
            if (port.lost()) {
                take_back(port, argv[1], capture, console);
            } else if (!retrying) {
                zentavol::pause_for(kIdleRetryPause);
            }
            continue;
        }
        // The file first: a byte is echoed only once it is stored.
        const std::span<const std::uint8_t> chunk(buffer.data(), count);
        report(capture.store(chunk), console);
        console.echo(chunk, count == buffer.size());  // a full read: more is almost surely waiting
    }
}
