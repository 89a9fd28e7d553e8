// SAN both ways: the names written for legal moves (disambiguation, captures,
// promotions, castling, check and mate), the texts read back (every spelling
// real files carry, and each kind of refusal), and the round trip of every
// legal move on the perft positions and random games.
#include <random>

#include "notation/san.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

// The SAN of a move given as long algebraic text; "<illegal>" if refused.
std::string san_of(Board& board, std::string_view uci) {
    std::string out;
    return append_san(generator(), board, mv(uci), out) ? out : "<illegal>";
}

// The move text a SAN names, or the refusal's name.
std::string parsed(Board& board, std::string_view san) {
    ChessMove move;
    switch (parse_san(generator(), board, san, move)) {
        case SanRejection::NONE: return move.to_string();
        case SanRejection::MALFORMED: return "MALFORMED";
        case SanRejection::NULL_MOVE: return "NULL_MOVE";
        case SanRejection::NO_MATCH: return "NO_MATCH";
        case SanRejection::AMBIGUOUS: return "AMBIGUOUS";
    }
    return "?";
}

struct SanCase {
    const char* fen;
    const char* uci;
    const char* san;
};

void PrintTo(const SanCase& c, std::ostream* os) { *os << c.fen << " " << c.uci << " " << c.san; }

class SanOut : public testing::TestWithParam<SanCase> {};

// Each move's name is written, read back to the same move, and leaves the
// board as it was.
TEST_P(SanOut, WritesAndReadsBack) {
    const SanCase& c = GetParam();
    Board board = Board::from_fen(c.fen);
    const Board before = board;
    EXPECT_EQ(san_of(board, c.uci), c.san);
    EXPECT_EQ(parsed(board, c.san), c.uci);
    EXPECT_EQ(board, before);
}

constexpr const char* DISAMBIGUATION = "N3k2N/8/8/3N4/N4N1N/2R5/1R6/4K3 w - -";
constexpr const char* EP_MATE = "6Q1/5N2/8/R2pP2k/6pp/8/8/K7 w - d6";

INSTANTIATE_TEST_SUITE_P(
    Cases, SanOut,
    testing::Values(
        SanCase{DEFAULT_FEN.data(), "g1f3", "Nf3"}, SanCase{DEFAULT_FEN.data(), "e2e4", "e4"},
        // Origin file, else rank, else the whole square.
        SanCase{DISAMBIGUATION, "e1f1", "Kf1"}, SanCase{DISAMBIGUATION, "c3c2", "Rcc2"},
        SanCase{DISAMBIGUATION, "b2c2", "Rbc2"}, SanCase{DISAMBIGUATION, "a4b6", "N4b6"},
        SanCase{DISAMBIGUATION, "a8b6", "N8b6"}, SanCase{DISAMBIGUATION, "d5b6", "Ndb6"},
        SanCase{DISAMBIGUATION, "h8g6", "N8g6"}, SanCase{DISAMBIGUATION, "h4g6", "Nh4g6"},
        SanCase{DISAMBIGUATION, "f4g6", "Nfg6"}, SanCase{DISAMBIGUATION, "d5e7", "Ne7"},
        // The knight on e2 is pinned: only the b1 knight can reach c3.
        SanCase{"4r1k1/8/8/8/8/8/4N3/1N2K3 w - -", "b1c3", "Nc3"},
        // Captures, en passant (with mate), promotions, castling with check.
        SanCase{"4k3/8/8/3p4/4P3/8/8/4K3 w - -", "e4d5", "exd5"},
        SanCase{"4k3/8/8/3p4/4P3/2N5/8/4K3 w - -", "c3d5", "Nxd5"},
        SanCase{EP_MATE, "e5d6", "exd6#"}, SanCase{"3k4/8/8/8/8/8/8/R3K3 w Q -", "e1c1", "O-O-O+"},
        SanCase{"4k3/8/8/8/8/8/8/4K2R w K -", "e1g1", "O-O"},
        SanCase{"r3k3/8/8/8/8/8/8/4K3 b q -", "e8c8", "O-O-O"},
        SanCase{"8/8/8/8/8/8/5p1K/k7 b - -", "f2f1n", "f1=N+"},
        SanCase{"1r2k3/P7/8/8/8/8/8/4K3 w - -", "a7b8q", "axb8=Q+"},
        SanCase{"1r2k3/P7/8/8/8/8/8/4K3 w - -", "a7a8r", "a8=R"},
        // Fool's mate.
        SanCase{"rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq -", "d8h4", "Qh4#"}),
    ParamName{});

