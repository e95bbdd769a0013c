// zentavol: captures everything that arrives on a serial port into a capture file ("zentavol.dat"
// unless told otherwise) and echoes it.
#include <optional>
#include <string>
#include <vector>

#include "capture_file.h"
#include "command_line.h"
#include "echo_writer.h"
#include "process_setup.h"
#include "process_signals.h"
#include "receiver_options.h"
#include "serial_port.h"
#include "time_index.h"

namespace {

using namespace zentavol;

constexpr cli::ProgramText kProgram{
    .name = "zentavol",
    .usage = "usage zentavol COM",
    .about =
        "Captures everything that arrives on the serial port COM: appends it to the capture\n"
        "file and echoes it here, until Ctrl+C. A port that goes away is waited for and taken\n"
        "back.",
    .options =
        "  -o, --output FILE    the capture file, created when missing, never truncated\n"
        "                       (default zentavol.dat in the working directory)\n"
        "  -q, --quiet          no echo; messages are still shown\n"
        "  -w, --wait           wait for a port that is missing or held by another program\n"
        "                       (default: end with status 1)\n"
        "  -t, --timestamps     note when bytes came in FILE.times beside the capture file\n"
        "                       (zentavol-show shows both together)",
    .examples =
        "  zentavol -b 115200 -f none /dev/ttyACM0\n"
        "  zentavol -o /var/log/scale.dat -q -w /dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0",
    .operands = 1,
};
// Every read asks for up to this much.
constexpr std::size_t kReceiveBufferSize = 1000;
// Reads that find more already waiting are gathered up to this much, then stored with one
// append and echoed with one hand-over.
constexpr std::size_t kGatherSize = std::size_t{64} * 1024;
// A wait or read that fails on a port that is still there (a cleared line error, bytes that were
// gone when read) is retried after this pause, so that such a port cannot make the loop spin.
constexpr std::chrono::milliseconds kIdleRetryPause{50};
// The time index lies beside the capture file, under its name with this added.
constexpr const char* kIndexSuffix = ".times";
// How long the echo still queued at the end may take to reach the console.
constexpr std::chrono::milliseconds kEchoDrainAtEnd{1000};
// How often a port that has gone away, or is not there yet, is looked for again.
constexpr std::chrono::milliseconds kReopenPause{1000};

// The receiver's messages, naming its capture file as typed.
struct Messages {
    std::string announcement;
    std::string open_failed;
    std::string write_failed;

    explicit Messages(const std::string& file)
        : announcement("result in " + file + "   Press CtrlC to break;"),
          open_failed("error open " + file),
          write_failed("error write " + file) {}
};

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
        // A signal ends the gather: what was read before it is stored before it is looked at.
        if (!received.more_waiting || ProcessSignals::pending()) {
            break;
        }
        wait = true;
    }
    return received;
}

enum class PortBack { kBack, kNotConfigured, kStopped };

// Everything one capture run holds besides the port.
struct Run {
    const char* port_name;
    const ReceiverOptions& options;
    Messages messages;
    EchoWriter& console;
    CaptureFile& capture;
    std::optional<TimeIndex>& index;

    // The message for appends that fail, said when they start failing, and the index's
    // entries for what happened to the file.
    void report(CaptureFile::Outcome outcome) {
        if (outcome == CaptureFile::Outcome::kFirstFailure) {
            console.say(messages.write_failed);
        }
        const auto events = capture.take_events();
        if (index) {
            index->record(events);
        }
    }

    // Sets the line up; where options asked for settings, they must hold, or nothing is
    // captured.
    bool configure(SerialPort& port) {
        const auto readback = port.configure(options.line.settings_text().c_str());
        if (!options.line.held_by(readback)) {
            console.say("error configure COM");
            return false;
        }
        if (index) {
            index->opened(capture.size(), port_name, options.line.describe());
        }
        return true;
    }

    // What failed to append, once more.
    void retry() {
        report(capture.retry());
        if (index) {
            index->retry();
        }
    }

    bool has_backlog() const { return capture.has_backlog() || (index && index->has_backlog()); }

    // After a rotation program renamed the files: what was read before is in the old ones, and
    // from here on new ones under the old names take the bytes. What the old file refuses even
    // now goes into the new one rather than nowhere.
    void reopen_files() {
        retry();
        if (!capture.reopen(options.output.c_str())) {
            console.say(messages.open_failed);  // the old file goes on taking the bytes
        }
        if (index) {
            index->reopen((options.output + kIndexSuffix).c_str());
            index->opened(capture.size(), port_name, options.line.describe());
        }
    }

