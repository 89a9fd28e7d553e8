// Training records: a game stops at its first illegal move with the board
// before it, and every record's fields follow the position it was taken from.
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "encoding/policy.hpp"
#include "encoding/position_record.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

std::vector<ChessMove> parse_all(std::initializer_list<std::string_view> texts) {
    std::vector<ChessMove> moves;
    for (const auto text : texts) moves.push_back(ChessMove::from_str(text));
    return moves;
}

PositionRecord record_at(const std::vector<std::uint8_t>& out, std::size_t i) {
    PositionRecord r;
    std::memcpy(&r, out.data() + i * sizeof r, sizeof r);
    return r;
}

TEST(EncodeGame, StopsAtTheFirstIllegalMoveWithTheBoardBeforeIt) {
    Board board = Board::from_fen(DEFAULT_FEN);
    // e7e5 twice: the second is Black's pawn moving from an empty square.
    const auto moves = parse_all({"e2e4", "e7e5", "g1f3", "e7e5", "d2d4"});
    std::vector<std::uint8_t> out(moves.size() * sizeof(PositionRecord), 0xAA);
    const std::size_t written =
        encode_game(generator(), board, moves.data(), moves.size(), GameFrame{1}, out.data());
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(board.fen(), "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -");
    EXPECT_EQ(board.ply(), 3u);
    // Records after the stop are not touched.
    EXPECT_EQ(out[3 * sizeof(PositionRecord)], 0xAA);
    const PositionRecord first = record_at(out, 0), second = record_at(out, 1),
                         third = record_at(out, 2);
    EXPECT_EQ(first.move, ChessMove::from_str("e2e4").value);
    EXPECT_EQ(first.policy_lc0, 322);
    EXPECT_EQ(second.policy_lc0, 322);  // e7e5 seen from Black is e2e4
    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(second.result, -1);
    EXPECT_EQ(second.en_passant, sq("e3"));
    EXPECT_EQ(third.en_passant, sq("e6"));
    EXPECT_EQ(third.halfmove_clock, 0);
    EXPECT_EQ(third.fullmove_number, 2);
    EXPECT_EQ(third.castling, 15);
    EXPECT_EQ(third.ply, 2);
    EXPECT_EQ(third.repetitions, 1);
    EXPECT_EQ(third.game, 0u);
}

TEST(EncodeGame, CastlingAndPromotionsTakeTheirOwnIndices) {
    Board board = Board::from_fen("r3k3/1P6/8/8/8/8/8/R3K2R w KQq -");
    const auto moves = parse_all({"e1g1", "a8a7", "b7b8n"});
    std::vector<std::uint8_t> out(moves.size() * sizeof(PositionRecord));
    ASSERT_EQ(encode_game(generator(), board, moves.data(), moves.size(), GameFrame{}, out.data()),
              3u);
    const PositionRecord castle = record_at(out, 0), promote = record_at(out, 2);
    EXPECT_EQ(castle.policy_lc0,
              policy_index(ChessMove::pack(sq("e1"), sq("h1")), WHITE, PolicyScheme::LC0));
    EXPECT_EQ(castle.policy_alphazero,
              policy_index(ChessMove::pack(sq("e1"), sq("g1")), WHITE, PolicyScheme::ALPHAZERO));
    EXPECT_EQ(promote.policy_lc0,
              policy_index(ChessMove::pack(sq("b7"), sq("b8")), WHITE, PolicyScheme::LC0));
    EXPECT_EQ(promote.move, ChessMove::from_str("b7b8n").value);
    EXPECT_EQ(record_at(out, 1).castling, 8);  // Black's queen side only, after White castled
}

AnnotationRecord annotation_at(const std::vector<std::uint8_t>& out, std::size_t i) {
    AnnotationRecord r;
    std::memcpy(&r, out.data() + i * sizeof r, sizeof r);
    return r;
}

notation::Eval pawns(double value) { return {notation::Eval::PAWNS, value, 0}; }
notation::Eval mate(std::int32_t moves) { return {notation::Eval::MATE, 0, moves}; }

// Five moves of a game: evals after moves 1, 2 and 4 (a mate), clocks after
// every move but the third.
notation::Annotations five_moves() {
    notation::Annotations notes(5);
    notes.evals[0] = pawns(0.25);
    notes.evals[1] = pawns(-1.5);
    notes.evals[3] = mate(-3);
    notes.clocks = {180, 179, std::nan(""), 170.5, 160};
    return notes;
}

