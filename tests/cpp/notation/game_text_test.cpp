// The game text's appends: what they hold against a std::string doing the
// same, across growth, from the text itself, and with fixed-length copies.
#include "test_support.hpp"

#include <random>

#include "notation/pgn_reader.hpp"

namespace vemla::test {
namespace {

using pgn::GameText;

TEST(GameText, AppendsHoldWhatAStringWouldAcrossGrowthAndReuse) {
    std::mt19937 rng(28);
    GameText text;
    std::string expected;
    std::string source(4096, '\0');
    for (char& c : source) c = static_cast<char>('a' + rng() % 26);
    for (int round = 0; round < 3; ++round) {
        for (int step = 0; step < 2000; ++step) {
            const std::size_t at = rng() % 4000, count = rng() % 60;
            switch (rng() % 5) {
                case 0: text.push_back(source[at]); expected.push_back(source[at]); break;
                case 1:
                    // From a longer buffer: the bytes beyond the piece stay out.
                    text.append_within(source.data() + at, count, source.size() - at);
                    expected.append(source, at, count);
                    break;
                case 2:
                    if (!expected.empty()) {
                        // From the text itself, which may move as it grows.
                        const std::size_t from = rng() % expected.size();
                        const std::size_t n = std::min<std::size_t>(count, expected.size() - from);
                        text.append(text.data() + from, n);
                        expected.append(expected.substr(from, n));
                    }
                    break;
                case 3: {
                    const std::size_t size = expected.empty() ? 0 : rng() % expected.size();
                    text.resize(size);
                    expected.resize(size);
                    break;
                }
                default: text.append(source.data() + at, count); expected.append(source, at, count);
            }
            ASSERT_EQ(std::string_view(text), expected);
        }
        const std::size_t capacity = text.capacity();
        text.clear();
        expected.clear();
        EXPECT_TRUE(text.empty());
        EXPECT_EQ(text.capacity(), capacity);  // reused without allocating again
    }
    text.resize(5);
    EXPECT_EQ(std::string(text).size(), 5u);
    const GameText copy = text;
    EXPECT_EQ(std::string(copy), std::string(text));
    GameText moved = std::move(text);
    EXPECT_EQ(std::string(moved), std::string(copy));
    EXPECT_EQ(text.size(), 0u);
    text.append("abc", 3);
    EXPECT_TRUE(text == "abc");
}

}  // namespace
}  // namespace vemla::test
