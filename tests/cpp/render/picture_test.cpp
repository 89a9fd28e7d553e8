// The text diagram, orientation names and the SVG size limits.
#include "render/picture.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

constexpr const char* KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -";

TEST(Diagram, StartingPositionBothWays) {
    const auto words = Board::from_fen(DEFAULT_FEN).bitboards;
    EXPECT_EQ(diagram(words, WHITE),
              "8 r n b q k b n r\n"
              "7 p p p p p p p p\n"
              "6 . . . . . . . .\n"
              "5 . . . . . . . .\n"
              "4 . . . . . . . .\n"
              "3 . . . . . . . .\n"
              "2 P P P P P P P P\n"
              "1 R N B Q K B N R\n"
              "  a b c d e f g h\n"
              "white to move, castling KQkq, en passant -");
    // Turned round: rank 1 on top, files h to a; the king and queen swap sides.
    EXPECT_EQ(diagram(words, BLACK),
              "1 R N B K Q B N R\n"
              "2 P P P P P P P P\n"
              "3 . . . . . . . .\n"
              "4 . . . . . . . .\n"
              "5 . . . . . . . .\n"
              "6 . . . . . . . .\n"
              "7 p p p p p p p p\n"
              "8 r n b k q b n r\n"
              "  h g f e d c b a\n"
              "white to move, castling KQkq, en passant -");
}

// Every square of the diagram agrees with the FEN placement, whichever way up.
TEST(Diagram, AgreesWithFenSquareBySquare) {
    for (const char* fen :
         {KIWIPETE, "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", "8/8/8/8/8/8/8/8 b - -"}) {
        const Board board = Board::from_fen(fen);
        for (const Colour orientation : {WHITE, BLACK}) {
            const std::string text = diagram(board.bitboards, orientation);
            const bool flipped = orientation == BLACK;
            for (int square = 0; square < 64; ++square) {
                const int row = flipped ? rank_of(square) : 7 - rank_of(square);
                const int column = flipped ? 7 - file_of(square) : file_of(square);
                const char shown = text[static_cast<std::size_t>(row * 18 + 2 + 2 * column)];
                const unsigned mask = pieces_on(board.bitboards, square);
                EXPECT_EQ(shown, mask ? PIECE_LETTERS[std::countr_zero(mask)] : '.')
                    << fen << " square " << square;
            }
        }
    }
}

// The status line follows fen(): castling letters in KQkq order, and the
// en-passant square of the side to move only.
TEST(Diagram, StatusLine) {
    const auto last_line = [](const Board& board) {
        const std::string text = diagram(board.bitboards, WHITE);
        return text.substr(text.rfind('\n') + 1);
    };
    Board board = Board::from_fen(DEFAULT_FEN);
    board.push_move(mv("e2e4"));
    EXPECT_EQ(last_line(board), "black to move, castling KQkq, en passant e3");
    EXPECT_EQ(last_line(Board::from_fen("4k3/8/8/8/8/8/8/4K3 b qk -")),
              "black to move, castling kq, en passant -");
    EXPECT_EQ(last_line(Board::from_fen("4k3/8/8/8/8/8/8/4K3 w - -")),
              "white to move, castling -, en passant -");
    // Bits of the side not to move never show.
    Board other = Board::from_fen("4k3/8/8/8/8/8/8/4K3 w - -");
    other.bitboards[STATE] |= StateWord::en_passant_bit(BLACK, 2);
    EXPECT_EQ(last_line(other), "white to move, castling -, en passant -");
}

// Pieces stacked by illegal moves: the square shows the lowest piece index,
// and the status line names every piece of every stacked square.
TEST(Diagram, StackedPieces) {
    Board board = Board::from_fen(DEFAULT_FEN);
    board.push_move(mv("d1d2"));
    board.push_move(mv("g8e7"));
    const std::string text = diagram(board.bitboards, BLACK);
    EXPECT_EQ(text.substr(text.find("\n2 ") + 1, 17), "2 P P P P P P P P");
    EXPECT_TRUE(text.ends_with("white to move, castling KQkq, en passant -, stacked d2=PQ e7=pn"))
        << text;
}

TEST(Pictures, OrientationNamesAndSizeLimits) {
    EXPECT_EQ(orientation_from_str("white"), WHITE);
    EXPECT_EQ(orientation_from_str("black"), BLACK);
    for (const char* bad : {"White", "b", "", "white "})
        EXPECT_EQ(failure_of<InvalidInput>([&] { orientation_from_str(bad); }),
                  std::string("Invalid orientation: expected \"white\" or \"black\", got \"") +
                      bad + "\"");
    const auto words = Board::from_fen(DEFAULT_FEN).bitboards;
    for (const long long size : {SVG_MIN_SIZE - 1, SVG_MAX_SIZE + 1, 0LL, -360LL})
        EXPECT_EQ(failure_of<InvalidInput>([&] { svg(words, size, WHITE); }),
                  "Invalid size: expected a number of pixels from 64 to 4096");
    for (const long long size : {SVG_MIN_SIZE, SVG_MAX_SIZE})
        EXPECT_NE(svg(words, size, WHITE).find(" width=\"" + std::to_string(size) + "\""),
                  std::string::npos);
}

// Every piece of every bitboard is drawn, a square holding all twelve included,
// whatever the state word holds.
TEST(Pictures, SvgDrawsEveryPiece) {
    const auto count = [](const std::string& text, std::string_view what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    PositionWords words = Board::from_fen(KIWIPETE).bitboards;
    EXPECT_EQ(count(svg(words, 360, WHITE), "<g transform="), 32u);
    for (std::size_t piece = 0; piece < 12; ++piece) words[piece] |= square_bb(E4);
    words[STATE] = ~std::uint64_t{0};
    for (const Colour orientation : {WHITE, BLACK}) {
        const std::string text = svg(words, 360, orientation);
        EXPECT_EQ(count(text, "<g transform="), 32u + 11u);  // e4 already held a white pawn
        EXPECT_EQ(count(text, "fill=\"none\" stroke=\"#c0392b\""),
                  1u);  // the stacked square's frame
        EXPECT_TRUE(text.ends_with("</svg>\n"));
    }
}

}  // namespace
}  // namespace vemla::test
