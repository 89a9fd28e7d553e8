// A walk back through the line a board's undo history describes: each undo
// record gives back the state word and the bitboards its move saved, so the
// walk rebuilds the position before each move, most recent first, without
// touching the board.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "board/mod.hpp"

namespace vemla {

class LineWalk {
public:
    explicit LineWalk(const Board& board)
        : board_(board), position_(board.bitboards), record_(board.undo_stack.size()) {
        for (std::size_t i = 0; i < 12; ++i) unread_[i] = board.history[i].size();
    }

    // Steps to the position before the next move back, calling
    // on_restore(earlier, later) with both values of every bitboard the move
    // changed; false, with nothing changed, at the start of the line.
    template <typename OnRestore>
    bool step_back(OnRestore&& on_restore) {
        if (record_ == 0) return false;
        const UndoRecord& record = board_.undo_stack[--record_];
        position_[STATE] = record.saved_state;
        for (unsigned mask = record.pushed_mask; mask; mask &= mask - 1) {
            const auto piece = static_cast<std::size_t>(std::countr_zero(mask));
            const std::uint64_t saved = board_.history[piece][--unread_[piece]];
            on_restore(saved, position_[piece]);
            position_[piece] = saved;
        }
        return true;
    }
    bool step_back() {
        return step_back([](std::uint64_t, std::uint64_t) {});
    }

    // The twelve piece bitboards and the state word of the position reached.
    const std::array<std::uint64_t, 13>& position() const { return position_; }

private:
    const Board& board_;
    std::array<std::uint64_t, 13> position_;
    std::array<std::size_t, 12> unread_{};
    std::size_t record_;
};

}  // namespace vemla
