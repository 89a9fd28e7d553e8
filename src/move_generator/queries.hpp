// Questions about one move in one position: is it legal, does it capture,
// does it give check. Each answers without building the list of legal moves
// where it can, and leaves the board as it found it.
#pragma once

#include "board/mod.hpp"
#include "chess_move/mod.hpp"
#include "move_generator/match.hpp"
#include "move_generator/mod.hpp"

namespace vemla {

// Whether the generator's list for board holds a move written like move.
// The reference: it builds the whole list and looks.
bool move_is_legal_reference(const MoveGenerator& generator, Board& board, ChessMove move);
// The same answer, decided from the move alone where the position allows
// (legality::fast_path_applies): the move must be one of the generator's candidates
// and keep the king safe. Other positions go to the reference.
bool move_is_legal(const MoveGenerator& generator, Board& board, ChessMove move);

// Whether pushing move takes a piece off the board: an opponent of the mover
// stands on the destination, or a pawn's move to another file captures en
// passant. False when the from-square is empty.
bool move_is_capture(const Board& board, ChessMove move);

// Whether the side to move after move is in check. The move is made and
// taken back; false when the from-square is empty.
bool move_gives_check(const MoveGenerator& generator, Board& board, ChessMove move);

// The FEN letter of the piece on square ('\0' for none); with pieces stacked
// on one square, the first in piece order, as fen() writes it.
char piece_letter_at(const Board& board, int square);

}  // namespace vemla
