// The per-side constants of pawn moves: the two capture steps in the order
// they are generated, the push step, and the ranks (0 = rank 1) from which a
// pawn promotes, makes its double step, and may capture en passant.
#pragma once

namespace vemla {

struct PawnRules {
    int capture1, capture2, push;
    int promotion_rank, double_rank, ep_rank;
};
inline constexpr PawnRules WHITE_PAWNS{7, 9, 8, 6, 1, 4};
inline constexpr PawnRules BLACK_PAWNS{-7, -9, -8, 1, 6, 3};

}  // namespace vemla
