// zentavol-send: plays a data file out to a serial port, one line record a second.
#include <cstdio>
#include <string_view>

#include "line_record.h"
#include "serial_port.h"

namespace {

constexpr std::chrono::milliseconds kRecordPause{1000};

constexpr int kStatusOk = 0;
constexpr int kStatusFailure = 1;
constexpr int kStatusUsage = 2;

constexpr const char* kHelp =
    "usage zentavol COM datafile\n"
    "Plays datafile out to the serial port COM (9600 bit/s, 8N1, XON/XOFF, DTR and RTS on),\n"
    "one line record a second: each line (a longer one in pieces of 98 bytes) followed by\n"
    "a zero byte. Stop it with Ctrl+C.\n"
    "zentavol-send --list shows the serial ports that this system has.";

void say(const char* message) {
    std::puts(message);
    std::fflush(stdout);
}

// Opens the data file for reading as bytes; nothing when it cannot be read from its first byte
// (a directory among others, which some platforms let fopen open).
std::FILE* open_data_file(const char* path) {
    std::FILE* data = std::fopen(path, "rb");
    if (data == nullptr) {
        return nullptr;
    }
    const int first = std::getc(data);
    if (first == EOF && std::ferror(data) != 0) {
        std::fclose(data);
        return nullptr;
    }
    if (first != EOF) {
        std::ungetc(first, data);
    }
    return data;
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
        say("zentavol-send " ZENTAVOL_VERSION);
        return kStatusOk;
    }
    if (first_argument == "--list") {
        return zentavol::print_serial_ports(stdout) ? kStatusOk : kStatusFailure;
    }
    if (argc < 3) {
        say("usage zentavol COM datafile");
        return kStatusUsage;
    }

    zentavol::SerialPort port;
    if (!port.open(argv[1])) {
        say("error open COM");
        return kStatusFailure;
    }
    std::FILE* data = open_data_file(argv[2]);
    if (data == nullptr) {
        say("cannot find datafile");
        return kStatusFailure;
    }
    say("Press CtrlC to break;");
    port.configure();

    const zentavol::PrecisePauses precise_pauses;
    bool every_record_whole = true;
    zentavol::LineBuffer line{};
    zentavol::LinePiece piece;
    do {
        piece = zentavol::read_line_piece(data, line);
        if (piece.length == 0) {
            break;
        }
        if (!port.write(zentavol::make_line_record(line, piece.length))) {
            say("write comm error");
            every_record_whole = false;
        }
        zentavol::pause_for(kRecordPause);
    } while (!piece.read_failed);  // a read error ends playback as the end of the file does

    port.close();
    std::fclose(data);
    return every_record_whole && !piece.read_failed ? kStatusOk : kStatusFailure;
}