// What real files carry, and each refusal.
TEST(SanIn, AcceptsTheSpellingsOfRealFiles) {
    Board board = Board::from_fen("r3k2r/pPpp1ppp/8/3Pp3/8/5N2/2PP1PPP/R3K2R w KQkq e6");
    const Board before = board;
    for (const auto& [san, uci] : std::vector<std::pair<const char*, const char*>>{
             {"Nf3d4", "f3d4"},     {"Nfd4", "f3d4"},       {"N3d4", "f3d4"},  {"Nd4+", "f3d4"},
             {"Nd4#", "f3d4"},      {"Nd4!", "f3d4"},       {"Nd4?!", "f3d4"}, {"Nd4+!!", "f3d4"},
             {"Ng5??", "f3g5"},     {"dxe6", "d5e6"},       {"de6", "d5e6"},   {"dxe6e.p.", "d5e6"},
             {"dxe6 e.p.", "d5e6"}, {"dxe6 e.p.+", "d5e6"}, {"d5e6", "d5e6"},  {"bxa8=Q", "b7a8q"},
             {"bxa8Q", "b7a8q"},    {"ba8=N+", "b7a8n"},    {"b8Q", "b7b8q"},  {"b8=B", "b7b8b"},
             {"O-O", "e1g1"},       {"0-0", "e1g1"},        {"O-O+", "e1g1"},  {"O-O-O", "e1c1"},
             {"0-0-0", "e1c1"},     {"Ra1b1", "a1b1"},      {"Rxa7", "a1a7"},  {"Ra7", "a1a7"},
             {"Kf1", "e1f1"},       {"d6", "d5d6"}}) {
        EXPECT_EQ(parsed(board, san), uci) << san;
    }
    for (const auto& [san, refusal] : std::vector<std::pair<const char*, const char*>>{
             {"", "MALFORMED"},         {"Nf9", "MALFORMED"},    {"nf3", "MALFORMED"},
             {"Nf3 ", "MALFORMED"},     {"xd4", "MALFORMED"},    {"3d4", "MALFORMED"},
             {"b8=K", "MALFORMED"},     {"Nd4=Q", "MALFORMED"},  {"Nd4e.p.", "MALFORMED"},
             {"O-O e.p.", "MALFORMED"}, {"Ngf3d4", "MALFORMED"}, {"O-O-O-O", "MALFORMED"},
             {"e4 x", "MALFORMED"},     {"--", "NULL_MOVE"},     {"Z0", "NULL_MOVE"},
             {"Nc3", "NO_MATCH"},       {"Ngd4", "NO_MATCH"},    {"b8", "NO_MATCH"},
             {"d6=Q", "NO_MATCH"},      {"e4", "NO_MATCH"},      {"d6 e.p.", "NO_MATCH"},
             {"dxc6", "NO_MATCH"},      {"Bb5", "NO_MATCH"},     {"Kg1", "NO_MATCH"},
             {"exd6", "NO_MATCH"}}) {
        EXPECT_EQ(parsed(board, san), refusal) << san;
    }
    EXPECT_EQ(board, before);

    // Two rooks reach d1 and two knights e4.
    Board ambiguous = Board::from_fen("4k3/8/8/8/8/2N3N1/8/R3K2R w - -");
    EXPECT_EQ(parsed(ambiguous, "Ne4"), "AMBIGUOUS");
    EXPECT_EQ(parsed(ambiguous, "Rf1"), "h1f1");
    EXPECT_EQ(parsed(ambiguous, "Rd1"), "a1d1");
    Board two_rooks = Board::from_fen("4k3/8/8/8/8/8/8/R4RK1 w - -");
    EXPECT_EQ(parsed(two_rooks, "Rd1"), "AMBIGUOUS");
    EXPECT_EQ(parsed(two_rooks, "Rad1"), "a1d1");
    EXPECT_EQ(parsed(two_rooks, "R1d1"), "AMBIGUOUS");
}

// A FEN can put an enemy piece on the en-passant square: the generator then
// lists the capture there twice, as a capture and as en passant. Both make
// the same change, so the SAN names one move and is not ambiguous.
TEST(SanIn, CaptureOntoAnOccupiedEnPassantSquareIsOneMove) {
    Board board = Board::from_fen("4k3/8/4n3/3P4/8/8/8/4K3 w - e6");
    EXPECT_EQ(parsed(board, "dxe6"), "d5e6");
    ChessMove move;
    ASSERT_EQ(parse_san(generator(), board, "dxe6", move), SanRejection::NONE);
    EXPECT_EQ(move.special(), ChessMove::ORDINARY);
    ASSERT_EQ(parse_san(generator(), board, "dxe6 e.p.", move), SanRejection::NONE);
    EXPECT_EQ(move.special(), ChessMove::EN_PASSANT);
    std::string san;
    EXPECT_TRUE(append_san(generator(), board, move, san));
    EXPECT_EQ(san, "dxe6");
}

