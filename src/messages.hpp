// Fixed message texts that callers see and match exactly.
//
// Some of them read like internal assertions ("assertion failed: ...",
// "index out of bounds: ...", "... cannot be converted to 'PyString'"), but
// they are what Python programs receive in PanicException and TypeError, and
// they are part of the module's contract: they stay word for word as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vemla::messages {

// Prefixes of the two kinds of rejected input (InvalidInput, ValueError in Python).
inline constexpr std::string_view INVALID_FEN = "Invalid fen: ";
inline constexpr std::string_view INVALID_MOVE = "Invalid chess move: ";

// FEN fields with a value that is not allowed.
inline constexpr std::string_view INVALID_SIDE_TO_MOVE = "Invalid fen: Invalid side-to-move";
inline constexpr std::string_view INVALID_CASTLING = "Invalid fen: Invalid castling specifier";
inline constexpr std::string_view INVALID_CASTLING_KING =
    "Invalid fen: Invalid castling field: a right without its colour's king alone on its home rank";
inline constexpr std::string_view INVALID_CASTLING_ROOK =
    "Invalid fen: Invalid castling field: a right without a rook of its colour on that side of "
    "the king";
inline constexpr std::string_view INVALID_EN_PASSANT = "Invalid fen: Invalid en-passant square";
inline constexpr std::string_view INVALID_HALFMOVE_CLOCK = "Invalid fen: Invalid half-move clock";
inline constexpr std::string_view INVALID_MOVE_NUMBER = "Invalid fen: Invalid move number";
inline constexpr std::string_view INVALID_PLACEMENT_SHAPE =
    "Invalid fen: Invalid piece placement: expected eight ranks of eight squares";
inline constexpr std::string_view INVALID_PLACEMENT_CHARACTER =
    "Invalid fen: Invalid piece placement: expected piece letters, digits 1 to 8 and '/'";
static_assert(INVALID_SIDE_TO_MOVE.starts_with(INVALID_FEN) &&
              INVALID_CASTLING.starts_with(INVALID_FEN) &&
              INVALID_EN_PASSANT.starts_with(INVALID_FEN));

// Move text whose squares are out of range, in the order they are tested.
inline constexpr const char* FROM_FILE_OUT_OF_RANGE = "assertion failed: from_file <= 7";
inline constexpr const char* FROM_RANK_OUT_OF_RANGE = "assertion failed: from_rank <= 7";
inline constexpr const char* TO_FILE_OUT_OF_RANGE = "assertion failed: to_file <= 7";
inline constexpr const char* TO_RANK_OUT_OF_RANGE = "assertion failed: to_rank <= 7";

// Move text with fewer characters than squares need: length is the number of
// characters, and also the index that was missing.
inline std::string index_out_of_bounds(std::size_t length) {
    const std::string n = std::to_string(length);
    return "index out of bounds: the len is " + n + " but the index is " + n;
}

// An argument that should have been a str; type_name is the given object's type.
inline std::string not_a_string(std::string_view type_name) {
    return "'" + std::string(type_name) + "' object cannot be converted to 'PyString'";
}

// The same for the later callables, which name Python's own type.
inline std::string not_a_str(std::string_view type_name) {
    return "'" + std::string(type_name) + "' object cannot be converted to 'str'";
}

// An argument that should have been an integer (int or anything with __index__).
inline std::string not_an_integer(std::string_view type_name) {
    return "'" + std::string(type_name) + "' object cannot be interpreted as an integer";
}

// A move that push_legal refuses: the position's FEN and the move's text.
inline std::string not_legal(std::string_view fen, std::string_view move) {
    return std::string(INVALID_MOVE) + "not legal in " + std::string(fen) + ": " +
           std::string(move);
}

// Squares given by name ("e4") or number (0 to 63).
inline std::string invalid_square_name(std::string_view given) {
    return "Invalid square: expected a name from a1 to h8, got \"" + std::string(given) + "\"";
}
inline constexpr const char* INVALID_SQUARE_NUMBER =
    "Invalid square: expected a number from 0 to 63";
inline std::string not_a_square(std::string_view type_name) {
    return "'" + std::string(type_name) + "' object cannot be converted to 'str' or 'int'";
}

// Arguments of the pictures of a Board.
inline constexpr const char* INVALID_SVG_SIZE =
    "Invalid size: expected a number of pixels from 64 to 4096";
inline std::string invalid_orientation(std::string_view given) {
    return "Invalid orientation: expected \"white\" or \"black\", got \"" + std::string(given) +
           "\"";
}

// Arguments of the input planes of a Board.
inline std::string invalid_plane_history(long long given, long long most) {
    return "Invalid history: expected a number of positions from 1 to " + std::to_string(most) +
           ", got " + std::to_string(given);
}
inline std::string invalid_plane_view(std::string_view given) {
    return "Invalid view: expected \"mover\" or \"board\", got \"" + std::string(given) + "\"";
}

}  // namespace vemla::messages
