// Check and the end of a game: checkmate, stalemate, insufficient material.
#include "move_generator/mod.hpp"

namespace vemla {

std::string_view name(Outcome outcome) {
    switch (outcome) {
        case Outcome::CHECKMATE: return "checkmate";
        case Outcome::STALEMATE: return "stalemate";
        case Outcome::INSUFFICIENT_MATERIAL: return "insufficient_material";
        case Outcome::ONGOING: break;
    }
    return {};
}

bool MoveGenerator::is_check(const Board& board) const {
    const Colour side = board.side_to_move();
    const Bitboard kings = board.pieces(side, KING);
    return kings && square_in_check(board, lsb(kings), side);
}

Outcome MoveGenerator::outcome(Board& board) const {
    if (!has_legal_move(board)) return is_check(board) ? Outcome::CHECKMATE : Outcome::STALEMATE;
    return board.insufficient_material() ? Outcome::INSUFFICIENT_MATERIAL : Outcome::ONGOING;
}

}  // namespace vemla