TEST(EncodeAnnotations, EachPositionTakesTheEvalAfterTheMoveThatLedToItFromTheMoversView) {
    const notation::Annotations notes = five_moves();
    std::vector<std::uint8_t> out(5 * sizeof(AnnotationRecord), 0xAA);
    encode_annotations(&notes, WHITE, 5, out.data());
    constexpr auto EVAL = AnnotationRecord::FLAG_EVAL, MATE = AnnotationRecord::FLAG_MATE;
    // The start: no eval. After 1 move Black is to move: White's +0.25 is -0.25.
    EXPECT_EQ(annotation_at(out, 0).flags & (EVAL | MATE), 0);
    EXPECT_TRUE(std::isnan(annotation_at(out, 0).eval));
    EXPECT_FLOAT_EQ(annotation_at(out, 1).eval, -0.25f);
    EXPECT_FLOAT_EQ(annotation_at(out, 2).eval, -1.5f);
    EXPECT_EQ(annotation_at(out, 2).flags & (EVAL | MATE), EVAL);
    EXPECT_EQ(annotation_at(out, 3).flags & (EVAL | MATE), 0);
    // #-3 after move 4, White to move: White is mated in 3.
    const AnnotationRecord mated = annotation_at(out, 4);
    EXPECT_EQ(mated.flags & (EVAL | MATE), MATE);
    EXPECT_EQ(mated.mate, -3);
    EXPECT_TRUE(std::isnan(mated.eval));
    EXPECT_EQ(mated.reserved, 0);

    // From a position with Black to move, every sign turns.
    encode_annotations(&notes, BLACK, 5, out.data());
    EXPECT_FLOAT_EQ(annotation_at(out, 1).eval, 0.25f);
    EXPECT_EQ(annotation_at(out, 4).mate, 3);
}

TEST(EncodeAnnotations, ClocksAreTheMoversBeforeAndAfterItsMoveAndTheOthers) {
    const notation::Annotations notes = five_moves();
    std::vector<std::uint8_t> out(6 * sizeof(AnnotationRecord));
    // One more position than the notes have moves: its entries are absent.
    encode_annotations(&notes, WHITE, 6, out.data());
    constexpr auto CLOCK = AnnotationRecord::FLAG_CLOCK,
                   OTHER = AnnotationRecord::FLAG_OPPONENT_CLOCK,
                   AFTER = AnnotationRecord::FLAG_CLOCK_AFTER;
    const auto clocks = [&](std::size_t i) {
        const AnnotationRecord r = annotation_at(out, i);
        return std::array{r.flags & CLOCK ? r.clock : -1.0f,
                          r.flags & OTHER ? r.opponent_clock : -1.0f,
                          r.flags & AFTER ? r.clock_after : -1.0f};
    };
    EXPECT_EQ(clocks(0), (std::array{-1.0f, -1.0f, 180.0f}));
    EXPECT_EQ(clocks(1), (std::array{-1.0f, 180.0f, 179.0f}));
    EXPECT_EQ(clocks(2), (std::array{180.0f, 179.0f, -1.0f}));  // no clock after move 3
    EXPECT_EQ(clocks(3), (std::array{179.0f, -1.0f, 170.5f}));
    EXPECT_EQ(clocks(4), (std::array{-1.0f, 170.5f, 160.0f}));
    EXPECT_EQ(clocks(5), (std::array{170.5f, 160.0f, -1.0f}));
    EXPECT_TRUE(std::isnan(annotation_at(out, 2).clock_after));
}

TEST(EncodeAnnotations, WithoutNotesEveryFieldIsAbsent) {
    std::vector<std::uint8_t> out(2 * sizeof(AnnotationRecord), 0xAA);
    encode_annotations(nullptr, WHITE, 2, out.data());
    for (std::size_t i = 0; i < 2; ++i) {
        const AnnotationRecord r = annotation_at(out, i);
        EXPECT_EQ(r.flags, 0);
        EXPECT_EQ(r.mate, 0);
        EXPECT_TRUE(std::isnan(r.eval) && std::isnan(r.clock) && std::isnan(r.opponent_clock) &&
                    std::isnan(r.clock_after));
    }
}

TEST(PolicyText, RoundTripsEveryLegalMoveOfTheSuite) {
    for (const auto& fen :
         {std::string(DEFAULT_FEN),
          std::string("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"),
          std::string("n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - -")}) {
        Board board = Board::from_fen(fen);
        MoveList legal;
        generator().generate(board, legal);
        for (const ChessMove move : legal)
            for (const PolicyScheme scheme : {PolicyScheme::LC0, PolicyScheme::ALPHAZERO}) {
                const int index = policy_index(move, board.side_to_move(), scheme);
                ASSERT_GE(index, 0) << move.to_string();
                EXPECT_EQ(policy_text(board, index, scheme), move.to_string()) << fen;
                EXPECT_EQ(policy_index_of_text(board, move.to_string(), scheme), index);
            }
    }
}

}  // namespace
}  // namespace vemla::test
