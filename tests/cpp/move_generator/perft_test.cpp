// Perft counts against the reference data in tests/data.
#include <cstdlib>
#include <map>

#include "test_support.hpp"

namespace vemla::test {
namespace {

// Counts above these are left to runs with VEMLA_DEEP_PERFT set, so that the
// suite stays fast in a Release build.
constexpr std::uint64_t STANDARD_LIMIT = 10'000'000;
constexpr std::uint64_t CASE_LIMIT = 2'000'000;
constexpr std::uint64_t CHECKED_LIMIT = 100'000;  // the recursive checking perft copies boards

bool deep() {
    const char* value = std::getenv("VEMLA_DEEP_PERFT");
    return value && *value && std::string_view(value) != "0";
}

// Checks the listed depths in ascending order up to the limit, stopping at
// the first wrong count. Depth 1 always runs.
void expect_counts(Board& board, const EpdEntry& entry, std::uint64_t limit, int max_depth) {
    const Board before = board;
    for (const auto& [depth, nodes] : entry.counts) {
        if (depth > 1 && !deep() && (nodes > limit || depth > max_depth)) break;
        ASSERT_EQ(perft(generator(), board, depth), nodes) << entry.fen << "  depth " << depth;
        ASSERT_EQ(board, before);
    }
}

class StandardPerft : public testing::TestWithParam<EpdEntry> {};

TEST_P(StandardPerft, MatchesReference) {
    const EpdEntry& entry = GetParam();
    if (entry.fen.empty()) VEMLA_MISSING_DATA(entry.file << " not found in " << VEMLA_TEST_DATA);
    Board board = Board::from_fen(entry.fen);
    expect_counts(board, entry, STANDARD_LIMIT, 5);
}

INSTANTIATE_TEST_SUITE_P(Perft, StandardPerft, testing::ValuesIn(read_epd("perft_standard.epd")),
                         epd_name);

// Special positions (grouped by theme) and a broad suite. Each position is
// also played from the other side: its reflection must give the same counts.
class CasePerft : public testing::TestWithParam<EpdEntry> {};

TEST_P(CasePerft, MatchesReferenceFromBothSides) {
    const EpdEntry& entry = GetParam();
    if (entry.fen.empty()) VEMLA_MISSING_DATA(entry.file << " not found in " << VEMLA_TEST_DATA);
    Board board = Board::from_fen(entry.fen);
    std::istringstream fields(entry.fen);  // the FEN writes back its own first four fields
    std::string placement, side, castling, ep;
    fields >> placement >> side >> castling >> ep;
    EXPECT_EQ(board.fen(), placement + ' ' + side + ' ' + castling + ' ' + ep);
    ASSERT_NO_FATAL_FAILURE(expect_counts(board, entry, CASE_LIMIT, 99));
    board.reflect();
    SCOPED_TRACE("reflected: " + board.fen());
    expect_counts(board, entry, CASE_LIMIT / 10, 99);
}

INSTANTIATE_TEST_SUITE_P(Cases, CasePerft, testing::ValuesIn(read_epd("perft_cases.epd")),
                         epd_name);
INSTANTIATE_TEST_SUITE_P(Suite, CasePerft, testing::ValuesIn(read_epd("perft_suite.epd")),
                         epd_name);

// Perft that also checks, at every node, that generating moves leaves the
// whole record untouched and that each pop_move restores it exactly.
std::uint64_t checked_perft(Board& board, int depth) {
    const Board before = board;
    MoveList moves;
    generator().generate(board, moves);
    if (board != before) {
        ADD_FAILURE() << "generating moves changed the board " << describe(before);
        return 0;
    }
    if (depth <= 1) return static_cast<std::uint64_t>(moves.size);
    std::uint64_t nodes = 0;
    for (const ChessMove m : moves) {
        board.push_move(m);
        nodes += checked_perft(board, depth - 1);
        board.pop_move();
        if (board != before)
            ADD_FAILURE() << "pop_move after " << m.to_string() << " left " << describe(board)
                          << "\ninstead of " << describe(before);
        if (testing::Test::HasFailure()) return nodes;
    }
    return nodes;
}

TEST(CheckedPerft, PopRestoresWholeRecord) {
    int positions = 0;
    for (const char* file : {"perft_standard.epd", "perft_cases.epd", "perft_suite.epd"}) {
        for (const auto& entry : read_epd(file)) {
            for (const auto& [depth, nodes] : entry.counts) {
                if (depth > 3 || nodes > CHECKED_LIMIT) break;
                Board board = Board::from_fen(entry.fen);
                board.bitboards[STATE] |= 0xC3ull << 48;  // bits that carry nothing ride along
                ASSERT_EQ(checked_perft(board, depth), nodes) << entry.fen << "  depth " << depth;
                ++positions;
            }
        }
    }
    if (positions == 0) VEMLA_MISSING_DATA("no perft data files in " << VEMLA_TEST_DATA);
}

// Per-move counts at depth 2, from blocks of "fen <FEN>" then "<move> <count>" lines.
struct DivideBlock {
    int line = 0;
    std::string fen;
    std::map<std::string, std::uint64_t> counts;
};

std::vector<DivideBlock> read_divide() {
    std::ifstream in(data_path("divide_d2.txt"));
    if (!in) return {DivideBlock{}};
    std::vector<DivideBlock> blocks;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (text.rfind("fen ", 0) == 0) {
            blocks.push_back(DivideBlock{line, text.substr(4), {}});
        } else if (!text.empty() && !blocks.empty()) {
            std::istringstream words(text);
            std::string move;
            std::uint64_t count = 0;
            if (words >> move >> count) blocks.back().counts[move] = count;
        }
    }
    return blocks;
}

class Divide : public testing::TestWithParam<DivideBlock> {};

TEST_P(Divide, MatchesReferencePerMove) {
    const DivideBlock& block = GetParam();
    if (block.fen.empty()) VEMLA_MISSING_DATA("divide_d2.txt not found in " << VEMLA_TEST_DATA);
    Board board = Board::from_fen(block.fen);
    MoveList moves;
    generator().generate(board, moves);
    std::map<std::string, std::uint64_t> ours;
    for (const ChessMove m : moves) {
        board.push_move(m);
        const bool fresh = ours.emplace(m.to_string(), perft(generator(), board, 1)).second;
        board.pop_move();
        EXPECT_TRUE(fresh) << block.fen << ": move " << m.to_string() << " generated twice";
    }
    for (const auto& [move, count] : block.counts) {
        const auto it = ours.find(move);
        if (it == ours.end())
            ADD_FAILURE() << block.fen << ": move " << move << " is missing";
        else
            EXPECT_EQ(it->second, count) << block.fen << ": move " << move;
    }
    for (const auto& [move, count] : ours)
        EXPECT_TRUE(block.counts.count(move)) << block.fen << ": move " << move << " is not legal";
}

void PrintTo(const DivideBlock& block, std::ostream* os) {
    *os << "line " << block.line << ' ' << block.fen;
}

std::string divide_name(const testing::TestParamInfo<DivideBlock>& param) {
    return param.param.fen.empty() ? std::string("missing_file")
                                   : "line_" + std::to_string(param.param.line);
}

INSTANTIATE_TEST_SUITE_P(Perft, Divide, testing::ValuesIn(read_divide()), divide_name);

}  // namespace
}  // namespace vemla::test
