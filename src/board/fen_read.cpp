// Reading the four-field FEN dialect: placement, side to move, castling
// rights, en-passant square. Move counters after the fourth field are ignored.
#include <string>

#include "board/mod.hpp"
#include "failure.hpp"
#include "utf8.hpp"

namespace vemla {

namespace {

constexpr int piece_of_letter(char c) {
    for (int i = 0; i < 12; ++i)
        if (PIECE_LETTERS[i] == c) return i;
    return -1;
}

// Walks one rank's text, setting bits from the running square counter.
void read_rank(std::string_view rank, std::array<std::uint64_t, 12>& words, unsigned& counter) {
    for (const char c : rank) {
        if (c >= '0' && c <= '9') {
            counter += static_cast<unsigned>(c - '0');
            continue;
        }
        const int piece = piece_of_letter(c);
        // Any other byte, including every byte of a non-ASCII character.
        expect(piece >= 0, "Invalid piece type");
        // Only the low six bits select the square: a placement describing more
        // than 64 squares wraps around to a1.
        words[static_cast<std::size_t>(piece)] |= square_bb(static_cast<int>(counter & 63));
        ++counter;
    }
}

// The twelve piece bitboards of a placement field.
std::array<std::uint64_t, 12> read_placement(std::string_view placement) {
    std::array<std::uint64_t, 12> words{};
    // The ranks are read from the last one written (rank 1) to the first, and
    // "/" does not realign the counter: a short or long rank shifts every
    // square after it.
    unsigned counter = 0;
    std::size_t end = placement.size();
    while (true) {
        const std::size_t slash = placement.rfind('/', end == 0 ? 0 : end - 1);
        if (end == 0 || slash == std::string_view::npos) {
            read_rank(placement.substr(0, end), words, counter);
            break;
        }
        read_rank(placement.substr(slash + 1, end - slash - 1), words, counter);
        end = slash;
    }
    return words;
}

}  // namespace

std::array<std::uint64_t, 12> pieces_from_fen(std::string_view fen) {
    utf8::Fields fields(fen);
    std::string_view placement;
    expect(fields.next_field(placement), "FEN has no piece placement field");
    return read_placement(placement);
}

Board Board::from_fen(std::string_view fen) {
    Board board;
    utf8::Fields fields(fen);
    std::string_view field;

    // 1. Piece placement. Its failures come first, whatever the other fields say.
    expect(fields.next_field(field), "FEN has no piece placement field");
    const auto pieces = read_placement(field);
    std::copy(pieces.begin(), pieces.end(), board.bitboards.begin());

    // 2. Side to move: exactly "w" or "b".
    expect(fields.next_field(field), "FEN has no side-to-move field");
    StateWord state;
    if (field == "w")
        state.set(StateWord::WHITE_TO_MOVE);
    else if (field != "b")
        throw InvalidInput("Invalid fen: Invalid side-to-move");

    // 3. Castling rights. Letters in any order, repeats allowed; "-" ends the
    // field, so nothing after it is examined.
    expect(fields.next_field(field), "FEN has no castling field");
    for (const char c : field) {
        if (c == '-') break;
        switch (c) {
            case 'K': state.set(StateWord::castling_right(WHITE, KING_SIDE)); break;
            case 'Q': state.set(StateWord::castling_right(WHITE, QUEEN_SIDE)); break;
            case 'k': state.set(StateWord::castling_right(BLACK, KING_SIDE)); break;
            case 'q': state.set(StateWord::castling_right(BLACK, QUEEN_SIDE)); break;
            default: throw InvalidInput("Invalid fen: Invalid castling specifier");
        }
    }

    // 4. En passant: only the file letter is kept, in the group of the side to
    // move; the rank digit is not read.
    expect(fields.next_field(field), "FEN has no en-passant field");
    if (field != "-") {
        const char file = field[0];
        if (file < 'a' || file > 'h') throw InvalidInput("Invalid fen: Invalid en-passant square");
        state.set(StateWord::en_passant_bit(state.side_to_move(), file - 'a'));
    }

    board.bitboards[STATE] = state.bits;
    return board;
}

}  // namespace vemla
