// Single-move queries: the fast legality test against the reference, and
// captures and checks against what making the move does.
#include <random>

#include "move_generator/legality.hpp"
#include "move_generator/queries.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

// Every from/to pair, plain and with each promotion piece.
std::vector<ChessMove> every_move_text() {
    std::vector<ChessMove> moves;
    for (int from = 0; from < 64; ++from)
        for (int to = 0; to < 64; ++to)
            for (const int special : {0, 4, 5, 6, 7})
                moves.push_back(ChessMove::pack(from, to, special));
    return moves;
}

// The suite's positions and positions reached from them by random moves,
// legal ones and, now and then, an illegal one that stacks two pieces or
// leaves a side without its king, so both paths of move_is_legal are used.
std::vector<Board> positions() {
    std::vector<Board> out;
    std::mt19937 rng(18);
    const std::vector<EpdEntry> suite = read_epd("perft_suite.epd");
    // Slow runs take every step-th starting position.
    const std::size_t step =
        suite.size() / static_cast<std::size_t>(scaled(static_cast<int>(suite.size())));
    // Always some the fallback decides: a piece stacked on another, no king
    // to move, two kings to move.
    Board stacked = Board::from_fen("r3k2r/8/8/8/8/8/4P3/R3K2R w KQkq -");
    stacked.push_move(mv("e1e2"));
    stacked.push_move(mv("a8a1"));
    out.push_back(stacked);
    out.push_back(Board::from_fen("4k3/8/8/8/8/8/4P3/8 w - -"));
    out.push_back(Board::from_fen("4k3/8/8/8/8/8/4P3/K3K3 w - -"));
    for (std::size_t i = 0; i < suite.size(); i += step) {
        const EpdEntry& entry = suite[i];
        Board board = Board::from_fen(entry.fen);
        out.push_back(board);
        for (int ply = 0; ply < 8; ++ply) {
            MoveList list;
            generator().generate(board, list);
            if (rng() % 7 == 0 || list.size == 0) {
                const Bitboard own = board.pieces(board.side_to_move());
                if (!own) break;
                const int from = lsb(own);
                board.push_move(ChessMove::pack(from, static_cast<int>(rng() % 64)));
            } else {
                board.push_move(list.moves[rng() % static_cast<std::size_t>(list.size)]);
            }
            out.push_back(board);
        }
    }
    return out;
}

TEST(MoveQueries, FastLegalityAgreesWithTheReference) {
    const std::vector<ChessMove> texts = every_move_text();
    int legal_seen = 0;
    int reference_positions = 0;
    for (Board board : positions()) {
        const Board before = board;
        MoveList list;
        generator().generate(board, list);
        // every_move_text's index of each listed move.
        std::vector<bool> listed(texts.size());
        for (const ChessMove m : list) {
            const auto promotion = static_cast<std::size_t>(m.is_promotion() ? m.special() - 3 : 0);
            listed[5 * static_cast<std::size_t>(m.from() * 64 + m.to()) + promotion] = true;
        }
        reference_positions += !legality::fast_path_applies(board);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            ASSERT_EQ(move_is_legal(generator(), board, texts[i]), listed[i])
                << describe(board) << texts[i].to_string();
            legal_seen += listed[i];
        }
        for (const ChessMove m : list) ASSERT_TRUE(move_is_legal_reference(generator(), board, m));
        ASSERT_EQ(board, before);
    }
    EXPECT_GT(legal_seen, scaled(5000));
    EXPECT_GT(reference_positions, 0);  // the fallback was exercised
}

TEST(MoveQueries, CaptureAndCheckMatchWhatTheMoveDoes) {
    for (Board board : positions()) {
        const Board before = board;
        MoveList list;
        generator().generate(board, list);
        for (const ChessMove m : list) {
            int pieces_before = 0;
            for (int p = 0; p < 12; ++p)
                pieces_before += std::popcount(board.bitboards[static_cast<std::size_t>(p)]);
            board.push_move(m);
            int pieces_after = 0;
            for (int p = 0; p < 12; ++p)
                pieces_after += std::popcount(board.bitboards[static_cast<std::size_t>(p)]);
            const bool check = generator().is_check(board);
            board.pop_move();
            // A promotion turns a pawn into another piece: the count stays.
            ASSERT_EQ(move_is_capture(board, m), pieces_after < pieces_before)
                << describe(board) << m.to_string();
            ASSERT_EQ(move_gives_check(generator(), board, m), check)
                << describe(board) << m.to_string();
        }
        ASSERT_EQ(board, before);
    }
}

TEST(MoveQueries, PieceLetterIsTheFirstInPieceOrder) {
    Board board = Board::from_fen("4k3/8/8/8/8/8/4P3/4K3 w - -");
    EXPECT_EQ(piece_letter_at(board, E2), 'P');
    EXPECT_EQ(piece_letter_at(board, E8), 'k');
    EXPECT_EQ(piece_letter_at(board, E4), '\0');
    board.push_move(mv("e1e2"));  // the king stacked on its own pawn
    EXPECT_EQ(piece_letter_at(board, E2), 'P');
}

}  // namespace
}  // namespace vemla::test
