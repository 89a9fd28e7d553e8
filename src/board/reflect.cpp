// Reflection: the colour-swapped mirror image of a position, in place.
#include <utility>

#include "board/mod.hpp"

namespace vemla {

void Board::reflect() {
    // The counters keep their values, from now on as those of the start of
    // the history. Read before the side to move changes, which they depend on.
    start_halfmove_clock = halfmove_clock();
    start_fullmove_number = fullmove_number();

    // Each white bitboard trades places with the black one of the same kind.
    // Byte k of a bitboard is rank k + 1, so reversing the bytes mirrors the
    // board top to bottom: square s goes to s ^ 56, same file, rank 9 - r.
    for (int k = PAWN; k <= KING; ++k) {
        const auto kind = static_cast<Kind>(k);
        std::uint64_t& white = word(piece_of(WHITE, kind));
        std::uint64_t& black = word(piece_of(BLACK, kind));
        const std::uint64_t old_white = white;
        white = __builtin_bswap64(black);
        black = __builtin_bswap64(old_white);
    }
    bitboards[STATE] = state().reflected().bits;
    // Files stay where they are; the colours trade their home files.
    std::swap(castling_files.king[0], castling_files.king[1]);
    std::swap(castling_files.rook[0], castling_files.rook[1]);

    // Moves made before the reflection can no longer be taken back.
    for (auto& stack : history) stack.release();
    undo_stack.release();
}

}  // namespace vemla
