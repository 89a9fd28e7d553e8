// Writing a Board as four-field FEN.
#include "board/mod.hpp"

namespace vemla {

void append_castling(std::string& out, std::uint64_t word) {
    if (!(word & state::CASTLING)) out += '-';
    if (word & state::WHITE_KING_SIDE) out += 'K';
    if (word & state::WHITE_QUEEN_SIDE) out += 'Q';
    if (word & state::BLACK_KING_SIDE) out += 'k';
    if (word & state::BLACK_QUEEN_SIDE) out += 'q';
}

void append_en_passant(std::string& out, std::uint64_t word) {
    // Only the side to move's group counts, and only its lowest file.
    const bool white = word & state::WHITE_TO_MOVE;
    const unsigned group = (word >> (white ? state::WHITE_EP_SHIFT : state::BLACK_EP_SHIFT)) & 0xFF;
    if (group) {
        out += static_cast<char>('a' + std::countr_zero(group));
        out += white ? '6' : '3';
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

    const std::uint64_t word = bitboards[STATE];
    const bool white = word & state::WHITE_TO_MOVE;
    out += white ? " w " : " b ";

    append_castling(out, word);
    out += ' ';
    append_en_passant(out, word);
    return out;
}

}  // namespace vemla
