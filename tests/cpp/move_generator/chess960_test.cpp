// Chess960: start positions by number, X-FEN and Shredder-FEN, castling by
// the king's move onto its rook, and perft against the Stockfish counts of
// tests/data/chess960 (written by tools/chess960_perft_data.py).
#include <random>

#include "move_generator/legality.hpp"
#include "move_generator/queries.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

std::vector<std::string> split(const std::string& line, char sep) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, sep)) out.push_back(field);
    return out;
}

struct Counted {
    std::string fen;
    std::vector<std::uint64_t> counts;  // depth 1 first
};

std::vector<Counted> read_counts(const char* name, bool numbered) {
    std::ifstream in(data_path(name));
    std::vector<Counted> out;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        auto fields = split(line, ';');
        if (numbered) fields.erase(fields.begin());
        Counted c{fields[0], {}};
        for (std::size_t i = 1; i < fields.size(); ++i) c.counts.push_back(std::stoull(fields[i]));
        out.push_back(c);
    }
    return out;
}

bool deep() {
    const char* value = std::getenv("VEMLA_DEEP_PERFT");
    return value && *value && std::string_view(value) != "0";
}

Board chess960(std::string_view fen) { return Board::from_full_fen(fen, true); }

TEST(Chess960, StartNumbersMatchTheStandardNumbering) {
    EXPECT_EQ(Board::chess960_back_rank(518), "RNBQKBNR");
    EXPECT_EQ(Board::chess960_back_rank(0), "BBQNNRKR");
    EXPECT_EQ(Board::chess960_back_rank(959), "RKRNNQBB");
    std::set<std::string> seen;
    for (int n = 0; n < 960; ++n) seen.insert(Board::chess960_back_rank(n));
    EXPECT_EQ(seen.size(), 960u);
    const Board classical = Board::from_chess960(518);
    EXPECT_TRUE(classical.chess960);
    EXPECT_EQ(classical.bitboards, Board::from_fen(DEFAULT_FEN).bitboards);
    EXPECT_EQ(failure_of<InvalidInput>([] { Board::from_chess960(960); }),
              "Invalid Chess960 start number 960: it must be 0 to 959");
    EXPECT_NE(failure_of<InvalidInput>([] { Board::from_chess960(-1); }), "<no failure>");
}

// Every start to depth 4 (depth 3 at a reduced scale), and the start's
// number gives the data file's FEN.
TEST(Chess960, AllStartsMatchStockfish) {
    const auto starts = read_counts("chess960/starts.txt", true);
    if (starts.empty()) VEMLA_MISSING_DATA("chess960/starts.txt not found in " << VEMLA_TEST_DATA);
    ASSERT_EQ(starts.size(), 960u);
    const int depth = scaled(100) == 100 ? 4 : 3;
    for (int n = 0; n < 960; ++n) {
        const Counted& c = starts[static_cast<std::size_t>(n)];
        Board board = Board::from_chess960(n);
        ASSERT_EQ(board.full_fen(), c.fen) << n;
        const Board before = board;
        ASSERT_EQ(perft(generator(), board, depth), c.counts[static_cast<std::size_t>(depth - 1)])
            << n << " " << c.fen;
        ASSERT_EQ(board, before);
    }
}

// Mid-game positions with rights, in Shredder-FEN as Stockfish writes them:
// all to depth 4, every fifth to depth 5 (all of them with VEMLA_DEEP_PERFT).
TEST(Chess960, MidgamePositionsMatchStockfish) {
    const auto positions = read_counts("chess960/midgame.txt", false);
    if (positions.empty()) VEMLA_MISSING_DATA("chess960/midgame.txt not found in " << VEMLA_TEST_DATA);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const Counted& c = positions[i];
        Board board = chess960(c.fen);
        ASSERT_EQ(board.full_fen(true), c.fen);
        // X-FEN reads back to the same board.
        ASSERT_EQ(chess960(board.full_fen()), board);
        const int depth = deep() || i % 5 == 0 ? 5 : scaled(100) == 100 ? 4 : 3;
        for (int d = 1; d <= depth; ++d)
            ASSERT_EQ(perft(generator(), board, d), c.counts[static_cast<std::size_t>(d - 1)])
                << c.fen << " depth " << d;
        Board reflected = board;
        reflected.reflect();
        ASSERT_EQ(perft(generator(), reflected, 3), c.counts[2]) << "reflected " << c.fen;
    }
}

std::vector<std::string> legal_texts(Board& board) {
    MoveList list;
    generator().generate(board, list);
    std::vector<std::string> out;
    for (const ChessMove m : list) out.push_back(m.to_string());
    return out;
}

bool has(const std::vector<std::string>& moves, std::string_view text) {
    return std::find(moves.begin(), moves.end(), text) != moves.end();
}

