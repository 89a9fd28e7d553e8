// The state word, bitboards[12] of a Board: everything about a position that
// is not where the pieces stand. Only this file knows its layout:
//   bit  0      white to move (clear: black to move)
//   bits 1-4    castling rights K, Q, k, q
//   bits 5-12   bit 5 + f: white to move and may capture en passant on file f
//   bits 13-20  bit 13 + f: black to move and may capture en passant on file f
//   bits 21-63  carry nothing; every operation keeps them as they are
// The en-passant square is kept as a file only; its rank follows from the side
// to move. There is no move clock or move number.
#pragma once

#include <bit>
#include <cstdint>

#include "board/piece.hpp"

namespace vemla {

enum CastlingSide : int { KING_SIDE, QUEEN_SIDE };

struct StateWord {
    std::uint64_t bits = 0;

    static constexpr std::uint64_t WHITE_TO_MOVE = 1;
    static constexpr std::uint64_t ALL_CASTLING_RIGHTS = 0x1E;
    static constexpr std::uint64_t ALL_EN_PASSANT = 0xFFFFull << 5;  // both groups
    static constexpr std::uint64_t HIGH_BITS = ~std::uint64_t{0x1FFFFF};

    // K is bit 1, Q bit 2, k bit 3, q bit 4.
    static constexpr std::uint64_t castling_right(Colour colour, CastlingSide side) {
        return std::uint64_t{2} << (2 * colour + side);
    }
    static constexpr std::uint64_t castling_rights(Colour colour) {
        return castling_right(colour, KING_SIDE) | castling_right(colour, QUEEN_SIDE);
    }
    // The first bit of the en-passant group read when `to_move` is to move.
    static constexpr int en_passant_shift(Colour to_move) { return 5 + 8 * to_move; }
    static constexpr std::uint64_t en_passant_bit(Colour to_move, int file) {
        return std::uint64_t{1} << (en_passant_shift(to_move) + file);
    }

    constexpr bool white_to_move() const { return bits & WHITE_TO_MOVE; }
    constexpr Colour side_to_move() const { return white_to_move() ? WHITE : BLACK; }
    constexpr bool may_castle(Colour colour, CastlingSide side) const {
        return bits & castling_right(colour, side);
    }
    constexpr bool any_castling_right() const { return bits & ALL_CASTLING_RIGHTS; }
    // Bit f set: the side to move may capture en passant on file f. The group
    // of the side not to move is not read.
    constexpr unsigned en_passant_files() const {
        return static_cast<unsigned>(bits >> en_passant_shift(side_to_move())) & 0xFF;
    }

    // The square a pawn of to_move captures on en passant on file f: on the
    // sixth rank for White, the third for Black.
    static constexpr int en_passant_square(Colour to_move, int file) {
        return 8 * (to_move == WHITE ? 5 : 2) + file;
    }
    // The en-passant square of the side to move's lowest file, or -1 for none.
    constexpr int en_passant_square() const {
        const unsigned files = en_passant_files();
        return files ? en_passant_square(side_to_move(), std::countr_zero(files)) : -1;
    }
    // The square of the pawn that a capture en passant onto `to` takes when
    // to_move moves: one rank behind `to`, as seen by the side to move. Kept
    // on the board (modulo 64) for the illegal moves push_move also makes.
    static constexpr int en_passant_victim(int to, Colour to_move) {
        return (to + (to_move == WHITE ? 56 : 8)) & 63;
    }

    constexpr void clear(std::uint64_t mask) { bits &= ~mask; }
    constexpr void set(std::uint64_t mask) { bits |= mask; }
    constexpr void pass_turn() { bits ^= WHITE_TO_MOVE; }

    // The same situation seen from the other side: the side to move flips,
    // K,Q (bits 1-2) trade places with k,q (bits 3-4), and the two en-passant
    // groups trade places as blocks of eight, so a chance to capture en
    // passant on file f stays one for the new side to move.
    constexpr StateWord reflected() const {
        const std::uint64_t side = (bits & WHITE_TO_MOVE) ^ WHITE_TO_MOVE;
        const std::uint64_t castling = ((bits >> 2) & 0x6) | ((bits << 2) & 0x18);
        const std::uint64_t ep = ((bits >> 8) & (0xFFull << 5)) | ((bits << 8) & (0xFFull << 13));
        return StateWord{(bits & HIGH_BITS) | side | castling | ep};
    }

    friend constexpr bool operator==(StateWord, StateWord) = default;
};

static_assert(StateWord::castling_right(WHITE, KING_SIDE) == 1 << 1 &&
              StateWord::castling_right(BLACK, QUEEN_SIDE) == 1 << 4);
static_assert(StateWord::en_passant_bit(BLACK, 3) == 1 << 16);
static_assert(StateWord::en_passant_square(WHITE, 4) == 44 &&
              StateWord::en_passant_square(BLACK, 0) == 16);
static_assert(StateWord::en_passant_victim(44, WHITE) == 36 &&
              StateWord::en_passant_victim(20, BLACK) == 28);
static_assert(StateWord{0x1E | (1 << 17)}.reflected() == StateWord{0x1F | (1 << 9)});

}  // namespace vemla
