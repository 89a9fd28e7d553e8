// Where castling puts the king and the rook: for each colour and side, the
// squares they start on and land on, the squares the king crosses and the one
// square only the rook crosses. This is the only table of castling's squares:
// the move generator's castling rules, making and taking back castling,
// SAN's O-O and O-O-O, the policy encodings and the opening book read it.
//
// A Chess960 board keeps its own king and rook files (CastlingFiles, held by
// the board); chess960_geometry() derives the squares of one right from them.
// The landing squares are those of standard chess: the king on the g- or
// c-file, the rook beside it on the f- or d-file.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "board/bitboard.hpp"
#include "board/piece.hpp"
#include "board/square.hpp"
#include "board/state_word.hpp"

namespace vemla {

struct CastlingGeometry {
    Square king_from, king_to;
    Square rook_from, rook_to;
    // The squares the king crosses, king_to among them, in the order the
    // castling test looks at them: each must be empty and not attacked.
    std::array<Square, 2> crossed;
    // The square beside the queen-side rook, which it crosses alone: it must
    // be empty but may be attacked (0 on the king side).
    Bitboard empty_only;
};

// Indexed [colour][side]: White first, the king side first.
inline constexpr std::array<std::array<CastlingGeometry, 2>, 2> CASTLING_GEOMETRY = {{
    {{{E1, G1, H1, F1, {F1, G1}, 0}, {E1, C1, A1, D1, {C1, D1}, square_bb(B1)}}},
    {{{E8, G8, H8, F8, {F8, G8}, 0}, {E8, C8, A8, D8, {C8, D8}, square_bb(B8)}}},
}};

constexpr const CastlingGeometry& castling_geometry(Colour colour, CastlingSide side) {
    return CASTLING_GEOMETRY[static_cast<std::size_t>(colour)][static_cast<std::size_t>(side)];
}

// The side a king move along its rank castles to: the king side lies toward
// the h-file.
constexpr CastlingSide castling_side_toward(int from, int to) {
    return file_of(to) > file_of(from) ? KING_SIDE : QUEEN_SIDE;
}

// The file the king lands on when castling to side, and the side whose king
// lands on the file of `to` (the queen side for any other file).
constexpr int castling_king_file(CastlingSide side) {
    return file_of(castling_geometry(WHITE, side).king_to);
}
constexpr CastlingSide castling_side_landing_on(int to) {
    return file_of(to) == castling_king_file(KING_SIDE) ? KING_SIDE : QUEEN_SIDE;
}

// How far the king moves along its rank when castling to side (signed).
constexpr int castling_king_step(CastlingSide side) {
    const CastlingGeometry& g = castling_geometry(WHITE, side);
    return g.king_to - g.king_from;
}

static_assert(castling_king_step(KING_SIDE) == 2 && castling_king_step(QUEEN_SIDE) == -2);

// The rook's landing file when castling to side (f or d).
constexpr int castling_rook_file(CastlingSide side) {
    return file_of(castling_geometry(WHITE, side).rook_to);
}

// The home files of a Chess960 board: each colour's king and the rook of each
// of its rights. Only the files of rights that are set mean anything; they are
// set when the position is read and never change while moves are made (a
// right that is lost is cleared in the state word, its file stays).
struct CastlingFiles {
    std::array<std::int8_t, 2> king{4, 4};                             // by colour
    std::array<std::array<std::int8_t, 2>, 2> rook{{{7, 0}, {7, 0}}};  // [colour][side]

    constexpr int king_file(Colour colour) const { return king[static_cast<std::size_t>(colour)]; }
    constexpr int rook_file(Colour colour, CastlingSide side) const {
        return rook[static_cast<std::size_t>(colour)][static_cast<std::size_t>(side)];
    }
    friend bool operator==(const CastlingFiles&, const CastlingFiles&) = default;
};

// The rank a colour castles on: the first for White, the eighth for Black.
constexpr int home_rank_base(Colour colour) { return colour == WHITE ? 0 : 56; }

// The squares from a to b on one rank, both included.
constexpr Bitboard rank_span(int a, int b) {
    if (a > b) std::swap(a, b);
    return ((~Bitboard{0}) >> (63 - b)) & ((~Bitboard{0}) << a);
}

// One Chess960 right: the king and rook squares, the squares that must be
// empty (everything the king or the rook crosses or lands on, less the two
// castling pieces themselves), and the king's path, its start and landing
// square included, none of which may be attacked.
struct Chess960Geometry {
    int king_from, king_to;
    int rook_from, rook_to;
    Bitboard must_be_empty;
    Bitboard king_path;
};

constexpr Chess960Geometry chess960_geometry(Colour colour, CastlingSide side, int king_file,
                                             int rook_file) {
    const int base = home_rank_base(colour);
    const int king_from = base + king_file, rook_from = base + rook_file;
    const int king_to = base + castling_king_file(side), rook_to = base + castling_rook_file(side);
    const Bitboard castlers = square_bb(king_from) | square_bb(rook_from);
    return {king_from,
            king_to,
            rook_from,
            rook_to,
            (rank_span(king_from, king_to) | rank_span(rook_from, rook_to)) & ~castlers,
            rank_span(king_from, king_to)};
}
constexpr Chess960Geometry chess960_geometry(const CastlingFiles& files, Colour colour,
                                             CastlingSide side) {
    return chess960_geometry(colour, side, files.king_file(colour), files.rook_file(colour, side));
}

// The standard files describe the standard geometry.
static_assert(chess960_geometry(WHITE, KING_SIDE, 4, 7).must_be_empty ==
              (square_bb(F1) | square_bb(G1)));
static_assert(chess960_geometry(BLACK, QUEEN_SIDE, 4, 0).must_be_empty ==
              (square_bb(B8) | square_bb(C8) | square_bb(D8)));
static_assert(chess960_geometry(WHITE, QUEEN_SIDE, 1, 0).king_path ==
              (square_bb(B1) | square_bb(C1)));
static_assert(castling_king_file(KING_SIDE) == 6 && castling_king_file(QUEEN_SIDE) == 2);

}  // namespace vemla
