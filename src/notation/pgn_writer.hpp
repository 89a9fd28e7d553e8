// One game as PGN text: the tag pairs (the seven standard tags first, in
// their standard order), the movetext in SAN with move numbers, wrapped at 80
// columns, and the result.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "chess_move/mod.hpp"
#include "move_generator/mod.hpp"
#include "notation/annotations.hpp"
#include "notation/pgn_tree.hpp"

namespace vemla {

using PgnTag = std::pair<std::string_view, std::string_view>;

// The seven tags every exported game carries, in their order, and the value
// written for one that is not given.
inline constexpr std::pair<std::string_view, std::string_view> SEVEN_TAG_ROSTER[] = {
    {"Event", "?"}, {"Site", "?"},  {"Date", "????.??.??"}, {"Round", "?"},
    {"White", "?"}, {"Black", "?"}, {"Result", "*"},
};

// Lines of movetext are at most this long.
inline constexpr std::size_t PGN_LINE_WIDTH = 80;

// Writes the game whose moves are played from fen (none: a "FEN" tag's
// value, else the standard starting position); NULL_MOVE_CODE is written "--".
// Tags are written in the order given after the seven standard ones; "SetUp" and "FEN" are written from the
// starting position, with its move counters (0 and 1 where the FEN has none).
// result is "1-0", "0-1", "1/2-1/2" or "*"; none means the "Result" tag's
// value, or "*". Throws InvalidInput (nothing written) for: a move that is not
// legal where it is played (naming its ply, the move and the position), an
// unknown result, a "Result" tag that disagrees with result, a tag name that
// is not a PGN symbol or given twice, a tag value holding a line break, and a
// FEN that cannot be read (its messages) or whose move counters are not
// numbers.
//
// notes, when given, has one entry per move (moves.size() plies) and is
// written in the common exporters' form: a move's NAGs after it ("$1"), then
// one comment with the free text and the commands ("{ Good. [%eval 0.17]
// [%clk 0:03:00] }"); the comment of index 0 stands before the first move. A
// Black move after a comment carries its number ("1... e5"). A comment longer
// than a line is cut between its commands, and its text at single spaces into
// comments of their own, which the reader joins back with a space. Refused
// (InvalidInput, nothing written), as they would read back otherwise: a "}" in
// a comment's text or commands, "[%" in its text, and commands that are not
// "[%...]" commands parted by blanks.
std::string write_pgn(const MoveGenerator& generator, std::span<const PgnTag> tags,
                      std::span<const ChessMove> moves, std::optional<std::string_view> fen,
                      std::optional<std::string_view> result,
                      const notation::Annotations* notes = nullptr);

// The same for a game with variations: the tree's moves, each line in turn
// and the alternatives to a move in parentheses after it ("1. e4 ( 1. d4 d5 )
// 1... e5"), a Black move numbered where it starts a line, follows a comment
// or resumes after a variation. notes, when given, is indexed by node (as
// the tree keeps them: tree.size() - 1 plies); each variation's starting
// comment stands before its first move. Written without recursion, however
// deep the variations nest.
std::string write_pgn(const MoveGenerator& generator, std::span<const PgnTag> tags,
                      const pgn::GameTree& tree, std::optional<std::string_view> fen,
                      std::optional<std::string_view> result,
                      const notation::Annotations* notes = nullptr);

}  // namespace vemla
