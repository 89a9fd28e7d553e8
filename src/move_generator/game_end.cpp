// Check and the end of a game: checkmate, stalemate, insufficient material,
// the move rules and repetition.
#include "move_generator/mod.hpp"

namespace vemla {

std::string_view name(Outcome outcome) {
    switch (outcome) {
        case Outcome::CHECKMATE: return "checkmate";
        case Outcome::STALEMATE: return "stalemate";
        case Outcome::INSUFFICIENT_MATERIAL: return "insufficient_material";
        case Outcome::SEVENTYFIVE_MOVES: return "seventyfive_moves";
        case Outcome::FIVEFOLD_REPETITION: return "fivefold_repetition";
        case Outcome::FIFTY_MOVES: return "fifty_moves";
        case Outcome::THREEFOLD_REPETITION: return "threefold_repetition";
        case Outcome::ONGOING: break;
    }
    return {};
}

bool MoveGenerator::is_check(const Board& board) const {
    const Colour side = board.side_to_move();
    const Bitboard kings = board.pieces(side, KING);
    return kings && square_in_check(board, lsb(kings), side);
}

Outcome MoveGenerator::outcome(Board& board, bool claim_draw) const {
    if (!has_legal_move(board)) return is_check(board) ? Outcome::CHECKMATE : Outcome::STALEMATE;
    if (board.insufficient_material()) return Outcome::INSUFFICIENT_MATERIAL;
    // The move rules and repetitions, each at most one walk back to the last
    // capture or pawn move.
    const std::uint64_t clock = board.halfmove_clock();
    if (clock >= 150) return Outcome::SEVENTYFIVE_MOVES;
    const int repetitions = board.repetitions();
    if (repetitions >= 5) return Outcome::FIVEFOLD_REPETITION;
    if (claim_draw) {
        if (clock >= 100) return Outcome::FIFTY_MOVES;
        if (repetitions >= 3) return Outcome::THREEFOLD_REPETITION;
    }
    return Outcome::ONGOING;
}

}  // namespace vemla
