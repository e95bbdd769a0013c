// The sender's pieces: cutting a data file into line pieces and forming the line record that
// carries each one on the line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace zentavol {

// A 100-byte line buffer read with a limit of 99: at most 98 bytes of data and the terminator.
inline constexpr std::size_t kLineBufferSize = 100;
inline constexpr std::size_t kLineReadLimit = 99;
inline constexpr std::size_t kMaxPieceLength = kLineReadLimit - 1;
inline constexpr std::uint8_t kRecordTerminator = 0x00;

using LineBuffer = std::array<std::uint8_t, kLineBufferSize>;

struct LinePiece {
    std::size_t length = 0;  // 0: nothing more to send
    bool read_failed = false;
};

// Reads the next piece of the data file into the buffer: up to and including a LF, or
// kMaxPieceLength bytes, or to the end of the file, whichever comes first. The file is read as
// bytes; nothing is translated, and the next read goes on where this one stopped.
LinePiece read_line_piece(std::FILE* data, LineBuffer& buffer);

// Forms the line record in place behind the piece: every byte of the piece, zero bytes
// included, then one terminator.
std::span<const std::uint8_t> make_line_record(LineBuffer& buffer, std::size_t piece_length);

}  // namespace zentavol
