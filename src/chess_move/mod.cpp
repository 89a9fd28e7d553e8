// Parsing and writing of long algebraic move text.
#include "chess_move/mod.hpp"

#include <array>

#include "failure.hpp"
#include "messages.hpp"
#include "utf8.hpp"

namespace vemla {

ChessMove ChessMove::make(std::uint16_t from, std::uint16_t to, std::uint16_t special) {
    expect(from < 64, "Invalid FROM int");
    expect(to < 64, "Invalid TO int");
    expect(special < 16, "Invalid SPECIAL int");
    return pack(from, to, special);
}

namespace {

// A coordinate character reduced to its low byte, measured from base with
// unsigned 8-bit wrap-around: anything below base becomes large and fails.
std::uint8_t coordinate(char32_t c, char base) {
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) -
                                     static_cast<std::uint8_t>(base));
}

// The characters of text, counted the way parse reads them.
std::size_t character_count(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count) utf8::next(text, pos);
    return count;
}

}  // namespace

std::string ChessMove::rejection_message(Rejection rejection, std::string_view text) {
    switch (rejection) {
        case Rejection::NONE: break;
        case Rejection::NOTATION:
            return std::string(messages::INVALID_MOVE) +
                   "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: " +
                   std::string(text);
        case Rejection::PROMOTION:
            return std::string(messages::INVALID_MOVE) + "Unsupported promotion type";
        // The character that was missing is the one at index length.
        case Rejection::TOO_SHORT: return messages::index_out_of_bounds(character_count(text));
        case Rejection::FROM_FILE: return messages::FROM_FILE_OUT_OF_RANGE;
        case Rejection::FROM_RANK: return messages::FROM_RANK_OUT_OF_RANGE;
        case Rejection::TO_FILE: return messages::TO_FILE_OUT_OF_RANGE;
        case Rejection::TO_RANK: return messages::TO_RANK_OUT_OF_RANGE;
    }
    return {};
}

std::string ChessMove::rejection_note(Rejection rejection, std::string_view text) {
    const char* what = nullptr;
    switch (rejection) {
        case Rejection::NONE:
        case Rejection::NOTATION:
        case Rejection::PROMOTION: return {};
        case Rejection::TOO_SHORT: what = "it has fewer than four characters"; break;
        case Rejection::FROM_FILE:
            what = "the from-square's file is not a letter a to h (lower case)";
            break;
        case Rejection::FROM_RANK: what = "the from-square's rank is not a digit 1 to 8"; break;
        case Rejection::TO_FILE:
            what = "the to-square's file is not a letter a to h (lower case)";
            break;
        case Rejection::TO_RANK: what = "the to-square's rank is not a digit 1 to 8"; break;
    }
    // Control characters are written as \xNN, so that the note stays one readable line.
    std::string quoted = "move text '";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            constexpr const char* HEX = "0123456789abcdef";
            quoted += {'\\', 'x', HEX[byte >> 4], HEX[byte & 15]};
        } else {
            quoted += c;
        }
    }
    return quoted + "': " + what;
}

std::string ChessMove::input_rejection_message(Rejection rejection, std::string_view text) {
    if (!is_panic(rejection)) return rejection_message(rejection, text);
    return std::string(messages::INVALID_MOVE) + rejection_note(rejection, text);
}

ChessMove::Rejection ChessMove::parse(std::string_view text, ChessMove& move) {
    // The text is at most 5 bytes from here on, so at most 5 characters.
    std::array<char32_t, 5> chars{};
    std::size_t count = 0;

    // Length is measured in bytes, not characters.
    std::uint16_t special = ORDINARY;
    if (text.size() == 5) {
        for (std::size_t pos = 0; pos < text.size();) chars[count++] = utf8::next(text, pos);
        switch (chars[count - 1]) {
            case 'n':
            case 'N': special = PROMOTE_KNIGHT; break;
            case 'b':
            case 'B': special = PROMOTE_BISHOP; break;
            case 'r':
            case 'R': special = PROMOTE_ROOK; break;
            case 'q':
            case 'Q': special = PROMOTE_QUEEN; break;
            default: return Rejection::PROMOTION;
        }
    } else if (text.size() == 4) {
        for (std::size_t pos = 0; pos < text.size();) chars[count++] = utf8::next(text, pos);
    } else {
        return Rejection::NOTATION;
    }

    if (count < 2) return Rejection::TOO_SHORT;
    const std::uint8_t from_file = coordinate(chars[0], 'a');
    if (from_file > 7) return Rejection::FROM_FILE;
    const std::uint8_t from_rank = coordinate(chars[1], '1');
    if (from_rank > 7) return Rejection::FROM_RANK;
    if (count < 4) return Rejection::TOO_SHORT;
    const std::uint8_t to_file = coordinate(chars[2], 'a');
    if (to_file > 7) return Rejection::TO_FILE;
    const std::uint8_t to_rank = coordinate(chars[3], '1');
    if (to_rank > 7) return Rejection::TO_RANK;

    move = pack(from_file + 8 * from_rank, to_file + 8 * to_rank, special);
    return Rejection::NONE;
}

int ChessMove::write_text(char* out) const {
    out[0] = static_cast<char>('a' + (from() & 7));
    out[1] = static_cast<char>('1' + ((from() >> 3) & 7));
    out[2] = static_cast<char>('a' + (to() & 7));
    out[3] = static_cast<char>('1' + ((to() >> 3) & 7));
    // Special codes 0 to 3 (bits 12 to 15 below 4) are not promotions: the
    // text has no fifth letter.
    if (value < 0x4000) return 4;
    static constexpr char PROMOTION_LETTERS[] = "nbrq";
    expect(is_promotion(), "explicit panic");
    out[4] = PROMOTION_LETTERS[special() - PROMOTE_KNIGHT];
    return 5;
}

std::string ChessMove::to_string() const {
    char text[5];
    return std::string(text, static_cast<std::size_t>(write_text(text)));
}

}  // namespace vemla
