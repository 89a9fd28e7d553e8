// Perft: the number of leaf nodes of the legal move tree below a position,
// the standard check of a move generator against known counts.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "board/mod.hpp"
#include "move_generator/mod.hpp"

namespace vemla {

// The number of legal moves of the side to move, the length of the list
// generate() would give, counted without building it where the position
// allows.
int count_legal_moves(const MoveGenerator& generator, Board& board);

// Leaf nodes at depth: 1 at depth 0, the legal move count at depth 1. The
// board ends as it started.
std::uint64_t perft(const MoveGenerator& generator, Board& board, int depth);

// Perft below each legal move of the position, in generation order (depth
// at least 1: the counts are perft(depth - 1) after each move).
std::vector<std::pair<ChessMove, std::uint64_t>> divide(const MoveGenerator& generator,
                                                        Board& board, int depth);

}  // namespace vemla
