// The EPD grammar: position fields, operations and their operands, the moves
// of bm, am and pv, the counters, and the line reader over any chunk size.
#include "test_support.hpp"

#include <algorithm>

#include "notation/epd.hpp"

namespace vemla::test {
namespace {

using epd::EpdReader;
using epd::EpdRecord;

constexpr std::string_view KIWIPETE =
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -";

EpdRecord read(std::string_view line) {
    EpdRecord record;
    epd::read_line(generator(), line, record);
    return record;
}

// The operations as (opcode, operands) pairs.
using Ops = std::vector<std::pair<std::string, std::vector<std::string>>>;
Ops ops(const EpdRecord& r) {
    Ops out;
    for (std::size_t i = 0; i < r.operations.size(); ++i) {
        std::vector<std::string> operands;
        for (std::size_t j = 0; j < r.operations[i].count; ++j)
            operands.emplace_back(r.operand(i, j));
        out.emplace_back(std::string(r.opcode(i)), operands);
    }
    return out;
}

std::vector<std::string> texts(const std::vector<ChessMove>& moves) {
    std::vector<std::string> out;
    for (const ChessMove m : moves) out.push_back(m == NULL_MOVE_CODE ? "0000" : m.to_string());
    return out;
}

TEST(Epd, QuotedAndUnquotedOperandsKeepTheirText) {
    const EpdRecord r = read(std::string(KIWIPETE) +
                             R"( bm Qxf6 dxe6; id "kiwi; pete \"x\" \\ \n"; c0 a  b;c1 "";noop;)");
    EXPECT_EQ(r.error, "");
    ASSERT_TRUE(r.has_board);
    EXPECT_EQ(r.board.fen(), KIWIPETE);
    EXPECT_EQ(ops(r), (Ops{{"bm", {"Qxf6", "dxe6"}},
                           {"id", {R"(kiwi; pete "x" \ \n)"}},
                           {"c0", {"a", "b"}},
                           {"c1", {""}},
                           {"noop", {}}}));
    EXPECT_EQ(texts(r.best_moves), (std::vector<std::string>{"f3f6", "d5e6"}));
}

TEST(Epd, SeveralMovesPerOperationResolveInOrder) {
    const EpdRecord r =
        read("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - bm Nf3 e4 g1h3; am f3 Nc3;");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(texts(r.best_moves), (std::vector<std::string>{"g1f3", "e2e4", "g1h3"}));
    EXPECT_EQ(texts(r.avoid_moves), (std::vector<std::string>{"f2f3", "b1c3"}));
}

TEST(Epd, PvIsPlayedMoveByMoveAndTheBoardEndsAtThePosition) {
    const EpdRecord r = read(
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - pv e4 e5 Nf3 -- O-O? ; id x;");
    // O-O is not legal after those moves: the pv keeps what was played.
    EXPECT_EQ(texts(r.pv), (std::vector<std::string>{"e2e4", "e7e5", "g1f3", "0000"}));
    EXPECT_EQ(r.error,
              "pv: move 5: Illegal SAN: no legal move matches \"O-O?\" in "
              "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -");
    EXPECT_EQ(r.board.ply(), 0u);
    EXPECT_EQ(r.board.fen(), std::string(DEFAULT_FEN));
    EXPECT_EQ(ops(r).back(), (Ops::value_type{"id", {"x"}}));
}

TEST(Epd, CountersComeFromTheOperationsOrFromFenFields) {
    EpdRecord r = read("8/8/8/4k3/8/8/8/4K3 b - - hmvc 12; fmvn 40;");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.board.full_fen(), "8/8/8/4k3/8/8/8/4K3 b - - 12 40");
    r = read("8/8/8/4k3/8/8/8/4K3 b - -");
    EXPECT_EQ(r.board.full_fen(), "8/8/8/4k3/8/8/8/4K3 b - - 0 1");
    EXPECT_TRUE(r.operations.empty());
    // FEN's counters after the fourth field; an operation says otherwise.
    r = read("8/8/8/4k3/8/8/8/4K3 b - - 3 7 fmvn 9; bm Kd4");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.board.full_fen(), "8/8/8/4k3/8/8/8/4K3 b - - 3 9");
    EXPECT_EQ(texts(r.best_moves), (std::vector<std::string>{"e5d4"}));
    r = read("8/8/8/4k3/8/8/8/4K3 b - - hmvc x;");
    EXPECT_EQ(r.error, "hmvc: expected one non-negative integer, got \"x\"");
    EXPECT_EQ(r.board.full_fen(), "8/8/8/4k3/8/8/8/4K3 b - - 0 1");
}

TEST(Epd, FaultsAreNamedAndTheRestOfTheLineIsKept) {
    struct Case {
        std::string line, error;
        bool has_board;
        Ops operations;
    };
    const std::string start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
    const std::vector<Case> cases = {
        {"rnbqkbnr/pppppppp/8/8 w", "missing position fields: an EPD line starts with the four "
         "fields of FEN, this one has 2", false, {}},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - id a;",
         "invalid position \"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq -\": Invalid fen: "
         "Invalid side-to-move", false, {{"id", {"a"}}}},
        // The checked reader: a seven-square rank is refused.
        {"rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - bm e4;",
         "invalid position \"rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -\": Invalid fen: "
         "Invalid piece placement: expected eight ranks of eight squares", false, {{"bm", {"e4"}}}},
        {start + " bm e5 Nf3; id y;",
         "bm: Illegal SAN: no legal move matches \"e5\" in " + start, true,
         {{"bm", {"e5", "Nf3"}}, {"id", {"y"}}}},
        {start + " 1bm e4; id z;", "malformed opcode \"1bm\": an opcode is a letter, then letters, "
         "digits and _", true, {{"id", {"z"}}}},
        // Skipping a malformed operation honours its quotes.
        {start + " bm e4 ; %x \"a;b\" c; id w", "malformed opcode \"%x\": an opcode is a "
         "letter, then letters, digits and _", true, {{"bm", {"e4"}}, {"id", {"w"}}}},
        {start + " c0 \"open; quote", "c0: unterminated quoted operand", true,
         {{"c0", {"open; quote"}}}},
        {start + " am --;", "am: Invalid SAN: the null move \"--\" cannot be played in " + start,
         true, {{"am", {"--"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const EpdRecord r = read(c.line);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.has_board, c.has_board);
        EXPECT_EQ(ops(r), c.operations);
        EXPECT_EQ(r.text, c.line);
    }
    // An unresolved move is left out; the others stay.
    const EpdRecord r = read(start + " bm e5 Nf3;");
    EXPECT_EQ(texts(r.best_moves), (std::vector<std::string>{"g1f3"}));
}

TEST(Epd, AmbiguousSanIsRefusedNotGuessed) {
    const EpdRecord r = read("4k3/8/8/8/8/8/4N3/4K2N w - - bm Ng3; bm Nhg3;");
    EXPECT_EQ(r.error.substr(0, 40), "bm: Ambiguous SAN: several legal moves m");
    EXPECT_EQ(texts(r.best_moves), (std::vector<std::string>{"h1g3"}));
    // A repeated opcode keeps both operations.
    EXPECT_EQ(ops(r).size(), 2u);
    const EpdRecord s = read("4k3/8/8/8/8/8/8/6KN w - - bm Ng3; bm Kh2;");
    EXPECT_EQ(texts(s.best_moves), (std::vector<std::string>{"h1g3", "g1h2"}));
}

// Reads the text through a reader that hands out chunk bytes at a time.
std::vector<std::string> read_all(std::string_view text, std::size_t chunk,
                                  std::size_t limit = epd::DEFAULT_LINE_LIMIT) {
    std::size_t at = 0;
    EpdReader reader(
        [&](char* dst, std::size_t capacity) {
            const std::size_t n = std::min({capacity, chunk, text.size() - at});
            std::copy_n(text.data() + at, n, dst);
            at += n;
            return n;
        },
        std::max<std::size_t>(chunk, 1), limit);
    std::vector<std::string> out;
    EpdRecord record;
    while (reader.next(generator(), record)) {
        std::string line = std::to_string(record.line) + "|" + record.text + "|" + record.error;
        for (const ChessMove m : record.best_moves) line += " " + m.to_string();
        out.push_back(line);
    }
    return out;
}

TEST(EpdReader, LineEndsBlankLinesAndChunkSizesReadAlike) {
    const std::string text =
        "\xEF\xBB\xBF" "8/8/8/4k3/8/8/8/4K3 w - - bm Kd2;\r\n"
        "\n"
        "   \t\n"
        "8/8/8/4k3/8/8/8/4K3 b - - bm Kd4;\r"
        "8/8/8/4k3/8/8/8/4K3 w - - bm Kf1;\r\r\n"
        "8/8/8/4k3/8/8/8/4K3 b - - bm Kf4";
    const std::vector<std::string> expected = {
        "1|8/8/8/4k3/8/8/8/4K3 w - - bm Kd2;| e1d2",
        "4|8/8/8/4k3/8/8/8/4K3 b - - bm Kd4;| e5d4",
        "5|8/8/8/4k3/8/8/8/4K3 w - - bm Kf1;| e1f1",
        "7|8/8/8/4k3/8/8/8/4K3 b - - bm Kf4;| e5f4",
    };
    for (const std::size_t chunk : {1u, 2u, 3u, 7u, 64u, 65536u}) {
        SCOPED_TRACE(chunk);
        std::vector<std::string> got = read_all(text, chunk);
        // The last line has no ";": the same operation.
        ASSERT_EQ(got.size(), 4u);
        got[3] = "7|8/8/8/4k3/8/8/8/4K3 b - - bm Kf4;| e5f4";
        EXPECT_EQ(got, expected);
    }
    EXPECT_EQ(read_all("", 5), std::vector<std::string>{});
    EXPECT_EQ(read_all("\n\r\n  \n", 5), std::vector<std::string>{});
}

TEST(EpdReader, ALineOverTheLimitIsReportedAndTheNextOneRead) {
    const std::string text = "8/8/8/4k3/8/8/8/4K3 w - - c0 \"" + std::string(100, 'x') +
                             "\";\n8/8/8/4k3/8/8/8/4K3 w - - bm Kd2;\n";
    for (const std::size_t chunk : {1u, 16u, 4096u}) {
        const std::vector<std::string> got = read_all(text, chunk, 40);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0], "1|" + text.substr(0, 40) + "|line longer than the limit of 40 bytes");
        EXPECT_EQ(got[1], "2|8/8/8/4k3/8/8/8/4K3 w - - bm Kd2;| e1d2");
    }
    // The buffer holds a chunk and at most the limit.
    std::string long_line(100000, 'y');
    std::size_t at = 0;
    EpdReader reader(
        [&](char* dst, std::size_t capacity) {
            const std::size_t n = std::min(capacity, long_line.size() - at);
            std::copy_n(long_line.data() + at, n, dst);
            at += n;
            return n;
        },
        256, 1000);
    EpdRecord record;
    ASSERT_TRUE(reader.next(generator(), record));
    EXPECT_LT(reader.memory(), 4000u);
    EXPECT_FALSE(reader.next(generator(), record));
}

}  // namespace
}  // namespace vemla::test

