// The generator's two ways of deciding legality give the same lists: making
// every candidate (generate_reference) and reasoning from the position
// (the fast filter, through generate). Both run on every position reached by
// walking the perft data, by random games, from random placements with random
// state words, and by random pushes that need not be legal; the lists must
// agree code for code, the move count used by perft must be their length, and
// the board must end as it started.
#include <algorithm>
#include <cstdlib>
#include <random>

#include "move_generator/legality.hpp"
#include "test_support.hpp"

namespace vemla::test {
namespace {

std::string texts(const MoveList& list) {
    std::string out;
    for (const ChessMove m : list) out += m.to_string() + "(" + std::to_string(m.special()) + ") ";
    return out;
}

class Differential {
public:
    std::uint64_t compared = 0;
    std::uint64_t fast = 0;  // positions the fast filter decided

    // Compares the two paths on board; false (with a test failure) when they
    // differ. `full` also compares the stacks entry by entry afterwards.
    bool check(Board& board, bool full = false) {
        const auto words = board.bitboards;
        const std::size_t undo = board.undo_stack.size();
        const Board before = full ? board : Board{};
        MoveList quick, reference;
        generator().generate(board, quick);
        const bool quick_kept_board = board.bitboards == words && board.undo_stack.size() == undo;
        generator().generate_reference(board, reference);
        const int count = count_legal_moves(generator(), board);
        ++compared;
        fast += legality::fast_path_applies(board);
        const bool same =
            std::equal(quick.begin(), quick.end(), reference.begin(), reference.end()) &&
            quick.group_end == reference.group_end && count == reference.size;
        const bool kept = quick_kept_board && board.bitboards == words &&
                          board.undo_stack.size() == undo && (!full || board == before);
        if (same && kept) return true;
        ADD_FAILURE() << (same ? "the board changed" : "the paths differ") << " on "
                      << describe(board) << "\n words:" << words_of(board)
                      << "\n fast path: " << legality::fast_path_applies(board)
                      << "\n generate:  " << texts(quick) << "\n reference: " << texts(reference)
                      << "\n count: " << count;
        return false;
    }

