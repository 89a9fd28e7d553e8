// Writing a Board as four-field FEN.
#include "board/mod.hpp"

namespace vemla {

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
    const bool white = word.white_to_move();
    out += white ? " w " : " b ";

    // The rights in the fixed order K, Q, k, q.
    if (!word.any_castling_right()) out += '-';
    for (const Colour colour : {WHITE, BLACK}) {
        if (word.may_castle(colour, KING_SIDE)) out += PIECE_LETTERS[piece_of(colour, KING)];
        if (word.may_castle(colour, QUEEN_SIDE)) out += PIECE_LETTERS[piece_of(colour, QUEEN)];
    }
    out += ' ';

    // Only the side to move's group counts, and only its lowest file.
    if (const unsigned files = word.en_passant_files()) {
        out += static_cast<char>('a' + std::countr_zero(files));
        out += white ? '6' : '3';
    } else {
        out += '-';
    }
    return out;
}

}  // namespace vemla
