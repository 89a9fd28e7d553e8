#include "move_generator/perft.hpp"

#include "move_generator/legal_fast.hpp"

namespace vemla {

int count_legal_moves(const MoveGenerator& generator, Board& board) {
    if (legal_fast::applies(board)) return legal_fast::count(generator, board);
    MoveList moves;
    generator.generate_reference(board, moves);
    return moves.size;
}

namespace {

// Makes each move of a list that generate() gave for a position in which no
// square holds two pieces, and calls below() after each. The mover is then the
// piece of the move's group (a queen's moves sit among the rook or bishop
// pass), which is what push_move would find, so make_move skips that search.
template <typename Below>
void play_each(Board& board, const MoveList& moves, Below below) {
    const Colour side = board.side_to_move();
    const Bitboard enemy = board.pieces(opposite(side));
    const Bitboard rooks = board.bitboards[static_cast<std::size_t>(piece_of(side, ROOK))];
    const Bitboard bishops = board.bitboards[static_cast<std::size_t>(piece_of(side, BISHOP))];
    const auto& ends = moves.group_end;
    const auto move = [&](int i) { return moves.moves[static_cast<std::size_t>(i)]; };
    int i = 0;
    for (; i < ends[0]; ++i) board.make_move<KING>(move(i), piece_of(side, KING), enemy), below();
    for (; i < ends[1]; ++i) board.make_move<KNIGHT>(move(i), piece_of(side, KNIGHT), enemy), below();
    for (; i < ends[2]; ++i) board.make_move<PAWN>(move(i), piece_of(side, PAWN), enemy), below();
    for (; i < ends[4]; ++i) {
        const Bitboard from = square_bb(move(i).from());
        if (rooks & from)
            board.make_move<ROOK>(move(i), piece_of(side, ROOK), enemy);
        else if (bishops & from)
            board.make_move<BISHOP>(move(i), piece_of(side, BISHOP), enemy);
        else
            board.make_move<QUEEN>(move(i), piece_of(side, QUEEN), enemy);
        below();
    }
}

}  // namespace

std::uint64_t perft(const MoveGenerator& generator, Board& board, int depth) {
    if (depth <= 0) return 1;
    if (depth == 1) return static_cast<std::uint64_t>(count_legal_moves(generator, board));
    MoveList moves;
    generator.generate(board, moves);
    std::uint64_t nodes = 0;
    const auto below = [&] {
        nodes += perft(generator, board, depth - 1);
        board.pop_move();
    };
    if (legal_fast::applies(board)) {
        play_each(board, moves, below);
        return nodes;
    }
    for (const ChessMove move : moves) {
        board.push_move(move);
        below();
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
