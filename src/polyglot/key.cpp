// The Polyglot key of a Board.
#include "polyglot/key.hpp"

#include "board/mod.hpp"

namespace vemla {

namespace {

// The piece entries rearranged by this board's piece index, so the key is
// one lookup per set bit.
constexpr std::size_t PIECE_ENTRIES = 12 * 64;
constexpr std::array<std::uint64_t, PIECE_ENTRIES> PIECE_KEYS = [] {
    std::array<std::uint64_t, PIECE_ENTRIES> keys{};
    for (int piece = 0; piece < 12; ++piece)
        for (std::size_t square = 0; square < 64; ++square)
            keys[64 * static_cast<std::size_t>(piece) + square] =
                POLYGLOT_RANDOM[64 * polyglot_piece(piece) + square];
    return keys;
}();

}  // namespace

std::uint64_t Board::zobrist() const {
    // Every set bit of every piece word counts, so stacked pieces (after
    // illegal moves) still give a defined key.
    std::uint64_t key = 0;
    for (std::size_t piece = 0; piece < 12; ++piece) {
        const std::uint64_t* const keys = PIECE_KEYS.data() + 64 * piece;
        for (Bitboard b = bitboards[piece]; b; b &= b - 1) key ^= keys[lsb(b)];
    }

    const StateWord word = state();
    // Castling bits 1-4 are K, Q, k, q: the format's order.
    for (unsigned rights = static_cast<unsigned>(word.bits >> 1) & 0xF; rights;
         rights &= rights - 1)
        key ^=
            POLYGLOT_RANDOM[POLYGLOT_CASTLING + static_cast<std::size_t>(std::countr_zero(rights))];

    // En passant counts only where a pawn of the side to move stands beside
    // the square the double-stepping pawn reached, ready to capture it.
    if (const int square = word.en_passant_square(); square >= 0) {
        const int file = file_of(square);
        // The pawn that made the double step.
        const int target = StateWord::en_passant_victim(square, word.side_to_move());
        const Bitboard target_bb = square_bb(target);
        const Bitboard beside = ((target_bb << 1) & ~FILE_A) | ((target_bb >> 1) & ~FILE_H);
        const Bitboard own_pawns = pieces(word.side_to_move(), PAWN);
        if (beside & own_pawns)
            key ^= POLYGLOT_RANDOM[POLYGLOT_EN_PASSANT + static_cast<std::size_t>(file)];
    }

    if (word.white_to_move()) key ^= POLYGLOT_RANDOM[POLYGLOT_TURN];
    return key;
}

}  // namespace vemla
