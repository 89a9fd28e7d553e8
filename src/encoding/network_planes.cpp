// The input planes of a position and its line, written as float32 cells.
#include "encoding/network_planes.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "board/line_walk.hpp"
#include "messages.hpp"

namespace vemla {

namespace {

constexpr std::size_t PLANE = 64;
constexpr std::size_t PIECE_PLANES = 12 * PLANE;

// The eight cells of a rank for every value of its byte: bit j is cell j.
constexpr auto RANK_CELLS = [] {
    std::array<std::array<float, 8>, 256> cells{};
    for (std::size_t byte = 0; byte < 256; ++byte)
        for (std::size_t j = 0; j < 8; ++j) cells[byte][j] = static_cast<float>((byte >> j) & 1);
    return cells;
}();

void write_plane(Bitboard bb, float* out) {
    for (std::size_t rank = 0; rank < 8; ++rank)
        std::memcpy(out + 8 * rank, RANK_CELLS[(bb >> (8 * rank)) & 0xFF].data(),
                    8 * sizeof(float));
}

// The twelve piece planes of a position; flip mirrors it by rank and puts
// Black's pieces first (Black's view).
void write_pieces(const std::array<std::uint64_t, 13>& words, bool flip, float* out) {
    for (std::size_t p = 0; p < 12; ++p) {
        const Bitboard bb = words[flip ? (p + 6) % 12 : p];
        write_plane(flip ? __builtin_bswap64(bb) : bb, out + PLANE * p);
    }
}

}  // namespace

PlaneView plane_view_from_str(std::string_view text) {
    if (text == "mover") return PlaneView::MOVER;
    if (text == "board") return PlaneView::BOARD;
    throw InvalidInput(messages::invalid_plane_view(text));
}

void check_plane_history(long long history) {
    if (history < 1 || history > MAX_PLANE_HISTORY)
        throw InvalidInput(messages::invalid_plane_history(history, MAX_PLANE_HISTORY));
}

void write_input_planes(const Board& board, std::size_t history, PlaneView view, float* out) {
    const StateWord state = board.state();
    const bool flip = view == PlaneView::MOVER && state.side_to_move() == BLACK;

    // The current position, then the earlier ones the undo history gives back.
    LineWalk walk(board);
    std::size_t step = 0;
    do write_pieces(walk.position(), flip, out + PIECE_PLANES * step);
    while (++step < history && walk.step_back());
    std::fill(out + PIECE_PLANES * step, out + PIECE_PLANES * history, 0.0f);

    float* const planes = out + PIECE_PLANES * history;
    const auto fill_plane = [&](std::size_t plane, float value) {
        std::fill_n(planes + PLANE * plane, PLANE, value);
    };
    fill_plane(0, state.white_to_move() ? 1.0f : 0.0f);
    for (std::size_t right = 0; right < 4; ++right) {
        // Seen from Black, Black's two rights (bits 3 and 4) come first.
        const std::size_t bit = flip ? (right + 2) % 4 : right;
        fill_plane(1 + right, (state.bits >> (1 + bit)) & 1 ? 1.0f : 0.0f);
    }
    fill_plane(5, 0.0f);
    for (unsigned files = state.en_passant_files(); files; files &= files - 1) {
        const int square =
            StateWord::en_passant_square(state.side_to_move(), std::countr_zero(files));
        planes[PLANE * 5 + static_cast<std::size_t>(flip ? square ^ 56 : square)] = 1.0f;
    }
    // Divided in double and rounded once, as numpy computes clock / 100.
    fill_plane(6, static_cast<float>(static_cast<double>(board.halfmove_clock()) / 100.0));
    fill_plane(7, static_cast<float>(std::min(board.repetitions() - 1, 2)) / 2.0f);
}

}  // namespace vemla