    // Ends the run on a signal: what failing appends kept is tried once more and what still
    // cannot be stored is said, the index notes the end, the echo gets a moment to catch up,
    // and the program ends as the signal would have ended it.
    [[noreturn]] void finish(int signal) {
        retry();
        if (capture.has_backlog()) {
            console.say(messages.write_failed);
            console.say("lost " + std::to_string(capture.backlog_size()) + " bytes");
        }
        if (index) {
            index->closed(capture.size());
        }
        console.drain_within(kEchoDrainAtEnd);
        ProcessSignals::end_as_signalled(signal);
    }

    // A port that has gone away is released at once, so that a re-plugged adapter gets its old
    // name back, and looked for about once a second until it can be held again as at start.
    PortBack take_back(SerialPort& port) {
        console.say("error read COM");
        if (index) {
            index->lost(capture.size());
        }
        port.close();
        do {
            ProcessSignals::wait_for(kReopenPause);
            if (ProcessSignals::stop_requested() != 0) {
                return PortBack::kStopped;
            }
            if (ProcessSignals::take_reopen_request()) {
                reopen_files();
            }
            retry();
        } while (!port.reopen(port_name));
        if (!configure(port)) {
            return PortBack::kNotConfigured;
        }
        console.say(messages.announcement);
        return PortBack::kBack;
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    prepare_console();
    ProcessSignals::install();
    ReceiverOptions options;
    const auto option_table = receiver_option_table(options);
    const auto command_line = cli::parse_command_line(option_table, argc, argv);
    if (const auto status = cli::answer_without_running(kProgram, command_line)) {
        return *status;
    }
    const char* port_name = command_line.operands[0].c_str();
    const Messages messages(options.output);

    SerialPort port;
    if (!port.open(port_name)) {
        cli::say("error open COM");
        if (!options.wait) {
            return cli::kStatusFailure;
        }
        do {
            // A signal ends the wait at once; there is nothing to store yet.
            if (ProcessSignals::wait_for(kReopenPause) && ProcessSignals::stop_requested() != 0) {
                ProcessSignals::end_as_signalled(ProcessSignals::stop_requested());
            }
            ProcessSignals::take_reopen_request();  // no file is open yet
        } while (!port.open(port_name));
    }
    EchoWriter console(stdout);
    console.say(messages.announcement);

    CaptureFile capture;
    if (!capture.open(options.output.c_str())) {
        console.say(messages.open_failed);
        return cli::kStatusFailure;
    }
    std::optional<TimeIndex> index;
    if (options.timestamps) {
        const auto& line = options.line;
        index.emplace(quiet_for(line.baud, line.data_bits, line.parity != 'n', line.stop_bits));
        const std::string index_name = options.output + kIndexSuffix;
        if (!index->open(index_name.c_str())) {
            console.say("error open " + index_name);
            return cli::kStatusFailure;
        }
    }
    Run run{port_name, options, messages, console, capture, index};
    if (!run.configure(port)) {
        return cli::kStatusFailure;
    }

    std::vector<std::uint8_t> gather(kGatherSize);
    for (;;) {
        if (const int signal = ProcessSignals::stop_requested()) {
            run.finish(signal);
        }
        if (ProcessSignals::take_reopen_request()) {
            run.reopen_files();
        }
        // While appends fail, the read's timeout paces their retries instead of the wait.
        const Received received = receive(port, gather, run.has_backlog());
        if (received.count > 0) {
            if (index) {
                index->chunk_read(capture);
            }
            // The file first: a byte is echoed only once it is stored.
            const std::span<const std::uint8_t> chunk(gather.data(), received.count);
            run.report(capture.store(chunk));
            if (!options.quiet) {
                console.echo(chunk, received.more_waiting);
            }
            continue;
        }
        // Nothing came.
        const bool retrying = run.has_backlog();
        if (retrying) {
            run.retry();
        }
        if (port.lost()) {
            const PortBack back = run.take_back(port);
            if (back == PortBack::kNotConfigured) {
                return cli::kStatusFailure;
            }
        } else if (received.failed && !retrying && !ProcessSignals::pending()) {
            pause_for(kIdleRetryPause);
        }
    }
}
