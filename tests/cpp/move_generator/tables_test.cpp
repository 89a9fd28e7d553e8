// The magic attack tables: masks, shifts, multipliers and every lookup.
#include "test_support.hpp"

namespace vemla::test {
namespace {

TEST(Tables, ShiftsMatchLayout) {
    // Rank 1 first, files a to h.
    const std::array<std::uint16_t, 64> rook = {
        52, 53, 53, 53, 53, 53, 53, 52, 53, 54, 54, 54, 54, 54, 54, 53, 53, 54, 54, 54, 54, 54,
        54, 53, 53, 54, 54, 54, 54, 54, 54, 53, 53, 54, 54, 54, 54, 54, 54, 53, 53, 54, 54, 54,
        54, 54, 54, 53, 53, 54, 54, 54, 54, 54, 54, 53, 52, 53, 53, 53, 53, 53, 53, 52};
    const std::array<std::uint16_t, 64> bishop = {
        58, 59, 59, 59, 59, 59, 59, 58, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 57, 57, 57, 57,
        59, 59, 59, 59, 57, 55, 55, 57, 59, 59, 59, 59, 57, 55, 55, 57, 59, 59, 59, 59, 57, 57,
        57, 57, 59, 59, 59, 59, 59, 59, 59, 59, 59, 59, 58, 59, 59, 59, 59, 59, 59, 58};
    EXPECT_EQ(ROOK_SHIFTS, rook);
    EXPECT_EQ(BISHOP_SHIFTS, bishop);
}

TEST(Tables, Masks) {
    EXPECT_EQ(ROOK_MASKS[0],
              squares({"b1", "c1", "d1", "e1", "f1", "g1", "a2", "a3", "a4", "a5", "a6", "a7"}));
    EXPECT_EQ(ROOK_MASKS[27],
              squares({"d2", "d3", "d5", "d6", "d7", "b4", "c4", "e4", "f4", "g4"}));
    EXPECT_EQ(get_bishop_cross(0), squares({"b2", "c3", "d4", "e5", "f6", "g7"}));
    EXPECT_EQ(get_bishop_cross(27),
              squares({"b2", "f2", "c3", "e3", "c5", "e5", "b6", "f6", "g7"}));
    for (int s = 0; s < 64; ++s)
        EXPECT_EQ(BISHOP_MASKS[static_cast<std::size_t>(s)], get_bishop_cross(s));
}

TEST(Tables, FixedMultipliers) {
    using Four = std::array<std::uint64_t, 4>;
    EXPECT_EQ(
        (Four{ROOK_MAGICS[0], ROOK_MAGICS[7], ROOK_MAGICS[27], ROOK_MAGICS[63]}),
        (Four{0x0A8002C000108020, 0x2880002041000080, 0x0D14880480100080, 0x0026002114058042}));
    EXPECT_EQ(
        (Four{BISHOP_MAGICS[0], BISHOP_MAGICS[7], BISHOP_MAGICS[27], BISHOP_MAGICS[63]}),
        (Four{0x89A1121896040240, 0x0028808801216001, 0x000400C00C010142, 0x40102000A0A60140}));
}

// The ray walk that every table entry is checked against.
TEST(Tables, RayWalkExamples) {
    EXPECT_EQ(slider_attacks(0, 0, true), 0xFEull | 0x0101010101010100ull);
    EXPECT_EQ(slider_attacks(0, squares({"a3"}), true), squares({"a2", "a3"}) | 0xFEull);
    EXPECT_EQ(slider_attacks(27, 0, false), squares({"a1", "g1", "b2", "f2", "c3", "e3", "c5", "e5",
                                                     "b6", "f6", "a7", "g7", "h8"}));
    EXPECT_EQ(slider_attacks(7, squares({"g2", "h3"}), false), squares({"g2"}));
}

// For every subset of every mask, the table lookup equals the ray walk. If two
// subsets with different attacks shared an index, one of them would fail here.
TEST(Tables, EveryOccupancyLooksUpItsRayWalk) {
    const MoveGenerator& g = generator();
    ASSERT_EQ(g.attack_tables.size(), 128 * TABLE_SIZE);
    for (int s = 0; s < 64; ++s) {
        for (const bool rook : {true, false}) {
            const Bitboard mask =
                rook ? ROOK_MASKS[static_cast<std::size_t>(s)] : get_bishop_cross(s);
            ASSERT_EQ(rook ? rook_index(s, 0) : bishop_index(s, 0), 0u);
            const auto table = rook_bishop_moves(s, mask, rook ? ROOK : BISHOP);
            ASSERT_EQ(table.size(), TABLE_SIZE);
            ASSERT_TRUE(std::equal(table.begin(), table.end(), g.table(2 * s + (rook ? 0 : 1))));
            Bitboard occ = 0;
            do {
                const std::size_t index = rook ? rook_index(s, occ) : bishop_index(s, occ);
                ASSERT_LT(index, rook ? TABLE_SIZE : 512u) << s;
                const Bitboard expected = slider_attacks(s, occ, rook);
                ASSERT_EQ(table[index], expected) << (rook ? "rook " : "bishop ") << s << '\n'
                                                  << to_pretty_string(occ);
                // Squares outside the mask never change the answer.
                const Bitboard noise = ~mask;
                ASSERT_EQ(rook ? g.rook_attacks(s, occ | noise) : g.bishop_attacks(s, occ | noise),
                          expected);
                occ = (occ - mask) & mask;
            } while (occ);
        }
    }
}

}  // namespace
}  // namespace vemla::test
