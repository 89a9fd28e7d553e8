// The policy lookup tables against the per-move encoders they are built
// from: every plain move of both colours, and every move the generator gives
// in the test positions two plies deep (castling and promotions included),
// has an index, and the table and the encoders agree on it.
#include "encoding/policy.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

constexpr PolicyScheme SCHEMES[] = {PolicyScheme::LC0, PolicyScheme::ALPHAZERO};

TEST(PolicyTable, PlainMovesMatchTheEncoders) {
    for (const PolicyScheme scheme : SCHEMES)
        for (const Colour mover : {WHITE, BLACK})
            for (int from = 0; from < 64; ++from)
                for (int to = 0; to < 64; ++to)
                    for (const int special : {0, 1, 2}) {
                        const ChessMove move = ChessMove::pack(from, to, special);
                        ASSERT_EQ(policy_table(scheme).index(move, mover),
                                  policy_index(move, mover, scheme))
                            << move.to_string() << " " << name(scheme);
                    }
}

// Checks every legal move of board and of the positions one ply on.
void check_moves(Board& board, int depth) {
    MoveList moves;
    generator().generate(board, moves);
    const Colour mover = board.side_to_move();
    for (const ChessMove move : moves) {
        for (const PolicyScheme scheme : SCHEMES) {
            const int index = policy_table(scheme).index(move, mover);
            ASSERT_GE(index, 0) << board.fen() << " " << move.to_string();
            ASSERT_LT(index, policy_size(scheme));
            ASSERT_EQ(index, policy_index(move, mover, scheme));
            ASSERT_EQ(index, policy_index_of_text(board, move.to_string(), scheme))
                << board.fen() << " " << move.to_string() << " " << name(scheme);
        }
        if (depth > 1) {
            board.push_move(move);
            check_moves(board, depth - 1);
            board.pop_move();
        }
    }
}

TEST(PolicyTable, EveryGeneratedMoveHasItsIndex) {
    int positions = 0;
    for (const char* file : {"perft_standard.epd", "perft_cases.epd"})
        for (const EpdEntry& entry : read_epd(file)) {
            if (entry.fen.empty()) VEMLA_MISSING_DATA("no " << file);
            Board board = Board::from_fen(entry.fen);
            check_moves(board, 2);
            ++positions;
        }
    EXPECT_GT(positions, 10);
}

}  // namespace
}  // namespace vemla::test
