// zentavol-send: plays a data file out to a serial port, one line record a second (or after the
// pause asked for).
#include <cstdio>

#include "command_line.h"
#include "line_record.h"
#include "process_setup.h"
#include "sender_options.h"
#include "serial_port.h"

namespace {

using namespace zentavol;

constexpr cli::ProgramText kProgram{
    .name = "zentavol-send",
    .usage = "usage zentavol COM datafile",
    .about =
        "Plays datafile out to the serial port COM, one line record a second: each line (a\n"
        "longer one in pieces of 98 bytes) followed by a zero byte. Stop it with Ctrl+C.",
    .options = "      --line-delay MS  the pause after each record, 0 and up (default 1000)",
    .examples =
        "  zentavol-send -b 115200 -f none /dev/ttyUSB0 commands.txt\n"
        "  zentavol-send --line-delay 250 COM3 data.txt",
    .operands = 2,
};

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
    SenderOptions options;
    const auto option_table = sender_option_table(options);
    const auto command_line = cli::parse_command_line(option_table, argc, argv);
    if (const auto status = cli::answer_without_running(kProgram, command_line)) {
        return *status;
    }

    SerialPort port;
    if (!port.open(command_line.operands[0].c_str())) {
        cli::say("error open COM");
        return cli::kStatusFailure;
    }
    std::FILE* data = open_data_file(command_line.operands[1].c_str());
    if (data == nullptr) {
        cli::say("cannot find datafile");
        return cli::kStatusFailure;
    }
    cli::say("Press CtrlC to break;");
    // Where options asked for settings, they must hold, or nothing is sent.
    if (!options.line.held_by(port.configure(options.line.settings_text().c_str()))) {
        cli::say("error configure COM");
        std::fclose(data);
        return cli::kStatusFailure;
    }

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
        pause_for(options.line_delay);
    } while (!piece.read_failed);  // a read error ends playback as the end of the file does

    port.close();
    std::fclose(data);
    return every_record_whole && !piece.read_failed ? cli::kStatusOk : cli::kStatusFailure;
}
