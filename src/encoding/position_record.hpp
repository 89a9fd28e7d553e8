// Training records: one fixed-size record per position of a game, holding the
// piece bitboards, the state around them, the move played and its policy
// indices, so that a whole game is encoded by one call without Python.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/mod.hpp"
#include "move_generator/mod.hpp"

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

}  // namespace vemla
