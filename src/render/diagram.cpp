// The text diagram of a position, and the orientation shared by both pictures.
#include <bit>

#include "board/mod.hpp"
#include "render/picture.hpp"
#include "failure.hpp"
#include "messages.hpp"

namespace vemla {

Colour orientation_from_str(std::string_view text) {
    if (text == "white") return WHITE;
    if (text == "black") return BLACK;
    throw InvalidInput(messages::invalid_orientation(text));
}

std::string diagram(const PositionWords& words, Colour orientation) {
    const bool flipped = orientation == BLACK;
    const std::array<std::uint16_t, 64> masks = pieces_on_squares(words);
    std::string out;
    out.reserve(256);
    for (int row = 0; row < 8; ++row) {
        const int rank = flipped ? row : 7 - row;
        out += static_cast<char>('1' + rank);
        for (int column = 0; column < 8; ++column) {
            const int file = flipped ? 7 - column : column;
            const unsigned mask = masks[static_cast<std::size_t>(8 * rank + file)];
            out += ' ';
            // Like FEN, a stacked square shows its lowest piece index.
            out += mask ? PIECE_LETTERS[std::countr_zero(mask)] : '.';
        }
        out += '\n';
    }
    out += ' ';
    for (int column = 0; column < 8; ++column) {
        out += ' ';
        out += static_cast<char>(flipped ? 'h' - column : 'a' + column);
    }
    out += '\n';

    const StateWord word{words[STATE]};
    out += word.white_to_move() ? "white" : "black";
    out += " to move, castling ";
    append_castling(out, word);
    out += ", en passant ";
    append_en_passant(out, word);
    // Squares holding several pieces, in square order, whatever the orientation.
    bool first = true;
    for (int square = 0; square < 64; ++square) {
        const unsigned mask = masks[static_cast<std::size_t>(square)];
        if (std::popcount(mask) < 2) continue;
        out += first ? ", stacked " : " ";
        first = false;
        out += SQUARE_NAMES[square];
        out += '=';
        for (unsigned rest = mask; rest; rest &= rest - 1)
            out += PIECE_LETTERS[std::countr_zero(rest)];
    }
    return out;
}

}  // namespace vemla
