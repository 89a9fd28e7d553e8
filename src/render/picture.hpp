// Pictures of a position: a text diagram for terminals and logs, and an SVG
// board for notebooks and web pages. Both work on a copy of the thirteen words
// of a Board (twelve piece bitboards and the state word), so a caller can take
// the copy quickly and build the picture without holding on to the Board.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include "board/piece.hpp"

namespace vemla {

using PositionWords = std::array<std::uint64_t, 13>;

// Both pictures take an orientation: the colour whose side of the board is at
// the bottom. BLACK turns the board round: rank 1 on top, files running h to a.
// "white" or "black"; anything else throws InvalidInput.
Colour orientation_from_str(std::string_view text);

// Bit i set when piece bitboard i holds the square. More than one bit is only
// possible after illegal moves have stacked pieces.
constexpr unsigned pieces_on(const PositionWords& words, int square) {
    unsigned mask = 0;
    for (unsigned piece = 0; piece < 12; ++piece)
        if ((words[piece] >> square) & 1) mask |= 1u << piece;
    return mask;
}

// pieces_on for every square at once, in one pass over the set bits.
inline std::array<std::uint16_t, 64> pieces_on_squares(const PositionWords& words) {
    std::array<std::uint16_t, 64> masks{};
    for (unsigned piece = 0; piece < 12; ++piece)
        for (std::uint64_t rest = words[piece]; rest; rest &= rest - 1)
            masks[static_cast<std::size_t>(std::countr_zero(rest))] |=
                static_cast<std::uint16_t>(1u << piece);
    return masks;
}

// Eight rank lines (rank label, then one character per square: the FEN letter
// of the lowest piece index there, "." when empty), a line of file letters,
// and a status line: side to move, castling rights, en-passant square, and
// every square holding more than one piece. Lines end in "\n" except the last.
std::string diagram(const PositionWords& words, Colour orientation);

inline constexpr long long SVG_DEFAULT_SIZE = 360;
inline constexpr long long SVG_MIN_SIZE = 64;
inline constexpr long long SVG_MAX_SIZE = 4096;

// A standalone SVG document, size x size pixels: the squares, file and rank
// labels round the edge, and every piece of the twelve bitboards drawn with
// simple vector shapes. A square holding several pieces shows all of them,
// side by side at a smaller scale. Throws InvalidInput for a size outside
// SVG_MIN_SIZE to SVG_MAX_SIZE.
std::string svg(const PositionWords& words, long long size, Colour orientation);

}  // namespace vemla
