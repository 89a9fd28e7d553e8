// The plane expansion against its definition: cell 64 * p + k is bit k of word p.
#include <random>

#include "test_support.hpp"

namespace vemla::test {
namespace {

TEST(Planes, EveryCellIsItsBit) {
    std::mt19937_64 rng(5);
    std::vector<std::array<std::uint64_t, 12>> cases;
    std::array<std::uint64_t, 12> words{};
    cases.push_back(words);  // empty
    words.fill(~0ull);
    cases.push_back(words);               // full
    for (int bit = 0; bit < 64; ++bit) {  // one bit, in every plane at once and on its own
        words.fill(square_bb(bit));
        cases.push_back(words);
        words.fill(0);
        words[static_cast<std::size_t>(bit % 12)] = square_bb(bit);
        cases.push_back(words);
    }
    for (int i = 0; i < 1000; ++i) {
        for (auto& w : words) w = rng() & rng();  // sparse as well as dense words
        cases.push_back(words);
    }
    for (const auto& c : cases) {
        Planes cells;
        cells.fill(7);
        expand_planes(c.data(), cells);
        for (std::size_t p = 0; p < 12; ++p)
            for (std::size_t k = 0; k < 64; ++k)
                ASSERT_EQ(cells[64 * p + k], (c[p] >> k) & 1) << "plane " << p << " square " << k;
    }
}

TEST(Planes, InitialPosition) {
    const Board board = Board::from_fen(DEFAULT_FEN);
    Planes cells;
    expand_planes(board.bitboards.data(), cells);
    int set = 0;
    for (const auto cell : cells) set += cell;
    EXPECT_EQ(set, 32);
    const auto cell = [&](int piece, const char* square) {
        return cells[static_cast<std::size_t>(64 * piece + sq(square))];
    };
    EXPECT_EQ(cell(WHITE_KING, "e1"), 1);
    EXPECT_EQ(cell(BLACK_QUEEN, "d8"), 1);
    EXPECT_EQ(cell(BLACK_KING, "d8"), 0);
}

}  // namespace
}  // namespace vemla::test