// Two pieces on one square (a FEN whose placement runs past h8 wraps to a1):
// each move is named after the piece it was generated for, and read back.
TEST(SanIn, StackedPiecesAreNamedByThePieceThatMoves) {
    Board board = Board::from_fen("4k3/8/8/8/8/8/8/4K3 w - -");
    board.bitboards[WHITE_PAWN] |= square_bb(D4);
    board.bitboards[WHITE_KNIGHT] |= square_bb(D4);
    board.bitboards[WHITE_ROOK] |= square_bb(A1);
    board.bitboards[WHITE_QUEEN] |= square_bb(A1);
    EXPECT_EQ(san_of(board, "d4f5"), "Nf5");
    EXPECT_EQ(san_of(board, "d4d5"), "d5");
    EXPECT_EQ(san_of(board, "a1a5"), "Ra5");
    EXPECT_EQ(san_of(board, "a1c3"), "Qc3");
    for (const auto& [san, uci] : std::vector<std::pair<const char*, const char*>>{
             {"Nf5", "d4f5"}, {"d5", "d4d5"}, {"Ra5", "a1a5"}, {"Qc3", "a1c3"}})
        EXPECT_EQ(parsed(board, san), uci) << san;
    EXPECT_EQ(parsed(board, "Qa5"), "NO_MATCH");
    EXPECT_EQ(parsed(board, "Rc3"), "NO_MATCH");
}

TEST(SanOutRefusal, IllegalMoveLeavesOutAndBoardAlone) {
    Board board = Board::from_fen("4r1k1/8/8/8/8/8/4N3/1N2K3 w - -");
    const Board before = board;
    std::string out = "kept";
    for (const char* uci : {"e2c3", "e1e1", "a1a2", "b1b3", "b1c3q", "g8g7"})
        EXPECT_FALSE(append_san(generator(), board, mv(uci), out)) << uci;
    EXPECT_FALSE(append_san(generator(), board, ChessMove::pack(B1, C3, 9), out));
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(board, before);
}

// Every legal move's name reads back to that move: on each perft position and
// along random games from each.
TEST(SanRoundTrip, EveryLegalMoveOfThePerftPositionsAndRandomGames) {
    std::mt19937_64 rng(17);
    std::uint64_t checked = 0;
    for (const char* file : {"perft_suite.epd", "perft_cases.epd"}) {
        for (const EpdEntry& entry : read_epd(file)) {
            if (entry.fen.empty()) GTEST_SKIP() << file << " not found";
            Board board = Board::from_fen(entry.fen);
            for (int ply = 0; ply < 40; ++ply) {
                MoveList list;
                generator().generate(board, list);
                if (list.size == 0) break;
                const Board before = board;
                for (const ChessMove m : list) {
                    std::string san;
                    ASSERT_TRUE(append_san(generator(), board, m, san))
                        << describe(board) << " " << m.to_string();
                    ChessMove back;
                    ASSERT_EQ(parse_san(generator(), board, san, back), SanRejection::NONE)
                        << describe(board) << " " << san;
                    ASSERT_EQ(back, m) << describe(board) << " " << san;
                    ++checked;
                }
                ASSERT_EQ(board, before);
                board.push_move(
                    list.moves[static_cast<std::size_t>(rng() % static_cast<unsigned>(list.size))]);
            }
        }
    }
    EXPECT_GT(checked, 10000u);
}

TEST(SanMessages, NameTheReasonTheTextAndThePosition) {
    const std::string fen(DEFAULT_FEN);
    EXPECT_EQ(san_rejection_message(SanRejection::MALFORMED, "Nf9", fen),
              "Invalid SAN: malformed move text \"Nf9\" in " + fen);
    EXPECT_EQ(san_rejection_message(SanRejection::NULL_MOVE, "--", fen),
              "Invalid SAN: the null move \"--\" cannot be played in " + fen);
    EXPECT_EQ(san_rejection_message(SanRejection::NO_MATCH, "Nf4", fen),
              "Illegal SAN: no legal move matches \"Nf4\" in " + fen);
    EXPECT_EQ(san_rejection_message(SanRejection::AMBIGUOUS, "Nd2", fen),
              "Ambiguous SAN: several legal moves match \"Nd2\" in " + fen);
    EXPECT_EQ(illegal_move_message(mv("e7e8q"), fen),
              "Illegal move: \"e7e8q\" is not a legal move in " + fen);
}

}  // namespace
}  // namespace vemla::test