    // Checks every position down to depth plies below board.
    bool walk(Board& board, int depth) {
        if (!check(board)) return false;
        if (depth == 0) return true;
        MoveList moves;
        generator().generate(board, moves);
        for (const ChessMove m : moves) {
            board.push_move(m);
            const bool ok = walk(board, depth - 1);
            board.pop_move();
            if (!ok) return false;
        }
        return true;
    }

private:
    static std::string words_of(const Board& board) {
        std::ostringstream out;
        out << std::hex;
        for (const auto w : board.bitboards) out << " 0x" << w;
        return out.str();
    }
};

// Depth 3 in ordinary runs; a reduced scale walks to depth 2.
TEST(Differential, PerftDataWalkedToDepthThree) {
    Differential diff;
    const bool full = scaled(100) == 100;
    for (const char* file : {"perft_standard.epd", "perft_cases.epd", "perft_suite.epd"}) {
        for (const auto& entry : read_epd(file)) {
            if (entry.fen.empty()) VEMLA_MISSING_DATA(file << " not found in " << VEMLA_TEST_DATA);
            Board board = Board::from_fen(entry.fen);
            ASSERT_TRUE(diff.walk(board, full ? 3 : 2)) << entry.fen;
            ASSERT_TRUE(diff.check(board, true));
        }
    }
    if (full) {
        EXPECT_GT(diff.compared, 2'000'000u);
    }
    EXPECT_EQ(diff.fast, diff.compared);  // legal games never leave the fast path
}

// A random move of the list, or none when it is empty.
template <typename Rng>
bool push_random(Board& board, const MoveList& list, Rng& rng) {
    if (list.size == 0) return false;
    board.push_move(list.moves[static_cast<std::size_t>(rng() % static_cast<unsigned>(list.size))]);
    return true;
}

TEST(Differential, RandomGames) {
    Differential diff;
    std::mt19937_64 rng(20260101);
    const auto starts = read_epd("perft_suite.epd");
    for (int game = 0; game < scaled(3000); ++game) {
        const std::string fen = game % 2 || starts.front().fen.empty()
                                    ? std::string(DEFAULT_FEN)
                                    : starts[rng() % starts.size()].fen;
        Board board = Board::from_fen(fen);
        for (int ply = 0; ply < 200; ++ply) {
            ASSERT_TRUE(diff.check(board, ply % 50 == 0)) << "game " << game << " ply " << ply;
            MoveList moves;
            generator().generate(board, moves);
            if (!push_random(board, moves, rng)) break;
        }
        ASSERT_TRUE(diff.check(board, true));
    }
    EXPECT_EQ(diff.fast, diff.compared);
}

// Random pieces anywhere (pawns on the first and last ranks, several kings or
// none, now and then two pieces on one square) and random state words, biased
// towards what the fast path must get right: one king for the side to move,
// kings on their castling squares with rooks on some corners, en-passant
// files set beside pawns, sliders lined up with the king.
template <typename Rng>
Board random_position(Rng& rng) {
    const auto chance = [&](unsigned in) { return rng() % in == 0; };
    const auto square = [&] { return static_cast<int>(rng() % 64); };
    Board board;
    auto& bb = board.bitboards;
    Bitboard occupied = 0;
    const auto place = [&](int piece, int sq) {
        if ((occupied & square_bb(sq)) && !chance(40)) return;
        bb[static_cast<std::size_t>(piece)] |= square_bb(sq);
        occupied |= square_bb(sq);
    };
    const int pieces = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < pieces; ++i) {
        // Kings are rarer than the other pieces.
        const int kind = static_cast<int>(rng() % 11) / 2;
        place(kind + (chance(2) ? 6 : 0), square());
    }
    const bool white = chance(2);
    const int own = white ? 0 : 6;
    const int enemy = 6 - own;
    // One king a side, mostly: on its castling square or on any empty one.
    for (const int side : {own, enemy}) {
        if (chance(10)) continue;
        bb[static_cast<std::size_t>(side + KING)] = 0;
        int sq = side == WHITE_PAWN ? 4 : 60;
        if (!chance(3) || (occupied & square_bb(sq)))
            for (int tries = 0; tries < 100 && (tries == 0 || (occupied & square_bb(sq))); ++tries)
                sq = square();
        place(side + KING, sq);
    }
    for (const int corner : {0, 7, 56, 63})
        if (chance(3)) place((corner < 8) == white ? own + ROOK : enemy + ROOK, corner);
    // Sliders on the king's lines make pins and checks common.
    const Bitboard kings = bb[static_cast<std::size_t>(own + KING)];
    const int king = kings ? lsb(kings) : 0;
    for (int i = static_cast<int>(rng() % 3); i > 0; --i) {
        const Bitboard lines = slider_attacks(king, 0, true) | slider_attacks(king, 0, false);
        Bitboard b = lines;
        for (int skip = static_cast<int>(rng() % 14); skip > 0 && (b & (b - 1)); --skip) b &= b - 1;
        place(enemy + static_cast<int>(BISHOP + rng() % 3), lsb(b));
    }
    std::uint64_t word =
        (white ? StateWord::WHITE_TO_MOVE : 0) | (rng() & StateWord::ALL_CASTLING_RIGHTS);
    if (chance(2)) {
        // An en-passant file next to a pawn of the side to move on its fifth
        // rank, with or without the pawn that could be taken.
        const int file = static_cast<int>(rng() % 8);
        const int rank = white ? 4 : 3;
        word |= StateWord::en_passant_bit(white ? WHITE : BLACK, file);
        const int neighbour = file + (chance(2) ? 1 : -1);
        if (neighbour >= 0 && neighbour < 8) place(own + PAWN, 8 * rank + neighbour);
        if (!chance(4)) place(enemy + PAWN, 8 * rank + file);
    }
    if (chance(4)) word |= rng() & StateWord::ALL_EN_PASSANT;
    if (chance(4)) word |= rng() & StateWord::HIGH_BITS;
    bb[STATE] = word;
    return board;
}

// Any well-formed move whose from-square holds a piece, whoever's it is:
// what Board.push accepts, legal or not.
template <typename Rng>
void push_anything(Board& board, Rng& rng) {
    Bitboard occupied = 0;
    for (std::size_t i = 0; i < 12; ++i) occupied |= board.bitboards[i];
    if (!occupied) return;
    Bitboard b = occupied;
    for (int skip = static_cast<int>(rng() % 32); skip > 0 && (b & (b - 1)); --skip) b &= b - 1;
    board.push_move(
        ChessMove::pack(lsb(b), static_cast<int>(rng() % 64), static_cast<int>(rng() % 8)));
}

TEST(Differential, RandomPlacementsAndStateWords) {
    Differential diff;
    std::mt19937_64 rng(77);
    for (int i = 0; i < scaled(60'000); ++i) {
        Board board = random_position(rng);
        ASSERT_TRUE(diff.walk(board, 1)) << "position " << i;
        // A few plies further, legal or not.
        for (int ply = 0; ply < 6; ++ply) {
            MoveList moves;
            generator().generate(board, moves);
            if (rng() % 5 == 0 || !push_random(board, moves, rng)) push_anything(board, rng);
            ASSERT_TRUE(diff.check(board, ply == 5)) << "position " << i << " ply " << ply;
        }
    }
    EXPECT_GT(diff.fast, diff.compared / 2);
    EXPECT_GT(diff.compared, 1'000'000u * static_cast<unsigned>(scaled(100)) / 100);
}

TEST(Differential, GamesWithIllegalPushes) {
    Differential diff;
    std::mt19937_64 rng(5);
    for (int game = 0; game < scaled(2000); ++game) {
        Board board = Board::from_fen(DEFAULT_FEN);
        for (int ply = 0; ply < 120; ++ply) {
            MoveList candidates;
            generator().candidates(board, candidates);
            // Mostly legal moves; now and then a candidate that may leave the
            // king attacked, or any move at all.
            const unsigned pick = static_cast<unsigned>(rng() % 10);
            if (pick == 0)
                push_anything(board, rng);
            else if (pick == 1)
                push_random(board, candidates, rng);
            else {
                MoveList moves;
                generator().generate(board, moves);
                if (!push_random(board, moves, rng)) push_anything(board, rng);
            }
            ASSERT_TRUE(diff.check(board, ply % 40 == 0)) << "game " << game << " ply " << ply;
        }
    }
    EXPECT_GT(diff.fast, diff.compared / 4);
}

// The attack test against the plainest statement of it: for every square and
// both colours, on random placements (stacked pieces included) and under
// random occupancies, the attackers are the step pieces on the squares a
// piece of their kind would reach from sq, and the sliders that a ray walk
// from sq meets first.
TEST(AttackTest, AttackersMatchARayWalk) {
    std::mt19937_64 rng(31);
    for (int round = 0; round < scaled(3000); ++round) {
        const Board board = random_position(rng);
        const Bitboard occ = round % 2 ? board.occupancy() : board.occupancy() ^ rng();
        for (int sq = 0; sq < 64; ++sq) {
            for (const Colour by : {WHITE, BLACK}) {
                const auto piece = [&](Kind kind) { return board.pieces(by, kind); };
                const Bitboard pawn_from = step_set(
                    sq,
                    std::array<std::int16_t, 2>{static_cast<std::int16_t>(by == WHITE ? -7 : 7),
                                                static_cast<std::int16_t>(by == WHITE ? -9 : 9)},
                    1);
                const Bitboard expected =
                    (step_set(sq, KNIGHT_OFFSETS, 2) & piece(KNIGHT)) | (pawn_from & piece(PAWN)) |
                    (step_set(sq, KING_OFFSETS, 1) & piece(KING)) |
                    (slider_attacks(sq, occ, true) & (piece(ROOK) | piece(QUEEN))) |
                    (slider_attacks(sq, occ, false) & (piece(BISHOP) | piece(QUEEN)));
                ASSERT_EQ(generator().attackers(board, sq, occ, by), expected)
                    << describe(board) << " square " << sq << " by " << by;
                ASSERT_EQ(generator().square_in_check(board, sq, opposite(by)),
                          (generator().attackers(board, sq, board.occupancy(), by) != 0));
            }
        }
    }
}

// Odd positions named one by one: what each needs of the fast path.
TEST(Differential, OddPositions) {
    Differential diff;
    for (const char* fen : {
             "4k3/8/8/8/8/8/8/4K2R w KQkq -",    // castling rights without the queen-side rook
             "4k3/8/8/8/8/8/8/r3K2R w K -",      // castling past a rook that the king hides
             "r3k3/8/8/8/8/8/8/R3K3 w Qq -",     // queen-side only, rook through b1
             "4k3/8/8/3pP3/8/8/8/4K3 w - d6",    // plain en passant
             "4k3/8/8/r2pP2K/8/8/8/8 w - d6",    // en passant pinned along the rank
             "4k3/8/8/3pP3/8/8/8/4K3 w - c6",    // en-passant file with no pawn to take
             "4k3/8/3p4/3pP3/8/8/8/4K3 w - d6",  // e5d6 listed twice: capture and en passant
             "4k3/8/8/2bpP3/8/8/8/K7 w - d6",    // en passant that exposes a diagonal
             "4k3/8/8/8/8/8/8/4K3 w - -",        // bare kings
             "8/8/8/8/8/8/8/8 w - -",            // no king at all
             "4k3/8/8/8/8/8/8/K3K3 w - -",       // two kings to move
             "3qk3/8/8/8/8/8/4R3/4K3 w - -",     // a pinned rook may move along the pin
             "4k3/4r3/8/8/1b6/8/3N4/4K3 w - -",  // knight pinned, king in check
             "4k3/8/8/8/8/5n2/8/r3K3 w - -",     // double check: only the king moves
             "4k3/8/8/8/8/8/3k4/4K3 w - -",      // kings touching: capture the king
             "P3k2P/8/8/8/8/8/8/p3K2p w - -",    // pawns on the first and last ranks
             "p3k2p/8/8/8/8/8/8/P3K2P b - -",
             "4k3/8/8/8/8/8/8/4K3 b KQkq e3",  // rights and en passant for absent pieces
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - ",
             // The mover fills every square: no other move has a destination,
             // the en-passant captures still do.
             "PPPPPPPP/PPPPPPPP/PPPPPPPP/PPPPPPPP/PPPPPPPP/PPPPPPPP/PPPPPPPP/PPPPPPPK w - d6",
             "pppppppk/pppppppp/pppppppp/pppppppp/pppppppp/pppppppp/pppppppp/pppppppp b - d3",
         }) {
        Board board = Board::from_fen(fen);
        ASSERT_TRUE(diff.walk(board, 2)) << fen;
        board.bitboards[STATE] |=
            0xFFFFull << 21 | StateWord::ALL_EN_PASSANT;  // every en-passant bit, high bits
        ASSERT_TRUE(diff.walk(board, 2)) << fen << " with every state bit";
    }
}

}  // namespace
}  // namespace vemla::test
