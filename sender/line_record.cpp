#include "line_record.h"

namespace zentavol {

LinePiece read_line_piece(std::FILE* data, LineBuffer& buffer) {
    LinePiece piece;
    while (piece.length < kMaxPieceLength) {
        const int byte = std::getc(data);
        if (byte == EOF) {
            piece.read_failed = std::ferror(data) != 0;
            break;
        }
        buffer[piece.length++] = static_cast<std::uint8_t>(byte);
        if (byte == '\n') {
            break;
        }
    }
    return piece;
}

std::span<const std::uint8_t> make_line_record(LineBuffer& buffer, std::size_t piece_length) {
    buffer[piece_length] = kRecordTerminator;
    return {buffer.data(), piece_length + 1};
}

}  // namespace zentavol
