// Input planes for a network: the pieces of the position and of the positions
// before it in the board's line, then eight planes of the state, as float32
// cells [plane][rank][file], rank 1 first (cell 64 * plane + square).
//
//   planes 12 s .. 12 s + 11  pieces P N B R Q K p n b r q k, s plies before
//                             the current position (s = 0 .. history - 1);
//                             zero where the line starts later
//   plane  12 history + 0     ones where White is to move
//                      + 1-4  ones for each castling right K, Q, k, q
//                      + 5    a one on the en-passant target square
//                      + 6    the half-move clock / 100
//                      + 7    repetitions before this one: 0, 0.5, 1 for none,
//                             one, two or more
//
// The MOVER view sees everything from the side to move: with Black to move,
// every position (the earlier ones too) is mirrored by rank and its colours
// swapped, so the mover's pieces come first, and the castling planes are
// k, q, K, Q. Plane 12 history still tells who is to move.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "board/mod.hpp"

namespace vemla {

enum class PlaneView : std::uint8_t { BOARD, MOVER };

// "board" or "mover"; anything else throws InvalidInput.
PlaneView plane_view_from_str(std::string_view text);

inline constexpr std::size_t STATE_PLANES = 8;
inline constexpr long long MAX_PLANE_HISTORY = 1024;

constexpr std::size_t input_plane_count(std::size_t history) { return 12 * history + STATE_PLANES; }

// Throws InvalidInput unless 1 <= history <= MAX_PLANE_HISTORY.
void check_plane_history(long long history);

// Writes input_plane_count(history) * 64 cells into out. The board is only read.
void write_input_planes(const Board& board, std::size_t history, PlaneView view, float* out);

}  // namespace vemla
