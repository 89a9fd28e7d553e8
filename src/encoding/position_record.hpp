// Training records: one fixed-size record per position of a game, holding the
// piece bitboards, the state around them, the move played and its policy
// indices, so that a whole game is encoded by one call without Python.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/mod.hpp"
#include "move_generator/mod.hpp"
#include "notation/annotations.hpp"

namespace vemla {

// 128 bytes, little-endian on every supported machine, no padding inside the
// fields (readers view a buffer of records as a numpy structured array).
struct PositionRecord {
    std::uint64_t pieces[12];  // the twelve piece bitboards, White's view, P N B R Q K p n b r q k
    std::uint16_t
        move;  // the move played, as the code of its text: from | to << 6 | promotion << 12
    std::uint16_t policy_lc0;        // its lc0 index
    std::uint16_t policy_alphazero;  // its alphazero index
    std::uint16_t ply;               // plies played in the game before this position
    std::uint16_t halfmove_clock;    // plies since the last capture or pawn move
    std::uint16_t fullmove_number;   // starts at the game's number, grows after Black's move
    std::uint8_t white_to_move;      // 1 or 0
    std::uint8_t castling;           // K 1, Q 2, k 4, q 8
    std::int8_t en_passant;          // the square a pawn may capture on en passant, -1 for none
    std::int8_t result;         // the game's result for the side to move: 1 win, 0 draw, -1 loss
    std::uint8_t repetitions;   // how often this position has occurred in the game, itself included
    std::uint8_t reserved0[3];  // zero
    std::uint32_t game;         // zero here: left for the caller's game number
    std::uint64_t key;          // the position's Polyglot key (Board::zobrist)
};
static_assert(sizeof(PositionRecord) == 128);

// How the game ends, as far as the records need it.
struct GameFrame {
    int white_result = 0;  // 1 White won, -1 Black won, 0 drawn or unknown
};

// Plays moves on board in order, writing the record of each position before
// its move; the counters start from the board's own. Every move must be legal: the first that is not (or that is not
// move text at all) ends the game there, with board holding the position
// before it. Returns the number of records written (at most count); board
// keeps the moves played on its undo history. out holds count records of
// sizeof(PositionRecord) bytes, with no alignment needed.
std::size_t encode_game(const MoveGenerator& generator, Board& board, const ChessMove* moves,
                        std::size_t count, const GameFrame& frame, std::uint8_t* out);

// What a game's annotations say of one position, beside its PositionRecord:
// 20 bytes, little-endian, no padding inside. Everything is seen from the side
// to move at the position. A field that is absent has its flag clear and
// holds NaN (mate: 0).
//
// Counting moves from 1, record i is the position after i moves. The [%eval]
// after move i evaluates that position, so it is record i's eval; record 0
// (the game's start) has none, and the eval after the last move belongs to no
// record. [%clk] after a move is the mover's clock once it is made: at record
// i, clock is the side to move's after its previous move (move i - 1),
// opponent_clock the other side's after move i, and clock_after the side to
// move's after the move played from record i (move i + 1), so that clock -
// clock_after (plus the increment) is the time that move took.
struct AnnotationRecord {
    float eval;             // pawns; > 0: good for the side to move
    float clock;            // seconds left on the side to move's clock
    float opponent_clock;   // seconds left on the other side's clock
    float clock_after;      // the side to move's clock after the move played
    std::int16_t mate;      // moves to mate: > 0 the side to move mates, < 0 it is mated
    std::uint8_t flags;     // which fields are present: the FLAG_* bits
    std::uint8_t reserved;  // zero

    static constexpr std::uint8_t FLAG_EVAL = 1, FLAG_MATE = 2, FLAG_CLOCK = 4,
                                  FLAG_OPPONENT_CLOCK = 8, FLAG_CLOCK_AFTER = 16;
};
static_assert(sizeof(AnnotationRecord) == 20);

// Writes the annotation records of the first count positions of a game whose
// start has first_mover to move, from notes (null: nothing is known, every
// field absent). Entries of notes past its plies() count as absent. out holds
// count records of sizeof(AnnotationRecord) bytes, with no alignment needed.
void encode_annotations(const notation::Annotations* notes, Colour first_mover, std::size_t count,
                        std::uint8_t* out);

}  // namespace vemla
