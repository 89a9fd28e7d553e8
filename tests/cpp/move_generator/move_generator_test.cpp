// The attack test, castling and the order of generated moves.
#include <algorithm>

#include "test_support.hpp"

namespace vemla::test {
namespace {

struct AttackCase {
    const char* fen;
    const char* square;
    Colour side;  // whose square it is: the other colour attacks
    bool attacked;
};
void PrintTo(const AttackCase& c, std::ostream* os) {
    *os << c.fen << ' ' << c.square << (c.side == WHITE ? " white" : " black");
}
class Attack : public testing::TestWithParam<AttackCase> {};

TEST_P(Attack, SquareInCheck) {
    const auto& c = GetParam();
    const Board board = Board::from_fen(std::string(c.fen) + " w - -");
    EXPECT_EQ(generator().square_in_check(board, sq(c.square), c.side), c.attacked)
        << c.fen << ' ' << c.square << " side " << c.side;
}

INSTANTIATE_TEST_SUITE_P(
    MoveGen, Attack,
    testing::Values(AttackCase{"8/8/8/4p3/4K3/8/8/8", "e4", WHITE, false},
                    AttackCase{"8/8/8/3p4/4K3/8/8/8", "e4", WHITE, true},
                    AttackCase{"8/8/8/5p2/4K3/8/8/8", "e4", BLACK, false},  // own side's pawn
                    AttackCase{"8/8/8/8/8/3P4/8/8", "e4", BLACK, true},
                    AttackCase{"8/8/8/8/8/4P3/8/8", "e4", BLACK, false},
                    AttackCase{"8/8/8/8/7p/8/8/8", "a3", WHITE, false},  // no wrap across the edge
                    AttackCase{"8/8/8/8/8/1n6/8/8", "a1", WHITE, true},
                    AttackCase{"8/8/8/8/8/8/2n5/8", "a1", WHITE, true},
                    AttackCase{"8/8/8/8/8/8/7n/8", "a1", WHITE, false},
                    AttackCase{"8/8/8/8/8/8/6k1/8", "f1", WHITE, true},
                    AttackCase{"8/8/8/8/8/8/6k1/8", "e1", WHITE, false},
                    AttackCase{"8/8/8/8/8/8/8/r3K3", "e1", WHITE, true},
                    AttackCase{"8/8/8/8/8/8/8/rN2K3", "e1", WHITE, false},
                    AttackCase{"8/8/8/8/8/8/8/rn2K3", "e1", WHITE, false},
                    AttackCase{"7q/8/8/8/8/8/8/K7", "a1", WHITE, true},
                    AttackCase{"7r/8/8/8/8/8/8/K7", "a1", WHITE, false},
                    AttackCase{"7b/8/8/8/3P4/8/8/K7", "a1", WHITE, false},
                    AttackCase{"8/8/8/8/8/8/8/Q6k", "h1", BLACK, true}),
    ParamName());

// Castling moves among the candidates, in order.
struct CastleCase {
    const char* fen;
    std::vector<std::string> castles;
};
void PrintTo(const CastleCase& c, std::ostream* os) { *os << c.fen; }
class Castle : public testing::TestWithParam<CastleCase> {};

TEST_P(Castle, AppendsPassingRows) {
    const auto& c = GetParam();
    const Board board = Board::from_fen(c.fen);
    MoveList list;
    generator().candidates(board, list);
    std::vector<std::string> castles;
    for (const ChessMove m : list)
        if (m.special() == ChessMove::CASTLING) castles.push_back(m.to_string());
    EXPECT_EQ(castles, c.castles) << c.fen;
}

// Each colour's rows hold the king's two castling moves, king side first.
TEST(Castle, RowsHoldTheCastlingMoves) {
    std::vector<std::string> moves;
    std::vector<std::uint16_t> codes;
    for (const Colour colour : {WHITE, BLACK}) {
        const auto& rules = CASTLING_RULES[static_cast<std::size_t>(colour)];
        EXPECT_EQ(rules.rows[KING_SIDE].side, KING_SIDE);
        EXPECT_EQ(rules.rows[QUEEN_SIDE].side, QUEEN_SIDE);
        for (const CastlingRow& row : rules.rows) {
            moves.push_back(row.move.to_string());
            codes.push_back(row.move.value);
        }
    }
    EXPECT_EQ(moves, (std::vector<std::string>{"e1g1", "e1c1", "e8g8", "e8c8"}));
    EXPECT_EQ(codes, (std::vector<std::uint16_t>{0x3184, 0x3084, 0x3FBC, 0x3EBC}));
}

INSTANTIATE_TEST_SUITE_P(
    MoveGen, Castle,
    testing::Values(CastleCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", {"e1g1", "e1c1"}},
                    CastleCase{"r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", {"e8g8", "e8c8"}},
                    CastleCase{"1r2k3/8/8/8/8/8/8/R3K3 w Q -", {"e1c1"}},   // b1 attacked, empty
                    CastleCase{"4k3/8/8/8/8/8/8/RN2K3 w Q -", {}},          // b1 occupied
                    CastleCase{"4r1k1/8/8/8/8/8/8/R3K2R w KQ -", {}},       // in check
                    CastleCase{"5rk1/8/8/8/8/8/8/R3K2R w KQ -", {"e1c1"}},  // f1 attacked
                    CastleCase{"6rk/8/8/8/8/8/8/R3K2R w KQ -", {"e1c1"}},   // g1 attacked
                    CastleCase{"2r4k/8/8/8/8/8/8/R3K2R w KQ -", {"e1g1"}},  // c1 attacked
                    CastleCase{"4k3/8/8/8/8/8/8/R3KB1R w KQ -", {"e1c1"}},  // f1 occupied
                    CastleCase{"r3kb1r/8/8/8/8/8/8/4K3 b kq -", {"e8c8"}},
                    CastleCase{"4k3/8/8/8/8/8/8/R4K1R w KQ -", {}},               // king not on e1
                    CastleCase{"4k3/8/8/8/8/8/8/4K3 w KQ -", {"e1g1", "e1c1"}}),  // rights trusted
    ParamName());

// Exact legal move lists, order included.
struct OrderCase {
    const char* name;
    const char* fen;
    std::vector<std::string> moves;
};
class Order : public testing::TestWithParam<OrderCase> {};

TEST_P(Order, GeneratesInFixedOrder) {
    const auto& c = GetParam();
    Board board = Board::from_fen(c.fen);
    const Board before = board;
    EXPECT_EQ(legal_moves(board), c.moves) << c.fen;
    EXPECT_EQ(board, before);
}

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.fen; }
std::string order_name(const testing::TestParamInfo<OrderCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(
    MoveGen, Order,
    testing::Values(
        OrderCase{"start",
                  "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
                  {"b1c3", "b1a3", "g1h3", "g1f3", "a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4",
                   "d2d3", "d2d4", "e2e3", "e2e4", "f2f3", "f2f4", "g2g3", "g2g4", "h2h3", "h2h4"}},
        OrderCase{"kings", "4k3/8/8/8/8/8/8/4K3 w - -", {"e1e2", "e1f1", "e1d1", "e1f2", "e1d2"}},
        OrderCase{"touching_kings", "8/8/8/8/8/8/8/K1k5 w - -", {"a1a2"}},
        OrderCase{"promotions",
                  "n1n1k3/1P6/8/8/8/8/8/4K3 w - -",
                  {"e1e2", "e1f1", "e1d1", "e1f2", "e1d2", "b7a8n", "b7a8b", "b7a8r", "b7a8q",
                   "b7c8n", "b7c8b", "b7c8r", "b7c8q", "b7b8n", "b7b8b", "b7b8r", "b7b8q"}},
        OrderCase{"blocked_push", "4k3/8/8/8/8/4p3/4P3/K7 w - -", {"a1a2", "a1b1", "a1b2"}},
        OrderCase{"white_captures",
                  "4k3/8/8/3p1p2/4P3/8/8/K7 w - -",
                  {"a1a2", "a1b1", "a1b2", "e4d5", "e4f5", "e4e5"}},
        OrderCase{"black_captures",
                  "k7/8/8/4p3/3P1P2/8/8/4K3 b - -",
                  {"a8a7", "a8b8", "a8b7", "e5f4", "e5d4", "e5e4"}},
        OrderCase{"en_passant",
                  "4k3/8/8/8/3pP3/8/8/7K b - e3",
                  {"e8e7", "e8f8", "e8d8", "e8d7", "e8f7", "d4e3", "d4d3"}},
        OrderCase{"pin", "4r1k1/8/8/8/8/8/4B3/4K3 w - -", {"e1f1", "e1d1", "e1f2", "e1d2"}},
        OrderCase{"rook_check_line",
                  "4r1k1/8/8/8/8/8/4K3/8 w - -",
                  {"e2f2", "e2d2", "e2f3", "e2d3", "e2d1", "e2f1"}},
        OrderCase{"queen_in_both_passes",
                  "4k3/8/8/8/8/8/8/QR2K3 w - -",
                  {"e1e2", "e1f1", "e1d1", "e1f2", "e1d2", "a1a2", "a1a3", "a1a4", "a1a5", "a1a6",
                   "a1a7", "a1a8", "b1c1", "b1d1", "b1b2", "b1b3", "b1b4", "b1b5", "b1b6", "b1b7",
                   "b1b8", "a1b2", "a1c3", "a1d4", "a1e5", "a1f6", "a1g7", "a1h8"}},
        OrderCase{"checkmate", "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -", {}},
        OrderCase{"stalemate", "7k/5Q2/6K1/8/8/8/8/8 b - -", {}},
        OrderCase{"no_king", "8/8/8/8/8/8/4P3/8 w - -", {"e2e3", "e2e4"}}),
    order_name);

// Overlapping pieces give far more candidates than any real position: here
// all six white kinds stand on each of 28 squares (each layer of the placement
// covers 64 squares and wraps onto the next), with black pawns on rank 8 to
// capture with promotion.
TEST(MoveGen, CandidateBoundHoldsForOverlappingPieces) {
    std::string placement;
    for (const char kind : std::string("QRBNKP")) {
        std::string layer = "pppppppp/XXXXXXXX/X6X/X6X/X1XXXX1X/X6X/X6X/1XXXXXX1";
        std::replace(layer.begin(), layer.end(), 'X', kind);
        placement += (placement.empty() ? "" : "/") + layer;
    }
    Board board = Board::from_fen(placement + " w KQkq a6");
    for (std::size_t kind = 0; kind < 6; ++kind)
        ASSERT_EQ(board.bitboards[kind], 0x00FF8181BD81817Eu);
    for (int pass = 0; pass < 2; ++pass) {
        const Board before = board;
        MoveList list;
        generator().candidates(board, list);
        EXPECT_GT(list.size, 400);
        EXPECT_LE(list.size, MAX_CANDIDATES);
        generator().generate(board, list);
        EXPECT_LE(list.size, MAX_CANDIDATES);
        EXPECT_EQ(board, before);
        board.reflect();  // the same for Black
    }
}

}  // namespace
}  // namespace vemla::test
