// The half-move clock and the move number, derived from the undo records and
// the two counters of the position the history starts from.
#include "board/mod.hpp"

namespace vemla {

namespace {

constexpr unsigned WHITE_PIECES = 0x03F;
constexpr unsigned BLACK_PIECES = 0xFC0;
constexpr unsigned PAWNS = 1u << WHITE_PAWN | 1u << BLACK_PAWN;

// Whether the move an undo record stands for restarts the clock. A move saves
// the mover's bitboard and, where there is one, the captured piece's, the
// castling rook's or the promotion piece's. So it moved or took a pawn when
// it saved a pawn bitboard, and it captured when it saved bitboards of both
// colours; castling saves a king and a rook of one colour.
constexpr bool restarts_clock(unsigned pushed_mask) {
    return (pushed_mask & PAWNS) || ((pushed_mask & WHITE_PIECES) && (pushed_mask & BLACK_PIECES));
}

}  // namespace

std::uint64_t Board::halfmove_clock() const {
    const std::size_t plies = undo_stack.size();
    for (std::size_t r = plies; r-- > 0;)
        if (restarts_clock(undo_stack[r].pushed_mask)) return plies - 1 - r;
    return start_halfmove_clock + plies;
}

std::uint64_t Board::fullmove_number() const {
    // Every move flips the side to move, so the side the history starts with
    // follows from the current side and the number of plies.
    const std::size_t plies = undo_stack.size();
    const bool black_started = white_to_move() == (plies % 2 == 1);
    return start_fullmove_number + (plies + black_started) / 2;
}

std::string Board::full_fen(bool shredder) const {
    std::string out = fen(shredder);
    out += ' ';
    out += std::to_string(halfmove_clock());
    out += ' ';
    out += std::to_string(fullmove_number());
    return out;
}

}  // namespace vemla
