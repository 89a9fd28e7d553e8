// The input planes against the positions of the line they describe: each
// step's pieces are those of the board as it stood that many plies before,
// kept by copying it at every ply; Black's view is checked against the
// board's own reflection.
#include <cmath>

#include "encoding/network_planes.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

using Cells = std::vector<float>;

Cells planes_of(const Board& board, std::size_t history, PlaneView view) {
    Cells cells(input_plane_count(history) * 64, 7.0f);
    write_input_planes(board, history, view, cells.data());
    return cells;
}

// The 768 piece cells of a position as the board stands, by their definition.
Cells pieces_of(const Board& board) {
    Cells cells(768);
    for (std::size_t p = 0; p < 12; ++p)
        for (std::size_t k = 0; k < 64; ++k)
            cells[64 * p + k] = static_cast<float>((board.bitboards[p] >> k) & 1);
    return cells;
}

Cells step_of(const Cells& planes, std::size_t step) {
    return Cells(planes.begin() + static_cast<std::ptrdiff_t>(768 * step),
                 planes.begin() + static_cast<std::ptrdiff_t>(768 * (step + 1)));
}

// Plane i of the eight after the pieces, as one value when it is constant.
float state_value(const Cells& planes, std::size_t history, std::size_t i) {
    const auto first = planes.begin() + static_cast<std::ptrdiff_t>(768 * history + 64 * i);
    const float value = *first;
    for (auto it = first; it != first + 64; ++it)
        if (*it != value) return NAN;
    return value;
}

// A line with captures (d4xe5, Nxe5), castling both ways, a double step that
// allows en passant, and a promotion, with a copy of the board at every ply.
std::vector<Board> line_with_copies() {
    std::vector<Board> boards{Board::from_fen(DEFAULT_FEN)};
    for (const char* text :
         {"d2d4", "e7e5", "d4e5", "b8c6", "g1f3", "g8f6", "c1f4", "f8c5", "e2e3", "e8g8",
          "b1c3", "d7d6", "d1d2", "c6e5", "e1c1", "b7b5", "f3e5", "b5b4", "a2a4", "b4a3"}) {
        Board next = boards.back();
        next.push_move(mv(text));
        boards.push_back(next);
    }
    return boards;
}

TEST(InputPlanes, InitialPositionFromEitherView) {
    const Board board = Board::from_fen(DEFAULT_FEN);
    for (const PlaneView view : {PlaneView::BOARD, PlaneView::MOVER}) {
        const Cells planes = planes_of(board, 1, view);
        ASSERT_EQ(planes.size(), 20u * 64);
        EXPECT_EQ(step_of(planes, 0), pieces_of(board));
        for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(state_value(planes, 1, i), 1.0f) << i;
        for (std::size_t i = 5; i < 8; ++i) EXPECT_EQ(state_value(planes, 1, i), 0.0f) << i;
    }
}

TEST(InputPlanes, EveryStepIsThePositionThatManyPliesBackAcrossCapturesAndCastling) {
    const std::vector<Board> boards = line_with_copies();
    const Board& last = boards.back();
    const Board before = last;
    for (const std::size_t history : {1u, 2u, 8u, 20u, 21u, 30u}) {
        const Cells planes = planes_of(last, history, PlaneView::BOARD);
        for (std::size_t s = 0; s < history; ++s) {
            // Before the start of the line: zero planes.
            const Cells expected =
                s < boards.size() ? pieces_of(boards[boards.size() - 1 - s]) : Cells(768, 0.0f);
            ASSERT_EQ(step_of(planes, s), expected) << "history " << history << " step " << s;
        }
    }
    EXPECT_EQ(last, before);  // read, not changed
}

TEST(InputPlanes, BlacksViewIsTheReflectedBoardAtEveryStep) {
    const std::vector<Board> boards = line_with_copies();
    // Black to move after 19 plies: 20 positions of its line, 4 more asked for.
    const Board& board = boards[19];
    ASSERT_FALSE(board.white_to_move());
    const std::size_t history = 24;
    const Cells planes = planes_of(board, history, PlaneView::MOVER);
    for (std::size_t s = 0; s < history; ++s) {
        Cells expected(768, 0.0f);
        if (s < 20) {
            // Every step mirrored for the current mover, whoever moved then.
            Board reflected = boards[19 - s];
            reflected.reflect();
            expected = pieces_of(reflected);
        }
        ASSERT_EQ(step_of(planes, s), expected) << "step " << s;
    }
    EXPECT_EQ(state_value(planes, history, 0), 0.0f);  // still says Black is to move
}

