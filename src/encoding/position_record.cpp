#include "encoding/position_record.hpp"

#include <algorithm>
#include <cstring>

#include "board/facts.hpp"
#include "encoding/policy.hpp"
#include "move_generator/match.hpp"

namespace vemla {

namespace {

constexpr std::uint16_t saturate16(int value) {
    return static_cast<std::uint16_t>(std::clamp(value, 0, 0xFFFF));
}

}  // namespace

std::size_t encode_game(const MoveGenerator& generator, Board& board, const ChessMove* moves,
                        std::size_t count, const GameFrame& frame, std::uint8_t* out) {
    MoveList legal;
    // The counters are followed here rather than derived again at each position.
    int clock = static_cast<int>(std::min<std::uint64_t>(board.halfmove_clock(), 0xFFFF));
    int number = static_cast<int>(std::min<std::uint64_t>(board.fullmove_number(), 0xFFFF));
    for (std::size_t i = 0; i < count; ++i) {
        generator.generate(board, legal);
        const ChessMove* played = find_legal(legal, moves[i]);
        if (!played) return i;
        const StateWord state = board.state();
        const Colour mover = state.side_to_move();
        PositionRecord r{};
        std::copy_n(board.bitboards.begin(), 12, r.pieces);
        r.move = moves[i].value;
        r.policy_lc0 = static_cast<std::uint16_t>(policy_index(*played, mover, PolicyScheme::LC0, board.chess960));
        r.policy_alphazero =
            static_cast<std::uint16_t>(policy_index(*played, mover, PolicyScheme::ALPHAZERO, board.chess960));
        r.ply = saturate16(static_cast<int>(i));
        r.halfmove_clock = saturate16(clock);
        r.fullmove_number = saturate16(number);
        r.white_to_move = mover == WHITE;
        r.castling = static_cast<std::uint8_t>((state.bits & StateWord::ALL_CASTLING_RIGHTS) >> 1);
        r.en_passant = static_cast<std::int8_t>(state.en_passant_square());
        r.result =
            static_cast<std::int8_t>(mover == WHITE ? frame.white_result : -frame.white_result);
        r.repetitions = static_cast<std::uint8_t>(std::min(board.repetitions(), 255));
        r.key = board.zobrist();

        const int from = played->from(), to = played->to();
        const bool pawn = holds(board, mover, PAWN, from);
        const bool capture = (board.pieces(opposite(mover)) >> to) & 1;
        // Copied byte-wise: the caller's buffer need not be aligned for the words.
        std::memcpy(out + i * sizeof r, &r, sizeof r);
        board.push_move(*played);
        clock = pawn || capture ? 0 : clock + 1;
        number += mover == BLACK;
    }
    return count;
}

}  // namespace vemla
