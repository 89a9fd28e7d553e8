// Move encodings for policy networks: every move of a position maps to one
// index of a fixed-size output vector, seen from the side to move.
//
// LC0 (1858 entries): 0..1791 are, for each from-square a1..h8 in square
// order, the to-squares a queen or a knight could reach from it on an empty
// board, in square order; 1792..1857 are the promotions to queen, rook and
// bishop (that letter order) from a7..h7 to one file left, straight, one file
// right. A knight promotion uses the plain from-to entry; castling is the
// king taking its own rook (e1h1, e1a1).
//
// ALPHAZERO (8 x 8 x 73 = 4672 entries): (file * 8 + rank) * 73 + plane of
// the from-square; planes 0..55 are queen-like moves, (distance - 1) * 8 +
// direction; 56..63 knight moves; 64..72 under-promotions, 64 + 3 * (file
// step + 1) + {knight 0, bishop 1, rook 2}. A queen promotion uses its
// queen-like plane; castling is the king's two-square move.
//
// On a Chess960 board both schemes encode castling as the king's move onto
// its own rook, the move text it has there: LC0's from-to entry, AlphaZero's
// queen-like plane along the rank. No other move of the king lands on its own
// rook, so the entry is the castling move's alone.
//
// Black's moves are mirrored by rank first (e7e5 is encoded as e2e4).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "board/mod.hpp"
#include "chess_move/mod.hpp"

namespace vemla {

enum class PolicyScheme : std::uint8_t { LC0, ALPHAZERO };

inline constexpr int LC0_POLICY_SIZE = 1858;
inline constexpr int ALPHAZERO_POLICY_SIZE = 4672;

constexpr int policy_size(PolicyScheme scheme) {
    return scheme == PolicyScheme::LC0 ? LC0_POLICY_SIZE : ALPHAZERO_POLICY_SIZE;
}

// "lc0" or "alphazero"; anything else throws InvalidInput.
PolicyScheme policy_scheme_from_str(std::string_view name);
std::string_view name(PolicyScheme scheme);

// A move reduced to what the encodings look at, from the mover's view.
// promotion is the kind promoted to (KNIGHT..QUEEN) or PAWN for none.
struct PolicyMove {
    int from;
    int to;
    Kind promotion;
    bool castling;
};

// The index of a move the generator gave for a position with mover to move
// (castling is told by the move's special code 3), or -1 when the scheme has
// no entry for it (never for a move the generator gives: every one is a queen
// or knight step, a promotion from the last rank but one, or castling).
int policy_index(ChessMove move, Colour mover, PolicyScheme scheme, bool chess960 = false);

// One scheme's indices of the plain moves (special codes 0 to 2) by the move
// code's twelve square bits, from + 64 * to, from White's view, computed once
// at compile time; castling and promotions take the out-of-line path. Made
// for the loops over a whole move list, where policy_index's work per move
// cost about as much as generating the list.
struct PolicyTable {
    std::array<std::int16_t, 4096> plain;
    PolicyScheme scheme;

    // policy_index(move, mover, scheme, chess960).
    int index(ChessMove move, Colour mover, bool chess960 = false) const {
        // Mirroring both squares by rank flips bits 3-5 of each.
        constexpr std::uint16_t MIRROR_RANKS = 070 | 070 << 6;
        if (move.special() < ChessMove::CASTLING) [[likely]]
            return plain[(move.value ^ (mover == WHITE ? 0 : MIRROR_RANKS)) & 0x0FFF];
        return policy_index(move, mover, scheme, chess960);
    }
};
const PolicyTable& policy_table(PolicyScheme scheme);

// The index of move text for the board's side to move. A king move of two
// files along its rank is read as castling, and so is the king taking its own
// rook (on a Chess960 board only the latter is castling, encoded as written). Throws InvalidInput for text that is not a move or that the scheme
// cannot encode; the board is only read.
int policy_index_of_text(const Board& board, std::string_view text, PolicyScheme scheme);

// The move text an index stands for on this board: the scheme's move seen
// from the side to move, mirrored back for Black. Castling comes back as the
// king's two-square move (on a Chess960 board as the king taking its rook) and promotions with their letter when the board's
// mover has a king or pawn on the from-square. Throws InvalidInput for an
// index outside the scheme.
std::string policy_text(const Board& board, int index, PolicyScheme scheme);

// Throws InvalidInput unless 0 <= index < policy_size(scheme).
void check_policy_index(long long index, PolicyScheme scheme);

// The scheme's move at index, from the mover's view (White's squares); no
// board, so castling and implied promotions are not told apart. Throws
// InvalidInput for an index outside the scheme.
PolicyMove policy_move(int index, PolicyScheme scheme);

}  // namespace vemla
