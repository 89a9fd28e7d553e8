// SAN's two ways of deciding: through the list of legal moves (the
// reference) and from the attack tables (parse_san, append_san). On the
// perft positions, along random games from them and on random placements
// with random state words (stacked pieces, several kings or none, odd
// en-passant files), both must write the same SAN for every legal move, and
// read every text of a large family (each piece letter to each square, with
// and without origin files, ranks, promotions, e.p.) to the same move or
// the same refusal, and so must parse_san_sound on the boards sound_for_san
// accepts. The board must end as it started.
#include <random>

#include "board/facts.hpp"
#include "notation/san.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

using Rng = std::mt19937_64;

class SanDifferential {
public:
    std::uint64_t texts = 0;

    void check(Board& board) {
        const Board before = board;
        MoveList list;
        generator().generate(board, list);
        for (const ChessMove m : list) {
            std::string fast, reference;
            const bool a = append_san(generator(), board, m, fast);
            const bool b = append_san_reference(generator(), board, m, reference);
            ASSERT_TRUE(a && b && fast == reference)
                << describe(board) << " " << m.to_string() << ": " << fast << " / " << reference;
            compare(board, fast);
        }
        // Moves given without their codes, illegal moves, and moves of the
        // other side are refused or named alike.
        for (int n = 0; n < 24; ++n) {
            const auto from = static_cast<std::uint16_t>(rng_() % 64);
            const auto to = static_cast<std::uint16_t>(rng_() % 64);
            const auto special = static_cast<std::uint16_t>(rng_() % 10);
            const ChessMove m = ChessMove::pack(from, to, special);
            std::string fast, reference;
            const bool a = append_san(generator(), board, m, fast);
            const bool b = append_san_reference(generator(), board, m, reference);
            ASSERT_TRUE(a == b && fast == reference) << describe(board) << " code " << m.value;
        }
        for (const char* kind : {"", "N", "B", "R", "Q", "K"}) {
            for (int to = 0; to < 64; ++to) {
                const std::string square(SQUARE_NAMES[static_cast<std::size_t>(to)]);
                const std::string base = kind + square;
                compare(board, base);
                compare(board, std::string(kind) + "x" + square);
                const auto file = static_cast<char>('a' + rng_() % 8);
                const auto rank = static_cast<char>('1' + rng_() % 8);
                compare(board, std::string(kind) + file + square);
                compare(board, std::string(kind) + rank + square);
                compare(board, std::string(kind) + file + rank + square);
                if (*kind == 0) {
                    for (const char* promotion : {"=N", "=B", "R", "=Q"}) {
                        compare(board, base + promotion);
                        compare(board, std::string(1, file) + "x" + base + promotion);
                    }
                    compare(board, std::string(1, file) + "x" + base + " e.p.");
                }
            }
        }
        for (const char* text : {"O-O", "O-O-O", "0-0", "--", "Nf", "e9", "exd6e.p.", "Kxe1+"})
            compare(board, text);
        ASSERT_EQ(board, before);
    }

private:
    Rng rng_{2026};

    void compare(Board& board, const std::string& text) {
        ChessMove fast = ChessMove::pack(0, 0), reference = ChessMove::pack(0, 0);
        const SanRejection a = parse_san(generator(), board, text, fast);
        const SanRejection b = parse_san_reference(generator(), board, text, reference);
        ++texts;
        if (a != b || (a == SanRejection::NONE && !(fast == reference)))
            ADD_FAILURE() << describe(board) << " \"" << text << "\": " << static_cast<int>(a)
                          << " " << fast.to_string() << " / " << static_cast<int>(b) << " "
                          << reference.to_string();
        // The game reader's path, on the boards it takes: the same answer,
        // and the mover's kind as the board has it.
        if (!sound_for_san(board)) return;
        ChessMove sound = ChessMove::pack(0, 0);
        int kind = -1;
        const SanRejection c = parse_san_sound(generator(), board, text, sound, kind);
        if (c != b ||
            (c == SanRejection::NONE &&
             (!(sound == reference) || kind != kind_on(board, board.side_to_move(), sound.from()))))
            ADD_FAILURE() << describe(board) << " \"" << text
                          << "\" on a sound board: " << static_cast<int>(c) << " "
                          << sound.to_string() << " kind " << kind << " / " << static_cast<int>(b)
                          << " " << reference.to_string();
    }
};

bool push_random(Board& board, Rng& rng) {
    MoveList list;
    generator().generate(board, list);
    if (list.size == 0) return false;
    board.push_move(list.moves[static_cast<std::size_t>(rng() % static_cast<unsigned>(list.size))]);
    return true;
}

TEST(SanDifferential, PerftPositionsAndRandomGamesFromThem) {
    SanDifferential differential;
    Rng rng(7);
    for (const char* file : {"perft_suite.epd", "perft_cases.epd", "perft_standard.epd"}) {
        for (const EpdEntry& entry : read_epd(file)) {
            if (entry.fen.empty()) GTEST_SKIP() << file << " not found";
            Board board = Board::from_fen(entry.fen);
            for (int ply = 0; ply < 8; ++ply) {
                differential.check(board);
                if (testing::Test::HasFatalFailure() || !push_random(board, rng)) break;
            }
        }
    }
    EXPECT_GT(differential.texts, 100000u);
}

// A few pieces anywhere (now and then two on a square, or no king, or
// several), any castling rights and en-passant files, either side to move.
Board random_position(Rng& rng) {
    Board board;
    const int pieces = 3 + static_cast<int>(rng() % 14);
    for (int i = 0; i < pieces; ++i)
        board.bitboards[rng() % 12] |= square_bb(static_cast<int>(rng() % 64));
    if (rng() % 4) {
        board.bitboards[WHITE_KING] = square_bb(static_cast<int>(rng() % 64));
        board.bitboards[BLACK_KING] = square_bb(static_cast<int>(rng() % 64));
    }
    std::uint64_t state = rng() & 0x1F;
    if (rng() % 2) {
        // Often with a pawn that may take en passant, and beside it the pawn
        // it would take, or another piece, or nothing.
        const Colour side = state & 1 ? WHITE : BLACK;
        const int file = static_cast<int>(rng() % 8);
        state |= StateWord::en_passant_bit(side, file);
        const int beside = file + (side == WHITE ? 32 : 24);
        if (rng() % 4) {
            const int taker = beside + (rng() % 2 ? 1 : -1);
            if (taker / 8 == beside / 8)
                board.bitboards[static_cast<std::size_t>(piece_of(side, PAWN))] |= square_bb(taker);
            for (auto& b : board.bitboards)
                b &= ~square_bb(side == WHITE ? beside + 8 : beside - 8);
            const Piece neighbour =
                piece_of(opposite(side), static_cast<Kind>(rng() % 3 ? 0 : rng() % 6));
            board.bitboards[static_cast<std::size_t>(neighbour)] |= square_bb(beside);
        }
    }
    if (rng() % 8 == 0) state |= (rng() & 0xFFFF) << 5;
    board.bitboards[STATE] = state;
    return board;
}

TEST(SanDifferential, RandomPlacementsAndGamesFromThem) {
    SanDifferential differential;
    Rng rng(11);
    for (int n = 0; n < 200; ++n) {
        Board board = random_position(rng);
        for (int ply = 0; ply < 4; ++ply) {
            differential.check(board);
            if (testing::Test::HasFatalFailure() || !push_random(board, rng)) break;
        }
    }
    EXPECT_GT(differential.texts, 100000u);
}

}  // namespace
}  // namespace vemla::test
