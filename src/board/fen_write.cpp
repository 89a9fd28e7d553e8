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

void append_chess960_castling(std::string& out, const Board& board, bool shredder) {
    const StateWord word = board.state();
    if (!word.any_castling_right()) out += '-';
    for (const Colour colour : {WHITE, BLACK}) {
        const int base = home_rank_base(colour);
        const Bitboard rooks = board.pieces(colour, ROOK) & (RANK_1 << base);
        for (const CastlingSide side : {KING_SIDE, QUEEN_SIDE}) {
            if (!word.may_castle(colour, side)) continue;
            const int file = board.castling_files.rook_file(colour, side);
            // X-FEN names the side where no rook of the colour stands beyond
            // the castling rook, and the file where one does.
            const Bitboard beyond = side == KING_SIDE ? rooks & ~rank_span(base, base + file)
                                                      : rooks & ~rank_span(base + file, base + 7);
            char letter;
            if (!shredder && !beyond)
                letter = side == KING_SIDE ? 'k' : 'q';
            else
                letter = static_cast<char>('a' + file);
            out += colour == WHITE ? static_cast<char>(letter - 'a' + 'A') : letter;
        }
    }
}

std::string Board::fen(bool shredder) const {
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
    if (chess960)
        append_chess960_castling(out, *this, shredder);
    else
        append_castling(out, word);
    out += ' ';
    append_en_passant(out, word);
    return out;
}

}  // namespace vemla
