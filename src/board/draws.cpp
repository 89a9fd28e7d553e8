// Draw rules that depend on the position and its line alone: repetition,
// counted from the undo history, and insufficient material.
#include "board/line_walk.hpp"
#include "board/mod.hpp"

namespace vemla {

namespace {

constexpr bool at_most_one_bit(Bitboard b) { return !(b & (b - 1)); }

// popcount(earlier) - popcount(later). Most moves change a bitboard by one bit
// gained and one lost, which needs no count; the full count is the rare path.
int count_difference(Bitboard earlier, Bitboard later) {
    const Bitboard gained = earlier & ~later;
    const Bitboard lost = later & ~earlier;
    if (at_most_one_bit(gained) && at_most_one_bit(lost)) return (gained != 0) - (lost != 0);
    return std::popcount(gained) - std::popcount(lost);
}

}  // namespace

int Board::repetitions() const {
    LineWalk walk(*this);
    // A move never gives castling rights back and never adds a piece bit, so
    // walking back both only grow: once either differs from the current
    // position, no earlier position can equal it.
    const std::uint64_t rights = bitboards[STATE] & StateWord::ALL_CASTLING_RIGHTS;
    int added_pieces = 0;  // piece bits in the earlier position beyond the current one's
    int count = 1;
    while (walk.step_back([&](std::uint64_t earlier, std::uint64_t later) {
        added_pieces += count_difference(earlier, later);
    })) {
        const std::array<std::uint64_t, 13>& position = walk.position();
        if ((position[STATE] & StateWord::ALL_CASTLING_RIGHTS) != rights || added_pieces != 0)
            break;
        // The state word first: it differs at every other step (the side to move).
        count += position[STATE] == bitboards[STATE] && position == bitboards;
    }
    return count;
}

bool Board::insufficient_material() const {
    const auto both = [&](Kind kind) { return pieces(WHITE, kind) | pieces(BLACK, kind); };
    if (both(PAWN) | both(ROOK) | both(QUEEN)) return false;
    // Counted per colour: two knights sharing a square are still two knights.
    const int knights = std::popcount(pieces(WHITE, KNIGHT)) + std::popcount(pieces(BLACK, KNIGHT));
    const Bitboard bishops = both(BISHOP);
    if (knights) return knights == 1 && !bishops;
    return !(bishops & DARK_SQUARES) || !(bishops & ~DARK_SQUARES);
}

}  // namespace vemla
