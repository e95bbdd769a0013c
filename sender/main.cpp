// zentavol-send: plays a data file out to a serial port, one line record a second.
#include <cstdio>

#include "command_line.h"
#include "line_record.h"
#include "process_setup.h"
#include "serial_port.h"

namespace {

using namespace zentavol;

constexpr cli::ProgramText kProgram{
    .name = "zentavol-send",
    .usage = "usage zentavol COM datafile",
    .help =
        "Plays datafile out to the serial port COM (9600 bit/s, 8N1, XON/XOFF, DTR and RTS\n"
        "on), one line record a second: each line (a longer one in pieces of 98 bytes)\n"
        "followed by a zero byte. Stop it with Ctrl+C.\n"
        "zentavol-send --list shows the serial ports that this system has.",
    .operands = 2,
};
constexpr std::chrono::milliseconds kRecordPause{1000};

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
    prepare_console();
    if (const auto status = cli::answer_without_running(kProgram, argc, argv)) {
        return *status;
    }

    SerialPort port;
    if (!port.open(argv[1])) {
        cli::say("error open COM");
        return cli::kStatusFailure;
    }
    std::FILE* data = open_data_file(argv[2]);
    if (data == nullptr) {
        cli::say("cannot find datafile");
        return cli::kStatusFailure;
    }
    cli::say("Press CtrlC to break;");
    port.configure();

    const PrecisePauses precise_pauses;
    bool every_record_whole = true;
    LineBuffer line{};
    LinePiece piece;
    do {
        piece = read_line_piece(data, line);
        if (piece.length == 0) {
            break;
        }
        if (!port.write(make_line_record(line, piece.length))) {
            cli::say("write comm error");
            every_record_whole = false;
        }
        pause_for(kRecordPause);
    } while (!piece.read_failed);  // a read error ends playback as the end of the file does

    port.close();
    std::fclose(data);
    return every_record_whole && !piece.read_failed ? cli::kStatusOk : cli::kStatusFailure;
}