TEST(InputPlanes, CastlingRightsOfTheMoverComeFirstInItsView) {
    const Board board = Board::from_fen("r3k2r/8/8/8/8/8/8/R3K2R b Kq -");
    const Cells board_view = planes_of(board, 2, PlaneView::BOARD);
    const Cells mover_view = planes_of(board, 2, PlaneView::MOVER);
    const float board_rights[] = {1, 0, 0, 1}, mover_rights[] = {0, 1, 1, 0};  // K Q k q, k q K Q
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(state_value(board_view, 2, 1 + i), board_rights[i]) << i;
        EXPECT_EQ(state_value(mover_view, 2, 1 + i), mover_rights[i]) << i;
    }
    // So does the reflected board, seen as it stands.
    Board reflected = board;
    reflected.reflect();
    const Cells seen = planes_of(reflected, 2, PlaneView::BOARD);
    for (std::size_t i = 1; i < 8; ++i)
        EXPECT_EQ(state_value(seen, 2, i), state_value(mover_view, 2, i)) << i;
    EXPECT_EQ(state_value(seen, 2, 0), 1.0f);
    EXPECT_EQ(state_value(mover_view, 2, 0), 0.0f);
}

TEST(InputPlanes, EnPassantClockAndRepetitions) {
    // After b5b4 and a2a4, Black may take on a3: the target square in both views.
    const std::vector<Board> boards = line_with_copies();
    const Board& ep = boards[19];
    const Cells board_view = planes_of(ep, 1, PlaneView::BOARD);
    const Cells mover_view = planes_of(ep, 1, PlaneView::MOVER);
    for (std::size_t k = 0; k < 64; ++k) {
        EXPECT_EQ(board_view[768 + 64 * 5 + k],
                  k == static_cast<std::size_t>(sq("a3")) ? 1.0f : 0.0f);
        EXPECT_EQ(mover_view[768 + 64 * 5 + k],
                  k == static_cast<std::size_t>(sq("a6")) ? 1.0f : 0.0f);
    }
    EXPECT_EQ(state_value(board_view, 1, 6), 0.0f);  // a pawn just moved

    Board board = Board::from_full_fen("4k3/8/8/8/8/8/8/4K1N1 w - - 37 50");
    EXPECT_EQ(state_value(planes_of(board, 1, PlaneView::BOARD), 1, 6),
              static_cast<float>(37 / 100.0));
    EXPECT_EQ(state_value(planes_of(board, 1, PlaneView::BOARD), 1, 7), 0.0f);
    for (int round = 1; round <= 3; ++round) {
        for (const char* text : {"g1f3", "e8d8", "f3g1", "d8e8"}) board.push_move(mv(text));
        EXPECT_EQ(state_value(planes_of(board, 1, PlaneView::MOVER), 1, 7),
                  round == 1 ? 0.5f : 1.0f);
    }
    EXPECT_EQ(state_value(planes_of(board, 1, PlaneView::BOARD), 1, 6),
              static_cast<float>(49 / 100.0));
}

TEST(InputPlanes, ReflectForgetsTheEarlierPositions) {
    Board board = line_with_copies().back();
    board.reflect();
    const Cells planes = planes_of(board, 3, PlaneView::BOARD);
    EXPECT_EQ(step_of(planes, 0), pieces_of(board));
    EXPECT_EQ(step_of(planes, 1), Cells(768, 0.0f));
    EXPECT_EQ(step_of(planes, 2), Cells(768, 0.0f));
}

TEST(InputPlanes, ArgumentsAreChecked) {
    EXPECT_EQ(plane_view_from_str("mover"), PlaneView::MOVER);
    EXPECT_EQ(plane_view_from_str("board"), PlaneView::BOARD);
    EXPECT_EQ(failure_of<InvalidInput>([] { plane_view_from_str("Mover"); }),
              "Invalid view: expected \"mover\" or \"board\", got \"Mover\"");
    check_plane_history(1);
    check_plane_history(MAX_PLANE_HISTORY);
    for (const long long bad : {0LL, -1LL, MAX_PLANE_HISTORY + 1})
        EXPECT_EQ(failure_of<InvalidInput>([&] { check_plane_history(bad); }),
                  "Invalid history: expected a number of positions from 1 to 1024, got " +
                      std::to_string(bad));
}

}  // namespace
}  // namespace vemla::test
