#include "encoding/position_record.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "board/facts.hpp"
#include "encoding/policy.hpp"
#include "move_generator/match.hpp"

namespace vemla {

namespace {

constexpr std::uint16_t saturate16(int value) {
    return static_cast<std::uint16_t>(std::clamp(value, 0, 0xFFFF));
}

constexpr float ABSENT = std::numeric_limits<float>::quiet_NaN();

// The clock of ply p (the mover's after move p + 1), or NaN for none.
double clock_of(const notation::Annotations& notes, std::ptrdiff_t p) {
    return p >= 0 && static_cast<std::size_t>(p) < notes.plies()
               ? notes.clocks[static_cast<std::size_t>(p)]
               : std::numeric_limits<double>::quiet_NaN();
}

// Stores a clock in seconds where there is one, setting its flag.
void put_clock(float& field, double seconds, std::uint8_t flag, std::uint8_t& flags) {
    if (std::isnan(seconds)) return;
    field = static_cast<float>(seconds);
    flags |= flag;
}

}  // namespace

void encode_annotations(const notation::Annotations* notes, Colour first_mover, std::size_t count,
                        std::uint8_t* out) {
    for (std::size_t i = 0; i < count; ++i) {
        AnnotationRecord r{ABSENT, ABSENT, ABSENT, ABSENT, 0, 0, 0};
        if (notes) {
            // +1 where White is to move at record i: White's view to the mover's.
            const bool white = (first_mover == WHITE) == (i % 2 == 0);
            const double sign = white ? 1.0 : -1.0;
            if (i > 0 && i - 1 < notes->plies()) {
                const notation::Eval& eval = notes->evals[i - 1];
                if (eval.kind == notation::Eval::PAWNS) {
                    r.eval = static_cast<float>(sign * eval.pawns);
                    r.flags |= AnnotationRecord::FLAG_EVAL;
                } else if (eval.kind == notation::Eval::MATE) {
                    const std::int32_t mate = white ? eval.mate : -eval.mate;
                    r.mate =
                        static_cast<std::int16_t>(std::clamp<std::int32_t>(mate, -32767, 32767));
                    r.flags |= AnnotationRecord::FLAG_MATE;
                }
            }
            const auto at = static_cast<std::ptrdiff_t>(i);
            put_clock(r.clock, clock_of(*notes, at - 2), AnnotationRecord::FLAG_CLOCK, r.flags);
            put_clock(r.opponent_clock, clock_of(*notes, at - 1),
                      AnnotationRecord::FLAG_OPPONENT_CLOCK, r.flags);
            put_clock(r.clock_after, clock_of(*notes, at), AnnotationRecord::FLAG_CLOCK_AFTER,
                      r.flags);
        }
        std::memcpy(out + i * sizeof r, &r, sizeof r);
    }
}

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
