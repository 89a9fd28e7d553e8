// Draw rules that depend on the position and its line alone: repetition,
// counted from the undo history, and insufficient material.
#include "board/mod.hpp"

namespace vemla {

namespace {

constexpr Bitboard DARK_SQUARES = 0xAA55AA55AA55AA55ull;  // a1 is dark

int piece_count(const std::array<std::uint64_t, 13>& bb) {
    int count = 0;
    for (std::size_t i = 0; i < 12; ++i) count += std::popcount(bb[i]);
    return count;
}

}  // namespace

int Board::repetitions() const {
    // Walk back through the line: each undo record gives back the state word
    // and the bitboards its move saved, so the walk rebuilds the position
    // before each move, most recent first, without touching the board.
    std::array<std::uint64_t, 13> position = bitboards;
    std::array<std::size_t, 12> unread{};
    for (std::size_t i = 0; i < 12; ++i) unread[i] = history[i].size();

    // A move never gives castling rights back and never adds a piece bit, so
    // walking back both only grow: once either differs from the current
    // position, no earlier position can equal it.
    const std::uint64_t rights = bitboards[STATE] & state::CASTLING;
    const int pieces = piece_count(bitboards);
    int earlier_pieces = pieces;
    int count = 1;
    for (std::size_t r = undo_stack.size(); r-- > 0;) {
        const UndoRecord& record = undo_stack[r];
        position[STATE] = record.saved_state;
        for (unsigned mask = record.pushed_mask; mask; mask &= mask - 1) {
            const auto piece = static_cast<std::size_t>(std::countr_zero(mask));
            const std::uint64_t saved = history[piece][--unread[piece]];
            earlier_pieces += std::popcount(saved) - std::popcount(position[piece]);
            position[piece] = saved;
        }
        if ((position[STATE] & state::CASTLING) != rights || earlier_pieces != pieces) break;
        count += position == bitboards;
    }
    return count;
}

bool Board::insufficient_material() const {
    const auto& bb = bitboards;
    if (bb[WHITE_PAWN] | bb[WHITE_ROOK] | bb[WHITE_QUEEN] | bb[BLACK_PAWN] | bb[BLACK_ROOK] | bb[BLACK_QUEEN])
        return false;
    const int knights = std::popcount(bb[WHITE_KNIGHT]) + std::popcount(bb[BLACK_KNIGHT]);
    const Bitboard bishops = bb[WHITE_BISHOP] | bb[BLACK_BISHOP];
    if (knights) return knights == 1 && !bishops;
    return !(bishops & DARK_SQUARES) || !(bishops & ~DARK_SQUARES);
}

}  // namespace vemla
