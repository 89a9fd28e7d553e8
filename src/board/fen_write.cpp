// Writing a Board as four-field FEN.
#include "board/mod.hpp"

namespace vemla {

void append_castling(std::string& out, StateWord word) {
    // The rights in the fixed order K, Q, k, q.
    if (!word.any_castling_right()) out += '-';
    for (const Colour colour : {WHITE, BLACK}) {
        if (word.may_castle(colour, KING_SIDE)) out += PIECE_LETTERS[piece_of(colour, KING)];
        if (word.may_castle(colour, QUEEN_SIDE)) out += PIECE_LETTERS[piece_of(colour, QUEEN)];
    }
}

void append_en_passant(std::string& out, StateWord word) {
    // Only the side to move's group counts, and only its lowest file.
    if (const int square = word.en_passant_square(); square >= 0) {
        out += SQUARE_NAMES[static_cast<std::size_t>(square)];
    } else {
        out += '-';
    }
}

std::string Board::fen() const {
    std::string out;
    out.reserve(90);
    // Ranks are written from rank 8 down; where pieces overlap (possible after
    // illegal moves) the lowest piece index wins.
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const Bitboard bb = square_bb(8 * rank + file);
            int piece = 0;
            while (piece < 12 && !(bitboards[static_cast<std::size_t>(piece)] & bb)) ++piece;
            if (piece == 12) {
                ++empty;
                continue;
            }
            if (empty) out += static_cast<char>('0' + empty);
            empty = 0;
            out += PIECE_LETTERS[piece];
        }
        if (empty) out += static_cast<char>('0' + empty);
        if (rank) out += '/';
    }

    const StateWord word = state();
    out += word.white_to_move() ? " w " : " b ";
    append_castling(out, word);
    out += ' ';
    append_en_passant(out, word);
    return out;
}

}  // namespace vemla