namespace vemla::test {
namespace {

std::string write(std::string_view fen, const std::vector<epd::OperationText>& operations) {
    Board board = Board::from_full_fen(fen);
    const Board before = board;
    std::string line;
    try {
        line = epd::write_line(generator(), board, operations);
    } catch (...) {
        EXPECT_EQ(board, before);
        throw;
    }
    EXPECT_EQ(board, before);
    return line;
}

TEST(EpdWriter, MovesAreWrittenInSanAndTextIsQuotedWhereItMustBe) {
    const std::string line =
        write(DEFAULT_FEN, {{"bm", {"e2e4", "Nf3"}},
                            {"pv", {"e4", "e7e5", "0000", "Nc6"}},
                            {"id", {"plain"}},
                            {"c7", {"x"}},
                            {"x", {"a;b", "", "c\\d", "q\"", "ok"}},
                            {"noop", {}}});
    EXPECT_EQ(line, std::string(DEFAULT_FEN) +
                        R"( bm e4 Nf3; pv e4 e5 -- Nc6; id "plain"; c7 "x"; x "a;b" "" "c\\d" "q\"" ok; noop;)");
    const EpdRecord r = read(line);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(ops(r)[4], (Ops::value_type{"x", {"a;b", "", "c\\d", "q\"", "ok"}}));
    EXPECT_EQ(texts(r.pv), (std::vector<std::string>{"e2e4", "e7e5", "0000", "b8c6"}));
}

TEST(EpdWriter, RefusalsNameTheFaultAndLeaveTheBoardAsItWas) {
    const auto message = [](const std::vector<epd::OperationText>& operations) {
        return failure_of<InvalidInput>([&] { write(DEFAULT_FEN, operations); });
    };
    EXPECT_EQ(message({{"_x", {}}}),
              "malformed opcode \"_x\": an opcode is a letter, then letters, digits and _");
    EXPECT_EQ(message({{"c0", {"a\rb"}}}), "c0: an operand cannot hold a line end");
    EXPECT_EQ(message({{"pv", {"e4", "e5", "Ke3"}}}),
              "pv: move 3: Illegal SAN: no legal move matches \"Ke3\" in "
              "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6");
    EXPECT_EQ(message({{"pv", {"e4", "e5", "c0\n"}}}), "pv: an operand cannot hold a line end");
    EXPECT_EQ(message({{"am", {"--"}}}).substr(0, 25), "am: Invalid SAN: the null");
}

}  // namespace
}  // namespace vemla::test
