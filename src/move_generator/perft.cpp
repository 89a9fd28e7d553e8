#include "move_generator/perft.hpp"

#include "move_generator/legality.hpp"

namespace vemla {

int count_legal_moves(const MoveGenerator& generator, Board& board) {
    return legality::count(generator, board);
}

std::uint64_t perft(const MoveGenerator& generator, Board& board, int depth) {
    if (depth <= 0) return 1;
    if (depth == 1) return static_cast<std::uint64_t>(legality::count(generator, board));
    MoveList moves;
    generator.generate(board, moves);
    std::uint64_t nodes = 0;
    const auto below = [&](int) {
        nodes += perft(generator, board, depth - 1);
        board.pop_move();
    };
    if (no_square_held_twice(board)) {
        legality::GroupMaker(board).make_each(board, moves, below, [](int) {});
        return nodes;
    }
    for (int i = 0; i < moves.size; ++i) {
        board.push_move(moves[i]);
        below(i);
    }
    return nodes;
}

std::vector<std::pair<ChessMove, std::uint64_t>> divide(const MoveGenerator& generator,
                                                        Board& board, int depth) {
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
