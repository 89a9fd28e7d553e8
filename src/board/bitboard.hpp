// Bitboard vocabulary shared by the board and the move generator.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

#include "board/square.hpp"

namespace vemla {

using Bitboard = std::uint64_t;

constexpr Bitboard square_bb(int sq) { return Bitboard{1} << sq; }
constexpr int lsb(Bitboard b) { return std::countr_zero(b); }

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
