// ChessMove: one move packed in 16 bits, and its long algebraic text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "failure.hpp"

namespace vemla {

// Bit layout of a move code:
//   bits  0-5   from     square the piece leaves (0-63)
//   bits  6-11  to       square the piece reaches (0-63)
//   bits 12-15  special  0 ordinary move or capture, 1 en-passant capture,
//                        2 pawn double step, 3 castling,
//                        4-7 promotion to knight, bishop, rook, queen;
//                        8-15 unused (accepted, but cannot be written as text)
// Only the promotion codes change what making a move does; codes 1-3 are
// informational, the board recognises those moves from the position.
struct ChessMove {
    // Left uninitialised by default so that move buffers cost nothing to create.
    std::uint16_t value;

    enum Special : std::uint16_t {
        ORDINARY = 0,
        EN_PASSANT = 1,
        DOUBLE_STEP = 2,
        CASTLING = 3,
        PROMOTE_KNIGHT = 4,
        PROMOTE_BISHOP = 5,
        PROMOTE_ROOK = 6,
        PROMOTE_QUEEN = 7,
    };

    // Checked factory ("new" is a keyword); panics on an out-of-range field.
    static ChessMove make(std::uint16_t from, std::uint16_t to, std::uint16_t special);

    // Unchecked packing for the move generator's hot loop.
    static constexpr ChessMove pack(int from, int to, int special = ORDINARY) {
        return ChessMove{static_cast<std::uint16_t>(from | (to << 6) | (special << 12))};
    }

    // Parses long algebraic text ("e2e4", "e7e8q"). Text of the wrong length
    // or with an unknown promotion letter throws InvalidInput with the whole
    // message ("Invalid chess move: ..."); malformed squares end in a Panic.
    // Inline so that the rejection is thrown from the caller's own frame:
    // every frame the exception has to unwind costs more than the parse.
    static ChessMove from_str(std::string_view text) {
        ChessMove move;
        if (const Rejection rejection = parse(text, move); rejection != Rejection::NONE)
            [[unlikely]]
            throw_rejection(rejection, text);
        return move;
    }

    // Why a text is not a move, in the order the parse tests it. NOTATION and
    // PROMOTION are rejected input (InvalidInput); the others are malformed
    // squares (Panic).
    enum class Rejection {
        NONE,
        NOTATION,
        PROMOTION,
        TOO_SHORT,
        FROM_FILE,
        FROM_RANK,
        TO_FILE,
        TO_RANK
    };
    static constexpr bool is_panic(Rejection r) { return r >= Rejection::TOO_SHORT; }
    // The steps of from_str without exceptions: sets move and returns NONE,
    // or returns why the text was rejected and leaves move alone.
    static Rejection parse(std::string_view text, ChessMove& move);
    // The whole message of a rejection of text, prefix included.
    static std::string rejection_message(Rejection rejection, std::string_view text);
    // For a malformed square: the whole text and what is wrong with it, in
    // words ("move text 'e2e9': the to-square's rank is not a digit 1 to 8");
    // empty for the other rejections, whose message names the text already.
    static std::string rejection_note(Rejection rejection, std::string_view text);
    // The message of a rejection for callers that check their input and
    // refuse all of it as InvalidInput: rejected input keeps its message, and
    // a malformed square is described in words with the whole text
    // ("Invalid chess move: move text 'e2e9': the to-square's rank is not a
    // digit 1 to 8").
    static std::string input_rejection_message(Rejection rejection, std::string_view text);
    // from_str for such callers: every refusal is InvalidInput with that message.
    static ChessMove from_checked_str(std::string_view text) {
        ChessMove move;
        if (const Rejection rejection = parse(text, move); rejection != Rejection::NONE)
            [[unlikely]]
            throw InvalidInput(input_rejection_message(rejection, text));
        return move;
    }
    // Throws what a rejection (not NONE) of text stands for: Panic or InvalidInput.
    [[noreturn]] static void throw_rejection(Rejection rejection, std::string_view text) {
        if (is_panic(rejection))
            throw Panic(rejection_message(rejection, text), rejection_note(rejection, text));
        throw InvalidInput(rejection_message(rejection, text));
    }

    constexpr int from() const { return value & 63; }
    constexpr int to() const { return (value >> 6) & 63; }
    constexpr int special() const { return value >> 12; }
    constexpr bool is_promotion() const {
        return special() >= PROMOTE_KNIGHT && special() <= PROMOTE_QUEEN;
    }

    // Writes the text form into out (at least 5 bytes) and returns its length
    // (4 or 5). Panics on special codes 8-15.
    int write_text(char* out) const;
    std::string to_string() const;

    friend constexpr bool operator==(ChessMove a, ChessMove b) { return a.value == b.value; }
};

// The null move of game files (the side to move passes, "0000" as move text)
// where a list of moves holds one: a1a1, which no legal move is. Only the
// code paths that say so read it as a null move; Board::push_move does not.
inline constexpr ChessMove NULL_MOVE_CODE{0};

}  // namespace vemla
