// FEN reading and writing.
#include "test_support.hpp"

namespace vemla::test {
namespace {

constexpr std::uint64_t bit(int n) { return std::uint64_t{1} << n; }

TEST(FenRead, DefaultPositionWords) {
    const Board board = Board::from_fen(DEFAULT_FEN);
    const std::array<std::uint64_t, 13> expected = {0x000000000000FF00,
                                                    0x0000000000000042,
                                                    0x0000000000000024,
                                                    0x0000000000000081,
                                                    0x0000000000000008,
                                                    0x0000000000000010,
                                                    0x00FF000000000000,
                                                    0x4200000000000000,
                                                    0x2400000000000000,
                                                    0x8100000000000000,
                                                    0x0800000000000000,
                                                    0x1000000000000000,
                                                    0x1F};
    EXPECT_EQ(board.bitboards, expected);
    EXPECT_TRUE(board.undo_stack.empty());
    for (const auto& h : board.history) EXPECT_TRUE(h.empty());
    EXPECT_EQ(Board::from_fen("8/8/8/8/8/8/8/8 b - -"), Board{});
}

// The placement is read from rank 1 on; "/" does not realign the square
// counter, and only its low six bits pick the square.
struct PlacementCase {
    const char* placement;
    int piece;
    std::uint64_t word;
};
void PrintTo(const PlacementCase& c, std::ostream* out) { *out << c.placement; }
class Placement : public testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, SetsExpectedBits) {
    const auto& c = GetParam();
    const auto words = pieces_from_fen(std::string(c.placement) + " W xyz");  // other fields unread
    for (std::size_t i = 0; i < 12; ++i)
        EXPECT_EQ(words[i], static_cast<int>(i) == c.piece ? c.word : 0u)
            << c.placement << " piece " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Fen, Placement,
    testing::Values(
        PlacementCase{"K7/8/8/8/8/8/8/8", WHITE_KING, bit(56)},
        PlacementCase{"7k/8/8/8/8/8/8/8", BLACK_KING, bit(63)},
        PlacementCase{"8/8/8/8/8/8/8/7K", WHITE_KING, bit(7)},
        PlacementCase{"K7/8/8/8/8/8/8/8/8", WHITE_KING, bit(0)},  // nine ranks wrap to a1
        PlacementCase{"K7/8/8/8/8/8/8/7", WHITE_KING, bit(55)},   // short rank 1
        PlacementCase{"8/8/8/8/8/8/8/1K0K", WHITE_KING, bit(1) | bit(2)},
        PlacementCase{"8/8/8/8/8/8/8/9q", BLACK_QUEEN, bit(9)},
        PlacementCase{"/K7//8/8/8/8/8/8/", WHITE_KING, bit(48)},  // empty ranks add nothing
        PlacementCase{"PPPPPPPP/8/8/8/8/8/8/8/8/8", WHITE_PAWN, 0xFF00}),
    ParamName());

// Fields are split at runs of Unicode white space, decoded as UTF-8.
class Separator : public testing::TestWithParam<const char*> {};

TEST_P(Separator, SplitsFields) {
    const std::string s = GetParam();
    const std::string text =
        s + "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR" + s + "b" + s + "KQkq" + s + "e3" + s;
    EXPECT_EQ(Board::from_fen(text),
              Board::from_fen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"));
}

INSTANTIATE_TEST_SUITE_P(Fen, Separator,
                         testing::Values(" ", "\t", "\r\n", "\v\f", "\xC2\x85" /* U+0085 */,
                                         "\xC2\xA0" /* U+00A0 */, "\xE1\x9A\x80" /* U+1680 */,
                                         "\xE2\x80\xA8" /* U+2028 */, "\xE3\x80\x80" /* U+3000 */,
                                         " \xE2\x80\x8A\xE2\x81\x9F\t" /* U+200A, U+205F */),
                         ParamName());

// The state word from the side, castling and en-passant fields.
struct StateCase {
    const char* fields;
    std::uint64_t state;
};
void PrintTo(const StateCase& c, std::ostream* out) { *out << c.fields; }
class StateFields : public testing::TestWithParam<StateCase> {};

TEST_P(StateFields, BuildStateWord) {
    EXPECT_EQ(Board::from_fen(std::string("8/8/8/8/8/8/8/8 ") + GetParam().fields).bitboards[STATE],
              GetParam().state)
        << GetParam().fields;
}

INSTANTIATE_TEST_SUITE_P(
    Fen, StateFields,
    testing::Values(StateCase{"w KQkq e6", 0x1F | bit(9)}, StateCase{"b qkQK -", 0x1E},
                    StateCase{"b KKQ -", 0x06}, StateCase{"b -x -", 0}, StateCase{"b KQ-x -", 0x06},
                    StateCase{"b K-Q -", 0x02},
                    // En passant keeps the file only, in the side to move's group.
                    StateCase{"b - d3", bit(16)}, StateCase{"w - d6", 1 | bit(8)},
                    StateCase{"w - d", 1 | bit(8)}, StateCase{"w - d3", 1 | bit(8)},
                    StateCase{"b - a6", bit(13)}, StateCase{"b - h9x", bit(20)},
                    // Anything after the fourth field is ignored.
                    StateCase{"w KQkq - 0 1", 0x1F}, StateCase{"w - - anything at all \xFF", 1}),
    ParamName());

// Failures: type and message. The fields are checked in order, so the first
// bad field decides.
struct FailureCase {
    const char* fen;
    bool panic;  // Panic, else InvalidInput
    const char* message;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.fen; }
class FenFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(FenFailure, ReportsFirstBadField) {
    const auto& c = GetParam();
    const auto read = [&] { (void)Board::from_fen(c.fen); };
    EXPECT_EQ(c.panic ? failure_of<Panic>(read) : failure_of<InvalidInput>(read), c.message)
        << '"' << c.fen << '"';
    // The same refusal without an exception, the board left as it was.
    Board board = Board::from_fen(DEFAULT_FEN);
    board.push_move(mv("e2e4"));
    const Board before = board;
    const FenRejection rejection = Board::read_fen(c.fen, board);
    ASSERT_NE(rejection, FenRejection::NONE);
    EXPECT_EQ(is_panic(rejection), c.panic);
    EXPECT_EQ(fen_rejection_message(rejection), c.message);
    EXPECT_EQ(board, before);
}

// Reading into a used board replaces all of it, history included; the
// placement alone reads wherever the whole text does.
TEST(FenRead, ReadFenReplacesBoard) {
    Board board = Board::from_fen(DEFAULT_FEN);
    board.push_move(mv("e2e4"));
    const char* fen = "4k3/8/8/8/8/8/8/4K2R w K -";
    ASSERT_EQ(Board::read_fen(fen, board), FenRejection::NONE);
    EXPECT_EQ(board, Board::from_fen(fen));
    std::array<std::uint64_t, 12> words{};
    ASSERT_EQ(read_pieces(fen, words), FenRejection::NONE);
    EXPECT_EQ(words, pieces_from_fen(fen));
    EXPECT_TRUE(std::equal(words.begin(), words.end(), board.bitboards.begin()));
}

constexpr const char* NO_PLACEMENT = "FEN has no piece placement field";
constexpr const char* BAD_PIECE = "Invalid piece type";
constexpr const char* BAD_SIDE = "Invalid fen: Invalid side-to-move";
constexpr const char* BAD_CASTLING = "Invalid fen: Invalid castling specifier";
constexpr const char* BAD_EP = "Invalid fen: Invalid en-passant square";

INSTANTIATE_TEST_SUITE_P(
    Fen, FenFailure,
    testing::Values(FailureCase{"", true, NO_PLACEMENT},
                    FailureCase{" \t\n\xE3\x80\x80", true, NO_PLACEMENT},
                    FailureCase{"8/8/8/8/8/8/8/8", true, "FEN has no side-to-move field"},
                    FailureCase{"8/8/8/8/8/8/8/8 w", true, "FEN has no castling field"},
                    FailureCase{"8/8/8/8/8/8/8/8 w KQkq", true, "FEN has no en-passant field"},
                    FailureCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX x y z", true,
                                BAD_PIECE},
                    FailureCase{"8/8/8/8/8/8/8/O7 w - -", true, BAD_PIECE},
                    FailureCase{"8/8/8/8/8/8/8/\xC3\xA9"
                                "7 w - -",
                                true, BAD_PIECE},
                    FailureCase{"8/8/8/8/8/8/8/8\xE2\x80\x8B"
                                "w - -",
                                true, BAD_PIECE},  // U+200B: no separator
                    FailureCase{"8/8/8/8/8/8/8/8\x85"
                                "w - -",
                                true, BAD_PIECE},  // a lone byte 0x85 is not U+0085
                    FailureCase{"8/8/8/8/8/8/8/8 W - -", false, BAD_SIDE},
                    FailureCase{"8/8/8/8/8/8/8/8 wb - -", false, BAD_SIDE},
                    FailureCase{"8/8/8/8/8/8/8/8 W", false, BAD_SIDE},  // before the missing fields
                    FailureCase{"8/8/8/8/8/8/8/8 w KQkqx -", false, BAD_CASTLING},
                    FailureCase{"8/8/8/8/8/8/8/8 w x", false, BAD_CASTLING},
                    FailureCase{"8/8/8/8/8/8/8/8 w - x3", false, BAD_EP},
                    FailureCase{"8/8/8/8/8/8/8/8 w - E3", false, BAD_EP},
                    FailureCase{"8/8/8/8/8/8/8/8 b - -3", false, BAD_EP},
                    FailureCase{"8/8/8/8/8/8/8/8 b - \xC3\xA9", false, BAD_EP}),
    ParamName());

// Reading and writing back gives the canonical four fields.
struct CanonicalCase {
    const char* in;
    const char* out;
};
void PrintTo(const CanonicalCase& c, std::ostream* out) { *out << c.in; }
class Canonical : public testing::TestWithParam<CanonicalCase> {};

TEST_P(Canonical, WritesCanonicalText) {
    const Board board = Board::from_fen(GetParam().in);
    EXPECT_EQ(board.fen(), GetParam().out);
    EXPECT_EQ(Board::from_fen(board.fen()), board);
}

INSTANTIATE_TEST_SUITE_P(
    Fen, Canonical,
    testing::Values(CanonicalCase{"8/8/8/8/8/8/8/8 b - -", "8/8/8/8/8/8/8/8 b - -"},
                    CanonicalCase{"7k/8/8/8/8/8/8/8 w - -", "7k/8/8/8/8/8/8/8 w - -"},
                    CanonicalCase{"r6r/8/8/8/8/8/8/k7 b - -", "r6r/8/8/8/8/8/8/k7 b - -"},
                    CanonicalCase{"8/8/8/8/8/8/8/8 w qkQK -", "8/8/8/8/8/8/8/8 w KQkq -"},
                    CanonicalCase{"8/8/8/8/8/8/8/8 w KKQ -", "8/8/8/8/8/8/8/8 w KQ -"},
                    CanonicalCase{"8/8/8/8/8/8/8/8 w - e3", "8/8/8/8/8/8/8/8 w - e6"},
                    CanonicalCase{"8/8/8/8/8/8/8/8 b - a", "8/8/8/8/8/8/8/8 b - a3"},
                    CanonicalCase{"\t8/8/8/8/8/8/8/8  w\tk  -  0 1 ", "8/8/8/8/8/8/8/8 w k -"},
                    CanonicalCase{"K7/8/8/8/8/8/8/7 w - -", "8/7K/8/8/8/8/8/8 w - -"},
                    CanonicalCase{"8/8/8/8/8/8/8/1K0K w - -", "8/8/8/8/8/8/8/1KK5 w - -"}),
    ParamName());

TEST(FenWrite, OverlapWritesLowestPieceIndex) {
    // P on a1, then 7 + 56 empty squares bring the counter back to a1 for n.
    const Board board = Board::from_fen("n/8/8/8/8/8/8/8/7/P w - -");
    EXPECT_EQ(board.bitboards[WHITE_PAWN], bit(0));
    EXPECT_EQ(board.bitboards[BLACK_KNIGHT], bit(0));
    EXPECT_EQ(board.fen(), "8/8/8/8/8/8/8/P7 w - -");
}

TEST(FenWrite, StateWord) {
    Board board = Board::from_fen("8/8/8/8/8/8/8/8 w KQkq e6");
    board.bitboards[STATE] |= StateWord::HIGH_BITS;  // bits 21-63 never show
    EXPECT_EQ(board.fen(), "8/8/8/8/8/8/8/8 w KQkq e6");
    // Only the side to move's group counts, and only its lowest file.
    board.bitboards[STATE] = StateWord::WHITE_TO_MOVE | bit(13 + 3);
    EXPECT_EQ(board.fen(), "8/8/8/8/8/8/8/8 w - -");
    board.bitboards[STATE] = StateWord::WHITE_TO_MOVE | bit(5 + 6) | bit(5 + 2) | bit(13);
    EXPECT_EQ(board.fen(), "8/8/8/8/8/8/8/8 w - c6");
    board.bitboards[STATE] = bit(13 + 7) | bit(5);
    EXPECT_EQ(board.fen(), "8/8/8/8/8/8/8/8 b - h3");
}

}  // namespace
}  // namespace vemla::test
