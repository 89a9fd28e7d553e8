// Every path that knows castling agrees with the one table of its squares:
// the generator offers the king's move, making it puts king and rook where
// the table says and clears that colour's rights, SAN names it O-O or O-O-O
// and reads it back, the opening book's king-takes-rook code and the policy
// encodings' text for it name the same move.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "board/castling_geometry.hpp"
#include "board/facts.hpp"
#include "encoding/policy.hpp"
#include "notation/san.hpp"
#include "polyglot/book.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

struct Case {
    const char* fen;
    Colour colour;
};

TEST(CastlingGeometry, EveryPathAgreesWithTheTable) {
    for (const Case c : {Case{"r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq -", WHITE},
                         Case{"r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R b KQkq -", BLACK}}) {
        for (const CastlingSide side : {KING_SIDE, QUEEN_SIDE}) {
            SCOPED_TRACE(std::string(c.fen) + (side == KING_SIDE ? " king side" : " queen side"));
            const CastlingGeometry& g = castling_geometry(c.colour, side);
            Board board = Board::from_fen(c.fen);
            const ChessMove move = ChessMove::pack(g.king_from, g.king_to, ChessMove::CASTLING);

            MoveList legal;
            generator().generate(board, legal);
            EXPECT_NE(std::find(legal.begin(), legal.end(), move), legal.end());

            std::string san;
            ASSERT_TRUE(append_san(generator(), board, move, san));
            EXPECT_EQ(san, side == KING_SIDE ? "O-O" : "O-O-O");
            ChessMove read;
            ASSERT_EQ(parse_san(generator(), board, san, read), SanRejection::NONE);
            EXPECT_EQ(read, move);

            // The book writes castling as the king taking its own rook.
            const auto book_code = static_cast<std::uint16_t>(g.rook_from | g.king_from << 6);
            EXPECT_EQ(book_move(board, book_code), move);

            // lc0 and alphazero take either text for the same index.
            const std::string king_text = ChessMove::pack(g.king_from, g.king_to).to_string();
            const std::string rook_text = ChessMove::pack(g.king_from, g.rook_from).to_string();
            for (const PolicyScheme scheme : {PolicyScheme::LC0, PolicyScheme::ALPHAZERO}) {
                const int index = policy_index(move, c.colour, scheme);
                EXPECT_EQ(policy_index_of_text(board, king_text, scheme), index);
                EXPECT_EQ(policy_index_of_text(board, rook_text, scheme), index);
                EXPECT_EQ(policy_text(board, index, scheme), king_text);
            }

            board.push_move(move);
            EXPECT_EQ(kind_on(board, c.colour, g.king_to), KING);
            EXPECT_EQ(kind_on(board, c.colour, g.rook_to), ROOK);
            EXPECT_EQ(piece_on(board, g.king_from), -1);
            EXPECT_EQ(piece_on(board, g.rook_from), -1);
            EXPECT_FALSE(board.state().bits & StateWord::castling_rights(c.colour));
            EXPECT_TRUE(board.state().bits & StateWord::castling_rights(opposite(c.colour)));
            board.pop_move();
            EXPECT_EQ(board, Board::from_fen(c.fen));
        }
    }
}

// A rook captured on its corner, or moved off it, loses exactly the right the
// table ties to that corner.
TEST(CastlingGeometry, EachCornerHoldsItsOwnRight) {
    for (const Colour colour : {WHITE, BLACK})
        for (const CastlingSide side : {KING_SIDE, QUEEN_SIDE}) {
            const CastlingGeometry& g = castling_geometry(colour, side);
            // An enemy queen takes the rook from the corner's file, two squares in.
            Board board = Board::from_fen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
            const int queen_sq = g.rook_from + (colour == WHITE ? 16 : -16);
            board.word(piece_of(opposite(colour), QUEEN)) |= square_bb(queen_sq);
            if (board.side_to_move() == colour) board.bitboards[STATE] ^= StateWord::WHITE_TO_MOVE;
            board.push_move(ChessMove::pack(queen_sq, g.rook_from));
            const std::uint64_t rights = board.state().bits & StateWord::ALL_CASTLING_RIGHTS;
            EXPECT_EQ(rights,
                      StateWord::ALL_CASTLING_RIGHTS & ~StateWord::castling_right(colour, side))
                << SQUARE_NAMES[static_cast<std::size_t>(g.rook_from)];
        }
}

// The en-passant square the state word's file stands for, as FEN writes and
// the training records keep it.
TEST(EnPassantSquare, FromTheFileAndTheSideToMove) {
    Board white = Board::from_fen("4k3/8/8/3pP3/8/8/8/4K3 w - d6");
    EXPECT_EQ(white.state().en_passant_square(), D6);
    EXPECT_EQ(StateWord::en_passant_victim(D6, WHITE), D5);
    Board black = Board::from_fen("4k3/8/8/8/3Pp3/8/8/4K3 b - d3");
    EXPECT_EQ(black.state().en_passant_square(), D3);
    EXPECT_EQ(StateWord::en_passant_victim(D3, BLACK), D4);
    EXPECT_EQ(Board::from_fen("4k3/8/8/8/8/8/8/4K3 w - -").state().en_passant_square(), -1);
}

}  // namespace
}  // namespace vemla::test
