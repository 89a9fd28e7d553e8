// Check, the end of a game, and repetitions counted from the undo history.
#include <random>

#include "test_support.hpp"

namespace vemla::test {
namespace {

struct OutcomeCase {
    const char* fen;
    Outcome outcome;
    bool check;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.fen; }

class Outcomes : public testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcomes, FirstRuleThatHolds) {
    const auto& c = GetParam();
    for (const bool reflected : {false, true}) {
        Board board = Board::from_fen(c.fen);
        if (reflected) board.reflect();  // the same game seen from the other side
        const Board before = board;
        EXPECT_EQ(generator().outcome(board), c.outcome) << board.fen();
        EXPECT_EQ(generator().is_check(board), c.check) << board.fen();
        EXPECT_EQ(board, before);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(GameEnd, Outcomes, testing::Values(
    // Fool's mate; a back-rank mate of black.
    OutcomeCase{"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -", Outcome::CHECKMATE, true},
    OutcomeCase{"R5k1/5ppp/8/8/8/8/8/6K1 b - -", Outcome::CHECKMATE, true},
    // A pawn's check that the king can step out of is not mate.
    OutcomeCase{"8/8/8/8/8/2k5/1p6/K7 w - -", Outcome::ONGOING, true},
    OutcomeCase{"7k/5Q2/6K1/8/8/8/8/8 b - -", Outcome::STALEMATE, false},
    // Stalemate wins over insufficient material; so does the empty board.
    OutcomeCase{"k7/8/1K6/4B3/8/8/8/8 b - -", Outcome::STALEMATE, false},
    OutcomeCase{"8/8/8/8/8/8/8/8 w - -", Outcome::STALEMATE, false},
    // Insufficient material: bare kings, one knight, same-coloured bishops of
    // both sides; in check but not mated counts too.
    OutcomeCase{"8/8/4k3/8/8/3K4/8/8 w - -", Outcome::INSUFFICIENT_MATERIAL, false},
    OutcomeCase{"8/8/4k3/8/8/3K4/8/6n1 w - -", Outcome::INSUFFICIENT_MATERIAL, false},
    OutcomeCase{"2b5/8/4k3/8/8/3K4/8/3B1B2 b - -", Outcome::INSUFFICIENT_MATERIAL, false},
    OutcomeCase{"8/8/8/8/8/2k5/1b6/K7 w - -", Outcome::INSUFFICIENT_MATERIAL, true},
    OutcomeCase{"8/8/8/8/8/8/8/K7 w - -", Outcome::INSUFFICIENT_MATERIAL, false},
    // Enough to mate, at least with help.
    OutcomeCase{"5b2/8/4k3/8/8/3K4/8/5B2 w - -", Outcome::ONGOING, false},
    OutcomeCase{"8/8/4k3/8/8/3K4/8/5BN1 w - -", Outcome::ONGOING, false},
    OutcomeCase{"8/8/4k3/8/8/3K4/8/1n4N1 w - -", Outcome::ONGOING, false},
    OutcomeCase{"8/8/4k3/8/8/3K4/P7/8 w - -", Outcome::ONGOING, false},
    OutcomeCase{"8/8/4k3/8/8/3K4/8/7r w - -", Outcome::ONGOING, false},
    OutcomeCase{"8/8/4k3/8/8/3K4/8/7q w - -", Outcome::ONGOING, false},
    OutcomeCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", Outcome::ONGOING, false},
    // The lowest king of the side to move decides check: a1 is safe, h1 is not.
    OutcomeCase{"7r/8/8/8/8/8/8/K6K w - -", Outcome::ONGOING, false},
    OutcomeCase{"r7/8/8/8/8/8/8/K6K w - -", Outcome::ONGOING, true}));
// clang-format on

TEST(IsCheck, AgreesWithTheOpponentsCaptures) {
    // Independent of the attack test: the side to move is in check exactly
    // when, with the turn passed, some candidate of the opponent lands on
    // the king. Checked along random games from the perft positions.
    std::mt19937 rng(7);
    int positions = 0;
    for (const auto& entry : read_epd("perft_suite.epd")) {
        if (entry.fen.empty()) continue;
        Board board = Board::from_fen(entry.fen);
        for (int ply = 0; ply < 40; ++ply) {
            const Bitboard kings =
                board.bitboards[static_cast<std::size_t>(piece_of(board.side_to_move(), KING))];
            Board passed = board;
            passed.bitboards[STATE] ^= StateWord::WHITE_TO_MOVE;
            MoveList replies;
            generator().candidates(passed, replies);
            bool captures_king = false;
            for (const ChessMove m : replies) captures_king |= kings && m.to() == lsb(kings);
            ASSERT_EQ(generator().is_check(board), captures_king) << describe(board);
            ++positions;

            MoveList moves;
            generator().generate(board, moves);
            ASSERT_EQ(generator().has_legal_move(board), moves.size > 0) << describe(board);
            if (moves.size == 0) break;
            board.push_move(moves.moves[rng() % static_cast<unsigned>(moves.size)]);
        }
    }
    if (positions == 0) VEMLA_MISSING_DATA("perft_suite.epd not found in " << VEMLA_TEST_DATA);
}

TEST(HasLegalMove, LeavesTheBoardAsItWas) {
    for (const char* fen : {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -",
                            "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"}) {
        Board board = Board::from_fen(fen);
        board.push_move(mv("a2a3"));
        board.pop_move();  // leaves spare stack capacity, which must stay as it is
        const Board before = board;
        generator().has_legal_move(board);
        EXPECT_EQ(board, before);
    }
}

// The reference count: pop the line on a copy and compare every position.
int repetitions_by_popping(const Board& board) {
    Board line = board;
    int count = 1;
    while (!line.undo_stack.empty()) {
        line.pop_move();
        count += line.bitboards == board.bitboards;
    }
    return count;
}

void push_all(Board& board, std::initializer_list<const char*> moves) {
    for (const char* m : moves) board.push_move(mv(m));
}

TEST(Repetitions, KnightShuffleAlongPushAndPop) {
    Board board = Board::from_fen(DEFAULT_FEN);
    EXPECT_EQ(board.repetitions(), 1);
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    const int expected[] = {1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4};
    for (int i = 0; i < 12; ++i) {
        board.push_move(mv(shuffle[i % 4]));
        EXPECT_EQ(board.repetitions(), expected[i]) << "after ply " << i + 1;
        EXPECT_EQ(board.ply(), static_cast<std::size_t>(i + 1));
    }
    for (int i = 11; i > 0; --i) {
        board.pop_move();
        EXPECT_EQ(board.repetitions(), expected[i - 1]) << "back at ply " << i;
    }
    // A copy carries the line; a reflection starts a new one.
    push_all(board, {"g8f6", "f3g1", "f6g8"});
    Board copy = board;
    EXPECT_EQ(copy.repetitions(), 2);
    board.reflect();
    EXPECT_EQ(board.repetitions(), 1);
    EXPECT_EQ(board.ply(), 0u);
}

TEST(Repetitions, StateWordIsPartOfThePosition) {
    // After e2e4 black may capture en passant on the e-file (as the state
    // word holds it): the same placement later, without that bit, is new.
    Board board = Board::from_fen(DEFAULT_FEN);
    push_all(board, {"e2e4", "g8f6", "g1f3", "f6g8", "f3g1"});
    EXPECT_EQ(board.repetitions(), 1);
    push_all(board, {"g8f6", "g1f3", "f6g8", "f3g1"});
    EXPECT_EQ(board.repetitions(), 2);

    // The king's walk gives up the castling right: the same placement is new.
    board = Board::from_fen("4k3/8/8/8/8/8/8/4K2R w K -");
    push_all(board, {"e1f1", "e8f8", "f1e1", "f8e8"});
    EXPECT_EQ(board.repetitions(), 1);
    push_all(board, {"e1f1", "e8f8", "f1e1", "f8e8"});
    EXPECT_EQ(board.repetitions(), 2);
}

TEST(Repetitions, MatchesPoppingTheLine) {
    // Random moves, legal or not, with few pieces so that positions recur:
    // captures, pieces landing on their own side's pieces, promotions and
    // castling all exercise the early end of the walk.
    std::mt19937 rng(11);
    int repeated = 0;
    for (const char* fen : {"4k3/8/8/8/8/8/8/4K2R w K -", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -",
                            "4k3/1P6/8/8/8/8/6p1/4K1N1 w - -", "8/8/3nk3/8/8/3NK3/8/8 w - -"}) {
        for (int game = 0; game < 20; ++game) {
            Board board = Board::from_fen(fen);
            for (int ply = 0; ply < 120; ++ply) {
                const int expected = repetitions_by_popping(board);
                ASSERT_EQ(board.repetitions(), expected) << describe(board);
                repeated += expected > 1;
                MoveList moves;
                generator().generate(board, moves);
                if (moves.size > 0 && rng() % 8) {
                    board.push_move(moves.moves[rng() % static_cast<unsigned>(moves.size)]);
                    continue;
                }
                // Any piece to any square, whoever is to move.
                Bitboard occupied = 0;
                for (std::size_t i = 0; i < 12; ++i) occupied |= board.bitboards[i];
                if (!occupied) break;
                int from = static_cast<int>(rng() % 64);
                while (!(occupied & square_bb(from))) from = (from + 1) & 63;
                board.push_move(ChessMove::pack(from, static_cast<int>(rng() % 64),
                                                static_cast<int>(rng() % 8)));
                if (rng() % 4 == 0) board.pop_move();
            }
        }
    }
    EXPECT_GT(repeated, 100);  // the walk really met repeated positions
}

TEST(InsufficientMaterial, OverlappingPiecesCountSeparately) {
    // A knight pushed onto its own side's knight: two knight bits remain on
    // one square, and two knights can mate.
    Board board = Board::from_fen("8/8/4k3/8/8/3K4/8/5N1N w - -");
    EXPECT_FALSE(board.insufficient_material());
    board.bitboards[WHITE_KNIGHT] = square_bb(sq("f1"));
    board.bitboards[BLACK_KNIGHT] = square_bb(sq("f1"));
    EXPECT_FALSE(board.insufficient_material());
    board.bitboards[BLACK_KNIGHT] = 0;
    EXPECT_TRUE(board.insufficient_material());
}

}  // namespace
}  // namespace vemla::test
