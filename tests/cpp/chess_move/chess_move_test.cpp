// Move codes and their long algebraic text.
#include "test_support.hpp"

namespace vemla::test {
namespace {

struct ParseCase {
    const char* text;
    int from, to, special;
    const char* written;
};
// Names the case in test listings (GoogleTest would otherwise dump its raw
// bytes, padding included).
void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.text; }
class ParseMove : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseMove, PacksFieldsAndWritesBack) {
    const auto& c = GetParam();
    const ChessMove m = mv(c.text);
    EXPECT_EQ(m.value, c.from | (c.to << 6) | (c.special << 12)) << c.text;
    ChessMove parsed{0xFFFF};
    EXPECT_EQ(ChessMove::parse(c.text, parsed), ChessMove::Rejection::NONE);
    EXPECT_EQ(parsed, m);
    EXPECT_EQ(m.to_string(), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Move, ParseMove,
    testing::Values(ParseCase{"e2e4", 12, 28, 0, "e2e4"}, ParseCase{"e7e8q", 52, 60, 7, "e7e8q"},
                    ParseCase{"e7e8Q", 52, 60, 7, "e7e8q"}, ParseCase{"e7e8n", 52, 60, 4, "e7e8n"},
                    ParseCase{"e7e8B", 52, 60, 5, "e7e8b"}, ParseCase{"a2a1R", 8, 0, 6, "a2a1r"},
                    ParseCase{"a1h8", 0, 63, 0, "a1h8"}, ParseCase{"h1a8", 7, 56, 0, "h1a8"},
                    ParseCase{"a1a1", 0, 0, 0, "a1a1"}, ParseCase{"e2e4q", 12, 28, 7, "e2e4q"}),
    ParamName());

// Text rejected as invalid input (panic: false) or ending in a Panic.
struct BadCase {
    std::string text;
    bool panic;
    std::string message;
};
void PrintTo(const BadCase& c, std::ostream* out) { *out << c.text; }
class BadMove : public testing::TestWithParam<BadCase> {};

TEST_P(BadMove, FailsWithMessage) {
    const auto& c = GetParam();
    const std::string message = c.panic ? c.message : "Invalid chess move: " + c.message;
    if (c.panic)
        EXPECT_EQ(failure_of<Panic>([&] { (void)ChessMove::from_str(c.text); }), message) << c.text;
    else
        EXPECT_EQ(failure_of<InvalidInput>([&] { (void)ChessMove::from_str(c.text); }), message)
            << c.text;
    // The same refusal without an exception, the move left as it was.
    ChessMove move{0xABCD};
    const ChessMove::Rejection rejection = ChessMove::parse(c.text, move);
    ASSERT_NE(rejection, ChessMove::Rejection::NONE) << c.text;
    EXPECT_EQ(ChessMove::is_panic(rejection), c.panic) << c.text;
    EXPECT_EQ(ChessMove::rejection_message(rejection, c.text), message) << c.text;
    EXPECT_EQ(move.value, 0xABCD) << c.text;
}

const std::string NOTATION =
    "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: ";
const std::string PROMOTION = "Unsupported promotion type";
std::string out_of_bounds(int n) {
    return "index out of bounds: the len is " + std::to_string(n) + " but the index is " +
           std::to_string(n);
}

INSTANTIATE_TEST_SUITE_P(
    Move, BadMove,
    testing::Values(
        BadCase{"e2e", false, NOTATION + "e2e"}, BadCase{"", false, NOTATION},
        BadCase{"e2e4e4", false, NOTATION + "e2e4e4"},
        BadCase{"e2e4\xC3\xA9", false, NOTATION + "e2e4\xC3\xA9"},  // 5 characters but 6 bytes
        BadCase{"e2e4 ", false, PROMOTION}, BadCase{"e7e8k", false, PROMOTION},
        BadCase{"hello", false, PROMOTION},
        BadCase{"e9e4x", false, PROMOTION},        // the length and letter come before the squares
        BadCase{"e7e\xC3\xA9", false, PROMOTION},  // the last character, not the last byte
        BadCase{"\xC3\xA9"
                "7e8",
                false, PROMOTION},
        BadCase{"E2E4", true, "assertion failed: from_file <= 7"},
        BadCase{"`2e4", true,
                "assertion failed: from_file <= 7"},  // below 'a' wraps to a large value
        BadCase{"a9a1", true, "assertion failed: from_rank <= 7"},
        BadCase{"a0a1", true, "assertion failed: from_rank <= 7"},
        BadCase{"a1i1", true, "assertion failed: to_file <= 7"},
        BadCase{"e2e0", true, "assertion failed: to_rank <= 7"},
        BadCase{std::string(4, '\0'), true, "assertion failed: from_file <= 7"},
        BadCase{"a1\xC3\xA9", true, out_of_bounds(3)},        // a1é: 4 bytes, 3 characters
        BadCase{"\xF0\x9F\x98\x80", true, out_of_bounds(1)},  // one 4-byte character
        BadCase{"\xC3\xA9\xC3\xA9", true, "assertion failed: from_file <= 7"},
        // Only the low byte of a code point counts: U+0161 reads as 'a', U+0131
        // and U+4E31 as '1'; these texts then run out of characters.
        BadCase{"\xC5\xA1"
                "1a",
                true, out_of_bounds(3)},
        BadCase{"a\xC4\xB1"
                "b",
                true, out_of_bounds(3)},
        BadCase{"a\xE4\xB8\xB1", true, out_of_bounds(2)},
        // 5 bytes, 4 characters: the promotion letter is the fourth and fails as a rank.
        BadCase{"a1\xC5\xA1q", true, "assertion failed: to_rank <= 7"}),
    ParamName());

// The constructor checks from, to and special in this order.
TEST(MakeMove, ChecksFieldsInOrder) {
    EXPECT_EQ(ChessMove::make(63, 63, 15).value, 0xFFFF);
    EXPECT_EQ(failure_of<Panic>([] { (void)ChessMove::make(64, 64, 16); }), "Invalid FROM int");
    EXPECT_EQ(failure_of<Panic>([] { (void)ChessMove::make(65535, 0, 0); }), "Invalid FROM int");
    EXPECT_EQ(failure_of<Panic>([] { (void)ChessMove::make(0, 64, 16); }), "Invalid TO int");
    EXPECT_EQ(failure_of<Panic>([] { (void)ChessMove::make(0, 0, 16); }), "Invalid SPECIAL int");
}

TEST(WriteMove, SuffixByCode) {
    EXPECT_EQ(ChessMove::make(4, 6, ChessMove::CASTLING).to_string(), "e1g1");
    EXPECT_EQ(ChessMove::make(36, 43, ChessMove::EN_PASSANT).to_string(), "e5d6");
    char out[5];
    EXPECT_EQ(ChessMove::make(52, 60, 7).write_text(out), 5);
    EXPECT_EQ(ChessMove::make(12, 28, ChessMove::DOUBLE_STEP).write_text(out), 4);
    for (std::uint16_t special = 8; special < 16; ++special)
        EXPECT_EQ(failure_of<Panic>([&] { (void)ChessMove::make(12, 28, special).to_string(); }),
                  "explicit panic")
            << special;
}

// Every square pair and code survives writing and reading back; the
// informational codes 1-3 read back as 0.
TEST(WriteMove, RoundTripsAllMoves) {
    for (std::uint16_t from = 0; from < 64; ++from)
        for (std::uint16_t to = 0; to < 64; ++to)
            for (std::uint16_t special = 0; special < 8; ++special) {
                const ChessMove m = ChessMove::make(from, to, special);
                ASSERT_EQ(mv(m.to_string()).value,
                          special < 4 ? ChessMove::pack(from, to).value : m.value);
            }
}

}  // namespace
}  // namespace vemla::test
