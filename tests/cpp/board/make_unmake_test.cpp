// Making and taking back moves, copying and reflecting boards.
#include <random>

#include "test_support.hpp"

namespace vemla::test {
namespace {

constexpr std::uint64_t HIGH_BITS = StateWord::HIGH_BITS;  // bits 21-63 carry nothing

// Every history stack holds exactly one entry per undo record that saved it.
void expect_stacks_consistent(const Board& board) {
    std::array<std::size_t, 12> saved{};
    for (const UndoRecord& r : board.undo_stack) {
        ASSERT_EQ(r.pushed_mask & 0xF000, 0) << describe(board);
        const int n = std::popcount(static_cast<unsigned>(r.pushed_mask));
        ASSERT_TRUE(n >= 1 && n <= 3) << describe(board);
        for (std::size_t i = 0; i < 12; ++i) saved[i] += (r.pushed_mask >> i) & 1;
    }
    for (std::size_t i = 0; i < 12; ++i)
        ASSERT_EQ(board.history[i].size(), saved[i]) << describe(board);
}

struct PushCase {
    const char* fen;
    const char* move;
    const char* after;
    std::uint16_t mask;
    std::uint64_t state;
};
void PrintTo(const PushCase& c, std::ostream* out) { *out << c.move << " from " << c.fen; }
class Push : public testing::TestWithParam<PushCase> {};

TEST_P(Push, RecordsExactlyWhatChanges) {
    const auto& c = GetParam();
    // Bits 21-63 of the state word ride along untouched.
    for (const std::uint64_t high : {std::uint64_t{0}, HIGH_BITS}) {
        Board board = Board::from_fen(c.fen);
        board.bitboards[STATE] |= high;
        const Board before = board;
        board.push_move(mv(c.move));
        EXPECT_EQ(board.fen(), c.after) << c.fen << " + " << c.move;
        EXPECT_EQ(board.bitboards[STATE], c.state | high) << std::hex << board.bitboards[STATE];
        ASSERT_EQ(board.undo_stack.size(), 1u);
        EXPECT_EQ(board.undo_stack[0].saved_state, before.bitboards[STATE]);
        EXPECT_EQ(board.undo_stack[0].pushed_mask, c.mask)
            << std::hex << board.undo_stack[0].pushed_mask;
        for (std::size_t i = 0; i < 12; ++i) {
            const bool saved = (c.mask >> i) & 1;
            ASSERT_EQ(board.history[i].size(), saved ? 1u : 0u) << "history " << i;
            if (saved) {
                EXPECT_EQ(board.history[i].back(), before.bitboards[i]) << "history " << i;
            }
        }
        const Board after = board;
        board.pop_move();
        EXPECT_EQ(board, before);

        // Codes 1-3 are informational: the move does the same with any of them.
        const ChessMove plain = mv(c.move);
        if (plain.special() == 0) {
            for (int code = 1; code <= 3; ++code) {
                Board other = before;
                other.push_move(ChessMove::pack(plain.from(), plain.to(), code));
                EXPECT_EQ(other, after) << "code " << code;
            }
        }
    }
}

constexpr const char* START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
constexpr const char* CASTLE_W = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -";
constexpr const char* CASTLE_B = "r3k2r/8/8/8/8/8/8/R3K2R b KQkq -";

INSTANTIATE_TEST_SUITE_P(
    MakeUnmake, Push,
    testing::Values(
        // Pawn steps; the side-to-move bit flips whoever moved.
        PushCase{START, "e2e4", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3", 0x0001,
                 0x1E | (1u << 17)},
        PushCase{START, "e2e3", "rnbqkbnr/pppppppp/8/8/8/4P3/PPPP1PPP/RNBQKBNR b KQkq -", 0x0001,
                 0x1E},
        PushCase{START, "e2e4q", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3", 0x0001,
                 0x1E | (1u << 17)},
        PushCase{START, "e7e5", "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR b KQkq -", 0x0040,
                 0x21E},
        // Castling, both sides and colours; the rook moves only if it is there.
        PushCase{CASTLE_W, "e1g1", "r3k2r/8/8/8/8/8/8/R4RK1 b kq -", 0x0028, 0x18},
        PushCase{CASTLE_W, "e1c1", "r3k2r/8/8/8/8/8/8/2KR3R b kq -", 0x0028, 0x18},
        PushCase{CASTLE_B, "e8g8", "r4rk1/8/8/8/8/8/8/R3K2R w KQ -", 0x0A00, 0x07},
        PushCase{CASTLE_B, "e8c8", "2kr3r/8/8/8/8/8/8/R3K2R w KQ -", 0x0A00, 0x07},
        PushCase{"4k3/8/8/8/8/8/8/4K3 w K -", "e1g1", "4k3/8/8/8/8/8/8/6K1 b - -", 0x0028, 0x00},
        // En passant, both colours.
        PushCase{"4k3/8/8/3pP3/8/8/8/4K3 w - d6", "e5d6", "4k3/8/3P4/8/8/8/8/4K3 b - -", 0x0041,
                 0x00},
        PushCase{"4k3/8/8/8/3pP3/8/8/4K3 b - e3", "d4e3", "4k3/8/8/8/8/4p3/8/4K3 w - -", 0x0041,
                 0x01},
        // Promotions; a pawn reaching the last rank without a code stays a pawn.
        PushCase{"7k/4P3/8/8/8/8/8/4K3 w - -", "e7e8q", "4Q2k/8/8/8/8/8/8/4K3 b - -", 0x0011, 0x00},
        PushCase{"7k/4P3/8/8/8/8/8/4K3 w - -", "e7e8n", "4N2k/8/8/8/8/8/8/4K3 b - -", 0x0003, 0x00},
        PushCase{"7k/4P3/8/8/8/8/8/4K3 w - -", "e7e8", "4P2k/8/8/8/8/8/8/4K3 b - -", 0x0001, 0x00},
        PushCase{"4k3/8/8/8/8/8/3p4/K7 b - -", "d2d1q", "4k3/8/8/8/8/8/8/K2q4 w - -", 0x0440, 0x01},
        PushCase{"4r2k/3P4/8/8/8/8/8/4K3 w - -", "d7e8q", "4Q2k/8/8/8/8/8/8/4K3 b - -", 0x0211,
                 0x00},
        PushCase{"r3k2r/1P6/8/8/8/8/8/4K3 w kq -", "b7a8q", "Q3k2r/8/8/8/8/8/8/4K3 b k -", 0x0211,
                 0x08},
        PushCase{"r3k2r/6P1/8/8/8/8/8/4K3 w kq -", "g7h8n", "r3k2N/8/8/8/8/8/8/4K3 b q -", 0x0203,
                 0x10},
        // Rights lost by moving king or rook, only for the side to move.
        PushCase{CASTLE_W, "h1h5", "r3k2r/8/8/7R/8/8/8/R3K3 b Qkq -", 0x0008, 0x1C},
        PushCase{CASTLE_W, "a1a5", "r3k2r/8/8/R7/8/8/8/4K2R b Kkq -", 0x0008, 0x1A},
        PushCase{"r3k2r/8/8/8/8/8/8/1R2K2R w KQkq -", "b1b5", "r3k2r/8/8/1R6/8/8/8/4K2R b KQkq -",
                 0x0008, 0x1E},
        PushCase{CASTLE_B, "e8e7", "r6r/4k3/8/8/8/8/8/R3K2R w KQ -", 0x0800, 0x07},
        PushCase{CASTLE_B, "h8h5", "r3k3/8/8/7r/8/8/8/R3K2R w KQq -", 0x0200, 0x17},
        PushCase{CASTLE_W, "h8h5", "r3k3/8/8/7r/8/8/8/R3K2R b KQkq -", 0x0200, 0x1E},
        // Rights lost by a rook captured on its corner, whoever captures.
        PushCase{CASTLE_W, "h1h8", "r3k2R/8/8/8/8/8/8/R3K3 b Qq -", 0x0208, 0x14},
        PushCase{"r3k2r/8/8/8/8/8/6B1/4K3 w kq -", "g2a8", "B3k2r/8/8/8/8/8/8/4K3 b k -", 0x0204,
                 0x08},
        PushCase{"r3k2q/8/8/8/8/8/1B6/4K3 w kq -", "b2h8", "r3k2B/8/8/8/8/8/8/4K3 b kq -", 0x0404,
                 0x18},
        PushCase{"4k3/8/8/8/8/8/1b6/R3K2R b KQ -", "b2a1", "4k3/8/8/8/8/8/8/b3K2R w K -", 0x0108,
                 0x03},
        // A piece of the mover's own colour on the target is neither captured nor moved.
        PushCase{"4k3/8/8/8/8/8/8/R3K3 w - -", "a1e1", "4k3/8/8/8/8/8/8/4R3 b - -", 0x0008, 0x00}),
    ParamName());

TEST(MakeUnmake, SequencesAndFailures) {
    Board board = Board::from_fen(START);
    const Board start = board;
    board.push_move(mv("e2e4"));
    board.push_move(mv("d7d5"));
    EXPECT_EQ(board.bitboards[STATE], 0x11Fu);  // one double step replaces the other
    board.pop_move();
    board.pop_move();
    EXPECT_EQ(board, start);

    EXPECT_EQ(failure_of<Panic>([&] { board.push_move(mv("e3e4")); }), "no piece on e3 to move");
    EXPECT_EQ(board, start);
    EXPECT_EQ(failure_of<Panic>([&] { board.pop_move(); }), "no move to take back");
    EXPECT_EQ(board, start);
    board.push_move(mv("e2e4"));
    board.pop_move();
    EXPECT_EQ(failure_of<Panic>([&] { board.pop_move(); }), "no move to take back");
    EXPECT_EQ(board, start);
}

// Long random games of generated moves, with pops mixed in: every pop must
// give back the whole record as it was, stacks included.
TEST(MakeUnmake, RandomGamesUnwindExactly) {
    std::mt19937 rng(0x5EED);
    const char* starts[] = {START,
                            "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
                            "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
                            "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -",
                            "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -"};
    for (const char* fen : starts) {
        for (int game = 0; game < 20; ++game) {
            Board board = Board::from_fen(fen);
            board.bitboards[STATE] |= 0xA5ull << 40;
            std::vector<Board> before;
            for (int ply = 0; ply < 150; ++ply) {
                if (!before.empty() && rng() % 6 == 0) {
                    board.pop_move();
                    ASSERT_EQ(board, before.back());
                    before.pop_back();
                    continue;
                }
                MoveList list;
                generator().generate(board, list);
                if (list.size == 0) break;
                before.push_back(board);
                board.push_move(list.moves[rng() % static_cast<unsigned>(list.size)]);
                ASSERT_NO_FATAL_FAILURE(expect_stacks_consistent(board));
                ASSERT_EQ(board.bitboards[STATE] & HIGH_BITS, 0xA5ull << 40);
                Board mirror = board;  // reflecting twice gives back the position
                mirror.reflect();
                mirror.reflect();
                ASSERT_EQ(mirror.bitboards, board.bitboards);
            }
            while (!before.empty()) {
                board.pop_move();
                ASSERT_EQ(board, before.back()) << fen << " game " << game;
                before.pop_back();
            }
            EXPECT_THROW(board.pop_move(), Panic);
        }
    }
}

TEST(Copy, IsIndependentAndKeepsHistory) {
    Board source = Board::from_fen(START);
    const Board start = source;
    for (const char* m : {"e2e4", "e7e5", "g1f3"}) source.push_move(mv(m));
    const Board saved = source;
    Board copy = source;
    copy.push_move(mv("b8c6"));
    for (int i = 0; i < 4; ++i) copy.pop_move();
    EXPECT_EQ(copy, start);
    EXPECT_THROW(copy.pop_move(), Panic);
    EXPECT_EQ(source, saved);
}

TEST(Reflect, MirrorsAndForgetsHistory) {
    Board board = Board::from_fen(START);
    board.reflect();
    EXPECT_EQ(board.fen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq -");
    board = Board::from_fen(START);
    board.push_move(mv("e2e4"));
    board.reflect();
    EXPECT_EQ(board,
              Board::from_fen(
                  "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq e6"));  // stacks empty
    EXPECT_EQ(failure_of<Panic>([&] { board.pop_move(); }), "no move to take back");
}

struct StateCase {
    std::uint64_t in, out;
};
void PrintTo(const StateCase& c, std::ostream* out) {
    *out << "state 0x" << std::hex << c.in << std::dec;
}
class ReflectState : public testing::TestWithParam<StateCase> {};

TEST_P(ReflectState, MapsStateWord) {
    Board board;
    board.bitboards[STATE] = GetParam().in;
    board.reflect();
    EXPECT_EQ(board.bitboards[STATE], GetParam().out) << std::hex << GetParam().in;
    board.reflect();
    EXPECT_EQ(board.bitboards[STATE], GetParam().in);
}

INSTANTIATE_TEST_SUITE_P(
    MakeUnmake, ReflectState,
    testing::Values(StateCase{0x02, 0x09}, StateCase{0x04, 0x11}, StateCase{0x10, 0x05},
                    StateCase{0x1F, 0x1E}, StateCase{1u << 17, 1 | (1u << 9)},
                    StateCase{(1u << 5) | (1u << 20), 1 | (1u << 13) | (1u << 12)},
                    StateCase{HIGH_BITS | 1, HIGH_BITS},
                    StateCase{HIGH_BITS | 0x1FFFFF, HIGH_BITS | 0x1FFFFE}),
    ParamName());

}  // namespace
}  // namespace vemla::test
