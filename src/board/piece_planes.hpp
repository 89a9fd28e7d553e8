// The plane encoding of a position: twelve planes of 64 cells, one plane per
// piece bitboard in piece-index order, cell k set where square k holds that
// piece.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vemla {

// 12 x 64 cells, plane-major (cell 64 * p + k): 1 where bit k of word p is set.
inline constexpr std::size_t PLANE_CELLS = 12 * 64;
using Planes = std::array<std::uint8_t, PLANE_CELLS>;
void expand_planes(const std::uint64_t* words, std::uint8_t* cells);
inline void expand_planes(const std::uint64_t* words, Planes& cells) {
    expand_planes(words, cells.data());
}

}  // namespace vemla
