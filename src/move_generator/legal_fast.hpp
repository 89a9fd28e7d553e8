// Legality without making moves. The reference filter (generate.cpp) makes
// every candidate, tests the mover's king and takes the candidate back. For
// the positions named by applies() this unit reaches the same verdict from the
// position as it stands: the pieces that give check, the pieces pinned to the
// king, and the attacks on the squares the king may step to. The few moves
// whose effect on the king is awkward to reason about (en passant, castling
// without its rook) are still decided by making them.
#pragma once

#include "board/mod.hpp"
#include "move_generator/mod.hpp"

namespace vemla::legal_fast {

// True when no square is held by two piece bitboards and the side to move has
// exactly one king. Only then is a made move exactly "one piece goes from
// `from` to `to` and the enemy piece on `to`, if any, is removed", which is
// what the reasoning here relies on.
bool applies(const Board& board);

// Keeps the candidates of list (as MoveGenerator::candidates gathered them)
// after which the king is not attacked, in their order, and updates the group
// ends. Requires applies(board). The board is only changed while one of the
// awkward moves is tried, and ends as it started.
void filter(const MoveGenerator& generator, Board& board, MoveList& list);

// The number of moves filter would keep, counted without building the list.
// Requires applies(board).
int count(const MoveGenerator& generator, Board& board);

}  // namespace vemla::legal_fast
