// What a game's mainline comments and NAGs say, move by move: the free text
// of the comments, the engine evaluation ([%eval 0.17], [%eval #-3]), the
// clock ([%clk 0:03:00]), the other [%cmd ...] commands, and the NAGs.
//
// The tokenizer keeps comments as they stand; reading them here is the
// second, lazy step, taken only for the games whose annotations are asked
// for. The same record is what the PGN writer writes back.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "notation/pgn_reader.hpp"

namespace vemla::notation {

// An evaluation from White's view: pawns, or moves to mate (> 0: White
// mates, < 0: Black mates).
struct Eval {
    enum Kind : std::uint8_t { NONE, PAWNS, MATE };
    Kind kind = NONE;
    double pawns = 0;
    std::int32_t mate = 0;

    friend bool operator==(const Eval&, const Eval&) = default;
};

// Annotations of a game of plies() moves. Entries that belong between moves
// (comments, commands) have plies() + 1 of them: index 0 before the first
// move, index p after the p-th. Entries of a move (evals, clocks, NAGs) have
// plies() of them: index p - 1 for the p-th move.
struct Annotations {
    std::vector<std::string> comments;  // free text, commands removed, trimmed; empty: none
    std::vector<std::string> commands;  // the other "[%...]" commands as written, space-separated
    std::vector<Eval> evals;
    std::vector<double> clocks;  // seconds; NaN: none
    // (move from 1, NAG), ordered by move; a move's NAGs in the order given.
    std::vector<pgn::PgnNag> nags;

    explicit Annotations(std::size_t plies = 0) { reset(plies); }
    void reset(std::size_t plies);
    std::size_t plies() const { return evals.size(); }
};

// The parts of one game's text that the annotations are read from: its
// mainline comments and NAGs as the tokenizer kept them. Copied out of the
// tokenizer's game, which is reused, and read later.
struct RawAnnotations {
    std::string text;                       // the game's text from offset base on
    std::vector<pgn::PgnComment> comments;  // spans of the game's text
    std::uint32_t base = 0;
    std::vector<pgn::PgnNag> nags;
    std::size_t plies = 0;

    // Copies what belongs to the first plies moves of game; false (nothing
    // copied) when the game has no comment and no NAG.
    bool take(const pgn::PgnGame& game, std::size_t plies);
    Annotations read() const;
};

// Reads comment text into the annotations of the entry at index (0: before
// the first move): commands are taken out of the text, [%eval] and [%clk]
// are read into the move's entries (the first of each that reads; one before
// the first move, or one that does not read, stays a command).
void read_comment(std::string_view text, std::size_t index, Annotations& out);

// [%clk] and [%eval] arguments: "1:02:03.5", "0:03:00", "3:00", "59"; "0.17",
// "-1.5", "+2", "#3", "#-3", optionally followed by ",depth". False if the
// text is not one.
bool read_clock(std::string_view text, double& seconds);
bool read_eval(std::string_view text, Eval& eval);

// The text forms the writer uses, which read back to the same value: the
// shortest decimal of the pawns ("0.17", "-3", "#-3"), and h:mm:ss with the
// shortest fraction of a second where there is one.
void append_eval(std::string& out, const Eval& eval);
void append_clock(std::string& out, double seconds);

}  // namespace vemla::notation
