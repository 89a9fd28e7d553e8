// Constant tables of the move generator: relevance masks, shifts, the magic
// index, and step targets for kings, knights and pawn attacks. All derived at
// compile time except the magic multipliers (magics.hpp).
#pragma once

#include <array>
#include <cstdint>

#include "board/bitboard.hpp"
#include "move_generator/magics.hpp"

namespace vemla {

inline constexpr std::size_t TABLE_SIZE = 4096;

// Order matters: it is the order in which step moves are produced.
inline constexpr std::array<std::int16_t, 8> KING_OFFSETS = {-8, 8, 1, -1, 9, 7, -9, -7};
inline constexpr std::array<std::int16_t, 8> KNIGHT_OFFSETS = {-17, -15, -6, 10, 17, 15, 6, -10};

// The step rule: sq + offset is on the board and the file moves by at most limit.
constexpr bool step_ok(int sq, int offset, int limit) {
    const int to = sq + offset;
    if (to < 0 || to > 63) return false;
    const int df = file_of(to) - file_of(sq);
    return df <= limit && df >= -limit;
}

// The rook's relevance mask: its file and rank without sq and without the
// edge squares a ray ends on anyway. 0x0001010101010100 is the a-file from a2
// to a7, shifted to sq's file; 0x7E is b1 to g1, shifted to sq's rank.
constexpr Bitboard rook_mask(int sq) {
    return ((0x0001010101010100ull << file_of(sq)) | (0x7Eull << (8 * rank_of(sq)))) &
           ~square_bb(sq);
}

// The bishop's relevance mask ("cross" of diagonals): the diagonals through
// sq without sq and without the board's edge squares.
constexpr Bitboard get_bishop_cross(int sq) {
    constexpr Bitboard EDGES = 0xFF818181818181FFull;
    Bitboard mask = 0;
    for (const int step : {9, 7, -9, -7}) {
        for (int p = sq; step_ok(p, step, 1) && !(square_bb(p + step) & EDGES); p += step)
            mask |= square_bb(p + step);
    }
    return mask;
}

// Slow ray walk: the squares a slider on sq attacks under occ; a blocker is
// attacked whatever its colour. Used to build the tables and to check them.
constexpr Bitboard slider_attacks(int sq, Bitboard occ, bool rook) {
    constexpr std::array<int, 4> ROOK_STEPS = {8, -8, 1, -1};
    constexpr std::array<int, 4> BISHOP_STEPS = {9, -9, 7, -7};
    Bitboard attacks = 0;
    for (const int step : rook ? ROOK_STEPS : BISHOP_STEPS) {
        for (int p = sq; step_ok(p, step, 1); p += step) {
            attacks |= square_bb(p + step);
            if (occ & square_bb(p + step)) break;
        }
    }
    return attacks;
}

template <typename F>
constexpr std::array<Bitboard, 64> by_square(F f) {
    std::array<Bitboard, 64> table{};
    for (int sq = 0; sq < 64; ++sq) table[static_cast<std::size_t>(sq)] = f(sq);
    return table;
}

// A rook's and a bishop's lines from each square on an empty board.
inline constexpr auto ROOK_LINES = by_square([](int sq) { return slider_attacks(sq, 0, true); });
inline constexpr auto BISHOP_LINES = by_square([](int sq) { return slider_attacks(sq, 0, false); });

inline constexpr auto ROOK_MASKS = by_square(rook_mask);
inline constexpr auto BISHOP_MASKS = by_square(get_bishop_cross);

constexpr std::array<std::uint16_t, 64> shifts_of(const std::array<Bitboard, 64>& masks) {
    std::array<std::uint16_t, 64> shifts{};
    for (std::size_t sq = 0; sq < 64; ++sq)
        shifts[sq] = static_cast<std::uint16_t>(64 - std::popcount(masks[sq]));
    return shifts;
}
inline constexpr auto ROOK_SHIFTS = shifts_of(ROOK_MASKS);
inline constexpr auto BISHOP_SHIFTS = shifts_of(BISHOP_MASKS);
static_assert(ROOK_SHIFTS[0] == 52 && ROOK_SHIFTS[1] == 53 && ROOK_SHIFTS[9] == 54);
static_assert(BISHOP_SHIFTS[0] == 58 && BISHOP_SHIFTS[18] == 57 && BISHOP_SHIFTS[27] == 55);

constexpr std::size_t rook_index(int sq, Bitboard occ) {
    const auto s = static_cast<std::size_t>(sq);
    return static_cast<std::size_t>(((occ & ROOK_MASKS[s]) * ROOK_MAGICS[s]) >>
                                    (ROOK_SHIFTS[s] & 63));
}
constexpr std::size_t bishop_index(int sq, Bitboard occ) {
    const auto s = static_cast<std::size_t>(sq);
    return static_cast<std::size_t>(((occ & BISHOP_MASKS[s]) * BISHOP_MAGICS[s]) >>
                                    (BISHOP_SHIFTS[s] & 63));
}

// Targets of each offset in table order, with the offsets that leave the
// board dropped.
struct Steps {
    std::array<std::uint8_t, 8> to;
    int count;
};

constexpr std::array<Steps, 64> steps_of(const std::array<std::int16_t, 8>& offsets, int limit) {
    std::array<Steps, 64> table{};
    for (int sq = 0; sq < 64; ++sq) {
        Steps& s = table[static_cast<std::size_t>(sq)];
        for (const int o : offsets)
            if (step_ok(sq, o, limit))
                s.to[static_cast<std::size_t>(s.count++)] = static_cast<std::uint8_t>(sq + o);
    }
    return table;
}
inline constexpr auto KING_STEPS = steps_of(KING_OFFSETS, 1);
inline constexpr auto KNIGHT_STEPS = steps_of(KNIGHT_OFFSETS, 2);

template <std::size_t N>
constexpr Bitboard step_set(int sq, const std::array<std::int16_t, N>& offsets, int limit) {
    Bitboard set = 0;
    for (const int o : offsets)
        if (step_ok(sq, o, limit)) set |= square_bb(sq + o);
    return set;
}
inline constexpr auto KING_ATTACKS =
    by_square([](int sq) { return step_set(sq, KING_OFFSETS, 1); });
inline constexpr auto KNIGHT_ATTACKS =
    by_square([](int sq) { return step_set(sq, KNIGHT_OFFSETS, 2); });
// Squares from which a pawn of the colour named attacks sq: Black pawns
// attack downwards, so they stand above (sq + 7, sq + 9).
inline constexpr auto BLACK_PAWN_ATTACKERS = by_square([](int sq) {
    return step_set(sq, std::array<std::int16_t, 2>{7, 9}, 1);
});
inline constexpr auto WHITE_PAWN_ATTACKERS = by_square([](int sq) {
    return step_set(sq, std::array<std::int16_t, 2>{-7, -9}, 1);
});

}  // namespace vemla
