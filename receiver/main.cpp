// zentavol: captures everything that arrives on a serial port into "zentavol.dat" and echoes it.
#include <vector>

#include "capture_file.h"
#include "command_line.h"
#include "echo_writer.h"
#include "process_setup.h"
#include "serial_port.h"

namespace {

using namespace zentavol;

constexpr cli::ProgramText kProgram{
    .name = "zentavol",
    .usage = "usage zentavol COM",
    .help =
        "Captures everything that arrives on the serial port COM (9600 bit/s, 8N1, XON/XOFF,\n"
        "DTR and RTS on): appends it to zentavol.dat in the working directory and echoes it\n"
        "here, until Ctrl+C. A port that goes away is waited for and taken back.\n"
        "zentavol --list shows the serial ports that this system has.",
    .operands = 1,
};
constexpr const char* kCaptureFileName = "zentavol.dat";
constexpr const char* kAnnouncement = "result in zentavol.dat   Press CtrlC to break;";
// Every read asks for up to this much.
constexpr std::size_t kReceiveBufferSize = 1000;
// Reads that find more already waiting are gathered up to this much, then stored with one
// append and echoed with one hand-over.
constexpr std::size_t kGatherSize = std::size_t{64} * 1024;
// A wait or read that fails on a port that is still there (a cleared line error, bytes that were
// gone when read) is retried after this pause, so that such a port cannot make the loop spin.
constexpr std::chrono::milliseconds kIdleRetryPause{50};
// How often a port that has gone away is looked for again.
constexpr std::chrono::milliseconds kReopenPause{1000};

struct Received {
    std::size_t count = 0;
    bool more_waiting = false;
    bool failed = false;  // the wait or a read failed
};

// Waits for bytes, then reads what is there, gathering further reads only while bytes are
// already waiting: a chunk never waits for the line. With `paced_by_read`, the first wait is
// left out and the read's own timeout (a second) ends a turn when nothing comes.
Received receive(SerialPort& port, std::span<std::uint8_t> gather, bool paced_by_read) {
    Received received;
    bool wait = !paced_by_read;
    while (gather.size() - received.count >= kReceiveBufferSize) {
        if (wait && (port.wait_for_received() & kEventReceivedChar) == 0) {
            received.failed = true;
            break;
        }
        const ReadResult read = port.read(gather.subspan(received.count, kReceiveBufferSize));
        received.count += read.ok ? read.count : 0;
        received.more_waiting = read.ok && read.more_waiting;
        received.failed = !read.ok;
        if (!received.more_waiting) {
            break;
        }
        wait = true;
    }
    return received;
}

// The one message for appends that fail, said when they start failing.
void report(CaptureFile::Outcome outcome, EchoWriter& console) {
    if (outcome == CaptureFile::Outcome::kFirstFailure) {
        console.say("error write zentavol.dat");
    }
}

// A port that has gone away is released at once, so that a re-plugged adapter gets its old name
// back, and looked for about once a second until it can be held again as at start.
void take_back(SerialPort& port, const char* name, CaptureFile& capture, EchoWriter& console) {
    console.say("error read COM");
    port.close();
    do {
        pause_for(kReopenPause);
        report(capture.retry(), console);
    } while (!port.reopen(name));
    port.configure();
    console.say(kAnnouncement);
}

}  // namespace

int main(int argc, char* argv[]) {
    prepare_console();
    if (const auto status = cli::answer_without_running(kProgram, argc, argv)) {
        return *status;
    }
    const char* port_name = argv[1];

    SerialPort port;
    if (!port.open(port_name)) {
        cli::say("error open COM");
        return cli::kStatusFailure;
    }
    EchoWriter console(stdout);
    console.say(kAnnouncement);

    CaptureFile capture;
    if (!capture.open(kCaptureFileName)) {
        console.say("error open zentavol.dat");
        return cli::kStatusFailure;
    }
    port.configure();

    std::vector<std::uint8_t> gather(kGatherSize);
    for (;;) {
        // While appends fail, the read's timeout paces their retries instead of the wait.
        const Received received = receive(port, gather, capture.has_backlog());
        if (received.count > 0) {
            // The file first: a byte is echoed only once it is stored.
            const std::span<const std::uint8_t> chunk(gather.data(), received.count);
            report(capture.store(chunk), console);
            console.echo(chunk, received.more_waiting);
            continue;
        }
        // Nothing came.
        const bool retrying = capture.has_backlog();
        if (retrying) {
            report(capture.retry(), console);
        }
        if (port.lost()) {
            take_back(port, port_name, capture, console);
        } else if (received.failed && !retrying) {
            pause_for(kIdleRetryPause);
        }
    }
}
