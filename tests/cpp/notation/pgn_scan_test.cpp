// The tokenizer's sixteen-bytes-at-a-time scans against their byte loops:
// every byte value at every place in a block, and random mixes of word and
// other bytes, from every start and to every end.
#include "test_support.hpp"

#include <random>
#include <string>

#include "notation/pgn_scan.hpp"

namespace vemla::test {
namespace {

using namespace pgn::scan;

// Both scans over every start and end of text.
void expect_scans_agree(const std::string& text) {
    const char* data = text.data();
    for (std::size_t end = 0; end <= text.size(); ++end)
        for (std::size_t pos = 0; pos <= end; ++pos) {
            ASSERT_EQ(word_end(data, pos, end), word_end_bytewise(data, pos, end))
                << "word end from " << pos << " to " << end << " in "
                << ::testing::PrintToString(text);
            ASSERT_EQ(find_close(data, pos, end), find_close_bytewise(data, pos, end))
                << "'}' from " << pos << " to " << end << " in " << ::testing::PrintToString(text);
        }
}

TEST(PgnScan, EveryByteEndsAWordExactlyWhenTheByteLoopSaysSo) {
    for (int byte = 0; byte < 256; ++byte) {
        // The byte at each place of two blocks of a word, once alone and once
        // with a space further on, so that the first end found is the earliest.
        for (std::size_t at = 0; at < 34; at += 3) {
            std::string text(40, 'e');
            text[at] = static_cast<char>(byte);
            expect_scans_agree(text);
            text[at + 5] = ' ';
            expect_scans_agree(text);
        }
    }
    // The class table itself: the bytes that end a word.
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        EXPECT_EQ(is_word(c),
                  std::string_view(" \t\n\r\f\v{}()[];$\"").find(c) == std::string_view::npos)
            << byte;
    }
}

TEST(PgnScan, RandomMixesOfWordsAndOtherBytesScanAlike) {
    std::mt19937 rng(2026);
    const std::string others = " \t\n\r{}()[];$\"";
    for (int round = 0; round < 400; ++round) {
        std::string text(rng() % 70, '\0');
        const auto density = 1 + rng() % 20;
        for (char& c : text)
            c = rng() % density == 0 ? others[rng() % others.size()]
                                     : static_cast<char>(rng() % 256);
        expect_scans_agree(text);
    }
}

}  // namespace
}  // namespace vemla::test
