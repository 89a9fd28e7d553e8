// Training records: a game stops at its first illegal move with the board
// before it, and every record's fields follow the position it was taken from.
#include <array>
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
