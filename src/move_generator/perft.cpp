#include "move_generator/perft.hpp"

#include "move_generator/legal_fast.hpp"

namespace vemla {

int count_legal_moves(const MoveGenerator& generator, Board& board) {
    if (legal_fast::applies(board)) return legal_fast::count(generator, board);
    MoveList moves;
    generator.generate_reference(board, moves);
    return moves.size;
}

std::uint64_t perft(const MoveGenerator& generator, Board& board, int depth) {
    if (depth <= 0) return 1;
    if (depth == 1) return static_cast<std::uint64_t>(count_legal_moves(generator, board));
    MoveList moves;
    generator.generate(board, moves);
    std::uint64_t nodes = 0;
    for (const ChessMove move : moves) {
        board.push_move(move);
        nodes += perft(generator, board, depth - 1);
        board.pop_move();
    }
    return nodes;
}

std::vector<std::pair<ChessMove, std::uint64_t>> divide(const MoveGenerator& generator, Board& board, int depth) {
    MoveList moves;
    generator.generate(board, moves);
    std::vector<std::pair<ChessMove, std::uint64_t>> counts;
    counts.reserve(static_cast<std::size_t>(moves.size));
    for (const ChessMove move : moves) {
        board.push_move(move);
        counts.emplace_back(move, perft(generator, board, depth - 1));
        board.pop_move();
    }
    return counts;
}

}  // namespace vemla
