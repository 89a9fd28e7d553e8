// Bitboard vocabulary shared by the board and the move generator.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>

#include "board/square.hpp"

namespace vemla {

using Bitboard = std::uint64_t;

constexpr Bitboard square_bb(int sq) { return Bitboard{1} << sq; }

inline constexpr Bitboard FILE_A = 0x0101010101010101ull;
inline constexpr Bitboard FILE_H = FILE_A << 7;
inline constexpr Bitboard RANK_1 = 0xFFull;
inline constexpr Bitboard RANK_3 = RANK_1 << 16;
inline constexpr Bitboard RANK_4 = RANK_1 << 24;
inline constexpr Bitboard RANK_5 = RANK_1 << 32;
inline constexpr Bitboard RANK_6 = RANK_1 << 40;
inline constexpr Bitboard RANK_8 = RANK_1 << 56;
inline constexpr Bitboard DARK_SQUARES = 0xAA55AA55AA55AA55ull;  // a1 is dark
constexpr int lsb(Bitboard b) { return std::countr_zero(b); }

// The entry of a table indexed by square.
template <typename T>
constexpr const T& at(const std::array<T, 64>& table, int sq) {
    return table[static_cast<std::size_t>(sq)];
}

// 8x8 picture, rank 8 on top, for diagnostics and test failure messages.
inline std::string to_pretty_string(Bitboard b) {
    std::string out;
    for (int rank = 7; rank >= 0; --rank) {
        for (int file = 0; file < 8; ++file) {
            out += (b >> (8 * rank + file)) & 1 ? 'X' : '.';
            out += file < 7 ? ' ' : '\n';
        }
    }
    return out;
}

}  // namespace vemla
