// The move counters: reading them, and deriving them from the undo records.
#include "test_support.hpp"

namespace vemla::test {
namespace {

TEST(Counters, ReadFullFenRefusesWithoutThrowingAndKeepsTheBoard) {
    Board board = Board::from_full_fen("8/8/8/8/8/8/8/K6k w - - 3 9");
    const Board before = board;
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 b - - 1x", board),
              FenRejection::HALFMOVE_CLOCK);
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 b - - 1 x", board), FenRejection::MOVE_NUMBER);
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 x - - 1 1", board), FenRejection::SIDE_TO_MOVE);
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 w", board), FenRejection::NO_CASTLING);
    EXPECT_EQ(board, before);
    EXPECT_EQ(failure_of<InvalidInput>([] { Board::from_full_fen("8/8/8/8/8/8/8/8 b - - 1 -"); }),
              "Invalid fen: Invalid move number");
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 b - -", board), FenRejection::NONE);
    EXPECT_EQ(board.full_fen(), "8/8/8/8/8/8/8/8 b - - 0 1");
}

TEST(Counters, ReadFullFenAcceptsOnlyStandardPositionFields) {
    Board board = Board::from_full_fen("8/8/8/8/8/8/8/K6k w - - 3 9");
    const Board before = board;
    // Nine ranks, a short rank, digits that are not 1 to 8, an unknown letter.
    EXPECT_EQ(Board::read_full_fen("K7/8/8/8/8/8/8/8/8 w - -", board),
              FenRejection::PLACEMENT_SHAPE);
    EXPECT_EQ(Board::read_full_fen("K6/8/8/8/8/8/8/8 w - -", board), FenRejection::PLACEMENT_SHAPE);
    EXPECT_EQ(Board::read_full_fen("K7/8/8/8/8/8/8/08 w - -", board),
              FenRejection::PLACEMENT_CHARACTER);
    EXPECT_EQ(Board::read_full_fen("K7/8/8/8/8/8/8/x7 w - -", board),
              FenRejection::PLACEMENT_CHARACTER);
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 w KQK -", board), FenRejection::CASTLING);
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 w -q -", board), FenRejection::CASTLING);
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 w - e3", board), FenRejection::EN_PASSANT);
    EXPECT_EQ(Board::read_full_fen("8/8/8/8/8/8/8/8 b - e", board), FenRejection::EN_PASSANT);
    EXPECT_EQ(board, before);
    EXPECT_EQ(Board::read_full_fen("4k3/8/8/8/8/8/8/4K3 b qkQK e3 0 1", board), FenRejection::NONE);
    EXPECT_EQ(board.fen(), "4k3/8/8/8/8/8/8/4K3 b KQkq e3");
    // The lenient reader keeps its reading of the same texts.
    EXPECT_EQ(Board::read_fen("K7/8/8/8/8/8/8/8/8 w KQK e3", board), FenRejection::NONE);
    EXPECT_EQ(board.fen(), "8/8/8/8/8/8/8/K7 w KQ e6");
    // The checked constructor refuses even a missing field as input.
    EXPECT_EQ(failure_of<InvalidInput>([] { Board::from_full_fen("8/8/8/8/8/8/8/8 w"); }),
              "Invalid fen: FEN has no castling field");
}

TEST(Counters, FollowPushAndPopWithoutTouchingThem) {
    Board board = Board::from_full_fen("4k3/8/8/8/8/8/4P3/4K1N1 w - - 41 60");
    board.push_move(mv("g1f3"));
    board.push_move(mv("e8d8"));
    EXPECT_EQ(board.full_fen(), "3k4/8/8/8/8/5N2/4P3/4K3 w - - 43 61");
    board.push_move(mv("e2e4"));
    EXPECT_EQ(board.halfmove_clock(), 0u);
    board.pop_move();
    board.pop_move();
    board.pop_move();
    // The start counters are what the FEN said; only the records changed.
    EXPECT_EQ(board, Board::from_full_fen("4k3/8/8/8/8/8/4P3/4K1N1 w - - 41 60"));
    EXPECT_NE(board, Board::from_fen("4k3/8/8/8/8/8/4P3/4K1N1 w - -"));
}

}  // namespace
}  // namespace vemla::test