// Castling where the king or the rook already stands on its landing square,
// or where they trade squares, and taking each back.
TEST(Chess960, CastlingMovesKingAndRookExactly) {
    struct Case {
        const char* fen;
        const char* move;
        const char* after;
    };
    const Case cases[] = {
        // King already on g1: only the rook moves.
        {"4k3/8/8/8/8/8/8/6KR w K - 0 1", "g1h1", "4k3/8/8/8/8/8/8/5RK1 b - - 1 1"},
        // King on f1, rook on g1: they trade places.
        {"4k3/8/8/8/8/8/8/5KR1 w K - 0 1", "f1g1", "4k3/8/8/8/8/8/8/5RK1 b - - 1 1"},
        // Rook already on d1: only the king moves.
        {"4k3/8/8/8/8/8/8/3RK3 w Q - 0 1", "e1d1", "4k3/8/8/8/8/8/8/2KR4 b - - 1 1"},
        // King on b1, rook on a1, queen side.
        {"4k3/8/8/8/8/8/8/RK6 w Q - 0 1", "b1a1", "4k3/8/8/8/8/8/8/2KR4 b - - 1 1"},
        // King on d1, rook on c1: they trade places.
        {"4k3/8/8/8/8/8/8/2RK4 w Q - 0 1", "d1c1", "4k3/8/8/8/8/8/8/2KR4 b - - 1 1"},
        // Black, on the eighth rank, keeping White's rights.
        {"1r4kr/8/8/8/8/8/8/RK5R b AHbh - 0 1", "g8h8", "1r3rk1/8/8/8/8/8/8/RK5R w HA - 1 2"},
        {"1r4kr/8/8/8/8/8/8/RK5R b AHbh - 0 1", "g8b8", "2kr3r/8/8/8/8/8/8/RK5R w HA - 1 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + c.move);
        Board board = chess960(c.fen);
        const Board before = board;
        auto moves = legal_texts(board);
        ASSERT_TRUE(has(moves, c.move));
        EXPECT_TRUE(move_is_legal(generator(), board, mv(c.move)));
        board.push_move(mv(c.move));
        EXPECT_EQ(board.full_fen(true), c.after);
        board.pop_move();
        EXPECT_EQ(board, before);
    }
}

// Every condition refuses castling on its own.
TEST(Chess960, CastlingConditions) {
    struct Case {
        const char* fen;
        const char* move;
        bool legal;
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/8/1R2K2R w KQ - 0 1", "e1h1", true},
        {"4k3/8/8/8/8/8/8/1R2K2R w KQ - 0 1", "e1b1", true},
        // A piece between the king and its landing square.
        {"4k3/8/8/8/8/8/8/1R2KN1R w KQ - 0 1", "e1h1", false},
        // A piece on the rook's landing square, past the king's.
        {"4k3/8/8/8/8/8/8/RK1N4 w Q - 0 1", "b1a1", false},
        // The queen-side rook crosses b1 and c1 only: a piece on a1 is beside it.
        {"4k3/8/8/8/8/8/8/NRK5 w Q - 0 1", "c1b1", true},
        // The king in check, a square of its path attacked, its landing square attacked.
        {"4k3/8/8/8/8/8/4r3/1R2K2R w KQ - 0 1", "e1h1", false},
        {"4k3/8/8/8/8/8/5r2/1R2K2R w KQ - 0 1", "e1h1", false},
        {"4k3/8/8/8/8/8/6r1/1R2K2R w KQ - 0 1", "e1h1", false},
        // Only the rook's squares attacked: allowed.
        {"4k3/8/8/8/8/8/1r6/1R2K2R w KQ - 0 1", "e1b1", true},
        // The rook shields the landing square from a queen on a1: after
        // castling the king on c1 would stand in check.
        {"4k3/8/8/8/8/8/8/qRK5 w Q - 0 1", "c1b1", false},
        // The same along the king side: queen on h1, rook g1, king f1.
        {"4k3/8/8/8/8/8/8/5KRq w K - 0 1", "f1g1", false},
        // No right.
        {"4k3/8/8/8/8/8/8/1R2K2R w K - 0 1", "e1b1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + c.move);
        Board board = chess960(c.fen);
        EXPECT_EQ(has(legal_texts(board), c.move), c.legal);
        EXPECT_EQ(move_is_legal(generator(), board, mv(c.move)), c.legal);
        MoveList reference;
        generator().generate_reference(board, reference);
        EXPECT_EQ(count_legal_moves(generator(), board), reference.size);
    }
}

TEST(Chess960, RightsLostByKingRookAndCapture) {
    Board board = chess960("1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1");
    board.push_move(mv("g1g5"));  // the king-side rook leaves
    EXPECT_EQ(board.fen(true), "1r2k1r1/8/8/6R1/8/8/8/1R2K3 b Bgb -");
    board.push_move(mv("b8b1"));  // captures the queen-side rook at home
    EXPECT_EQ(board.fen(true), "4k1r1/8/8/6R1/8/8/8/1r2K3 w g -");
    board.pop_move();
    board.pop_move();
    board.push_move(mv("e1d1"));  // the king leaves
    EXPECT_EQ(board.fen(true), "1r2k1r1/8/8/8/8/8/8/1R1K2R1 b gb -");
    // A rook that is not the castling rook moves without loss.
    board = chess960("r3k2r/8/8/8/8/8/8/1R2K2R w Kq - 0 1");
    board.push_move(mv("b1b2"));
    EXPECT_EQ(board.fen(true), "r3k2r/8/8/8/8/8/1R6/4K2R b Ha -");
}

TEST(Chess960, XFenAndShredderFen) {
    // Outer rooks are K and Q; an inner rook is named by its file.
    Board board = chess960("rr2k2r/8/8/8/8/8/8/R2RK1RR w KDkb - 0 1");
    EXPECT_EQ(board.fen(true), "rr2k2r/8/8/8/8/8/8/R2RK1RR w HDhb -");
    EXPECT_EQ(board.fen(), "rr2k2r/8/8/8/8/8/8/R2RK1RR w KDkb -");
    EXPECT_EQ(chess960("rr2k2r/8/8/8/8/8/8/R2RK1RR w GDhb - 0 1").fen(),
              "rr2k2r/8/8/8/8/8/8/R2RK1RR w GDkb -");
    // A standard-looking field reads the same as its Shredder form.
    EXPECT_EQ(chess960(std::string(DEFAULT_FEN) + " 0 1"), Board::from_chess960(518));
    EXPECT_EQ(chess960("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1"),
              Board::from_chess960(518));
    // Refusals, each naming the castling field.
    const std::pair<const char*, FenRejection> refused[] = {
        {"4k3/8/8/8/8/8/8/4K3 w K - 0 1", FenRejection::CASTLING_ROOK},
        {"4k3/8/8/8/8/8/8/R3K3 w K - 0 1", FenRejection::CASTLING_ROOK},
        {"4k3/8/8/8/8/8/8/R3K3 w B - 0 1", FenRejection::CASTLING_ROOK},
        {"4k3/8/8/8/8/8/8/R3K3 w E - 0 1", FenRejection::CASTLING_ROOK},
        {"4k3/8/8/8/8/8/4K3/R6R w K - 0 1", FenRejection::CASTLING_KING},
        {"4k3/8/8/8/8/8/8/RK2K2R w K - 0 1", FenRejection::CASTLING_KING},
        {"4k3/8/8/8/8/8/8/RR2K3 w AB - 0 1", FenRejection::CASTLING},
        {"4k3/8/8/8/8/8/8/R3K2R w KK - 0 1", FenRejection::CASTLING},
        {"4k3/8/8/8/8/8/8/R3K2R w K- - 0 1", FenRejection::CASTLING},
        {"4k3/8/8/8/8/8/8/R3K2R w I - 0 1", FenRejection::CASTLING},
    };
    for (const auto& [fen, rejection] : refused) {
        Board kept;
        EXPECT_EQ(Board::read_full_fen(fen, kept, true), rejection) << fen;
        EXPECT_EQ(kept, Board{});
        EXPECT_TRUE(fen_rejection_message(rejection).starts_with("Invalid fen: Invalid castling"));
    }
    // The standard reader is not changed by any of this.
    EXPECT_EQ(Board::from_full_fen(std::string(DEFAULT_FEN) + " 0 1").chess960, false);
}

// Random games from random starts: the fast filter, the reference and the
// count agree, every made move is taken back exactly, and move_is_legal
// answers each candidate as the list does.
TEST(Chess960, FastPathAgreesWithMakeUnmake) {
    std::mt19937_64 rng(960);
    int castled = 0;
    for (int game = 0; game < scaled(400); ++game) {
        Board board = Board::from_chess960(static_cast<long long>(rng() % 960));
        if (game % 2) {
            // Fewer pieces between kings and rooks: castling comes sooner.
            for (const Kind kind : {KNIGHT, BISHOP, QUEEN})
                for (const Colour colour : {WHITE, BLACK})
                    if (rng() % 2) board.word(piece_of(colour, kind)) &= ~(RANK_1 | RANK_8);
        }
        for (int ply = 0; ply < 120; ++ply) {
            MoveList quick, reference, candidates;
            generator().generate(board, quick);
            generator().generate_reference(board, reference);
            ASSERT_TRUE(std::equal(quick.begin(), quick.end(), reference.begin(), reference.end()))
                << describe(board);
            ASSERT_EQ(quick.group_end, reference.group_end);
            ASSERT_EQ(count_legal_moves(generator(), board), reference.size) << describe(board);
            generator().candidates(board, candidates);
            for (const ChessMove m : candidates)
                ASSERT_EQ(move_is_legal(generator(), board, m),
                          std::find(quick.begin(), quick.end(), m) != quick.end())
                    << describe(board) << " " << m.to_string();
            if (quick.size == 0) break;
            const ChessMove m = quick[static_cast<int>(rng() % static_cast<unsigned>(quick.size))];
            castled += m.special() == ChessMove::CASTLING;
            const Board before = board;
            board.push_move(m);
            Board undone = board;
            undone.pop_move();
            ASSERT_EQ(undone, before) << m.to_string();
        }
    }
    if (scaled(100) == 100) {
        EXPECT_GT(castled, 50);
    }
}

}  // namespace
}  // namespace vemla::test
