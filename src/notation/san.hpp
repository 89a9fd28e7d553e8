// Standard algebraic notation (SAN): "Nf3", "exd5", "O-O", "e8=Q+".
//
// Writing names a legal move the way the common PGN exporters do. Reading
// accepts what real game files carry and resolves the text to the one legal
// move it names. Both are defined on the list of legal moves (the reference);
// parse_san resolves most texts faster from the attack tables, with the same
// result, and sends odd positions to the reference (san_fast.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "board/mod.hpp"
#include "chess_move/mod.hpp"
#include "move_generator/mod.hpp"

namespace vemla {

// Why SAN text was refused.
enum class SanRejection : std::uint8_t { NONE, MALFORMED, NULL_MOVE, NO_MATCH, AMBIGUOUS };

// The legal move the SAN text names in board's position; move is set only on
// NONE. Accepts what real files carry: check and mate suffixes whether right
// or wrong, annotation suffixes (! ? !! ?? !? ?!), 0-0 and 0-0-0, an "e.p."
// suffix, promotions written e8=Q or e8Q, more disambiguation than needed
// (Ngf3, Ng1f3) and a missing x. Piece letters are upper case only ("b" is a
// file). The board may be used to try moves and ends exactly as it started.
SanRejection parse_san(const MoveGenerator& generator, Board& board, std::string_view san,
                       ChessMove& move);

// Appends the SAN of a legal move (with + or #) to out; returns false, out
// untouched, if the move is not legal. A move is matched by its squares and,
// for a promotion, its piece; codes 1-3 need not be given (e1g1 with code 0
// names castling, e5d6 en passant). The board ends exactly as it started.
bool append_san(const MoveGenerator& generator, Board& board, ChessMove move, std::string& out);

// What the text says, before any position is looked at. Squares and files
// are -1 where the text does not give them.
struct SanPattern {
    Kind kind = PAWN;
    int from_file = -1;
    int from_rank = -1;
    int to = -1;
    int promotion = 0;        // ChessMove special code 4-7, or 0
    int castling_file = -1;   // the king's destination file (6 or 2) for O-O / O-O-O
    bool en_passant = false;  // an "e.p." suffix was given
};

// Reads the text into pattern: NONE, MALFORMED or NULL_MOVE. pattern is
// complete only on NONE.
SanRejection read_san(std::string_view san, SanPattern& pattern);

// The reference resolution: the pattern is matched against the whole list of
// legal moves. NONE (move set), NO_MATCH or AMBIGUOUS.
SanRejection resolve_san_reference(const MoveGenerator& generator, Board& board,
                                   const SanPattern& pattern, ChessMove& move);

// Whether no two piece bitboards overlap and each side has exactly one king.
// Legal moves keep both unless one takes a king (a set-up position may leave
// the side not to move in check), so a board that passes and is then moved
// only by the moves parse_san returns, none taking a king, passes in every
// position it reaches.
bool sound_for_san(const Board& board);

// parse_san for a board that sound_for_san accepts, without checking that
// again: the same result. On NONE kind is set to the mover's kind (the
// board's piece on the move's from-square), for Board::make_move.
SanRejection parse_san_sound(const MoveGenerator& generator, Board& board, std::string_view san,
                             ChessMove& move, int& kind);

// parse_san and append_san through the list of legal moves only: the
// definition the faster paths of the two are held to, and where they send
// the positions they do not handle (castling, several pieces on a square, a
// side without a king or with several).
SanRejection parse_san_reference(const MoveGenerator& generator, Board& board, std::string_view san,
                                 ChessMove& move);
bool append_san_reference(const MoveGenerator& generator, Board& board, ChessMove move,
                          std::string& out);

// Appends the SAN of the legal move m of a piece of `kind` (with + or #) to
// out, where both ways of append_san end. others holds the squares of the
// other pieces of that kind with a legal move to the same square (read for
// pieces only). The board ends exactly as it started.
void write_san(const MoveGenerator& generator, Board& board, ChessMove m, int kind, Bitboard others,
               std::string& out);

// The message for a refusal of san in the position fen: names the reason, the
// text and the position.
std::string san_rejection_message(SanRejection rejection, std::string_view san,
                                  std::string_view fen);
// The message for a move that append_san refuses: names the move and the position.
std::string illegal_move_message(ChessMove move, std::string_view fen);

}  // namespace vemla
