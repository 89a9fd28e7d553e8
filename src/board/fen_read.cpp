// Reading the four-field FEN dialect: placement, side to move, castling
// rights, en-passant square. Move counters after the fourth field are ignored.
#include <bit>
#include <cstdint>
#include <limits>
#include <string>

#include "board/facts.hpp"
#include "board/mod.hpp"
#include "failure.hpp"
#include "messages.hpp"
#include "utf8.hpp"

namespace vemla {

namespace {

constexpr int piece_of_letter(char c) {
    for (int i = 0; i < 12; ++i)
        if (PIECE_LETTERS[i] == c) return i;
    return -1;
}

// Walks one rank's text, setting bits from the running square counter.
// Returns false at the first byte that is neither a digit nor a piece letter.
bool read_rank(std::string_view rank, std::array<std::uint64_t, 12>& words, unsigned& counter) {
    for (const char c : rank) {
        if (c >= '0' && c <= '9') {
            counter += static_cast<unsigned>(c - '0');
            continue;
        }
        const int piece = piece_of_letter(c);
        // Any other byte, including every byte of a non-ASCII character.
        if (piece < 0) return false;
        // Only the low six bits select the square: a placement describing more
        // than 64 squares wraps around to a1.
        words[static_cast<std::size_t>(piece)] |= square_bb(static_cast<int>(counter & 63));
        ++counter;
    }
    return true;
}

// The twelve piece bitboards of a placement field; false for a bad piece letter.
bool read_placement(std::string_view placement, std::array<std::uint64_t, 12>& words) {
    words = {};
    // The ranks are read from the last one written (rank 1) to the first, and
    // "/" does not realign the counter: a short or long rank shifts every
    // square after it.
    unsigned counter = 0;
    std::size_t end = placement.size();
    while (true) {
        const std::size_t slash = placement.rfind('/', end == 0 ? 0 : end - 1);
        if (end == 0 || slash == std::string_view::npos)
            return read_rank(placement.substr(0, end), words, counter);
        if (!read_rank(placement.substr(slash + 1, end - slash - 1), words, counter)) return false;
        end = slash;
    }
}

}  // namespace

std::string_view fen_rejection_message(FenRejection rejection) {
    switch (rejection) {
        case FenRejection::NONE: break;
        case FenRejection::NO_PLACEMENT: return "FEN has no piece placement field";
        case FenRejection::PIECE_TYPE: return "Invalid piece type";
        case FenRejection::NO_SIDE_TO_MOVE: return "FEN has no side-to-move field";
        case FenRejection::NO_CASTLING: return "FEN has no castling field";
        case FenRejection::NO_EN_PASSANT: return "FEN has no en-passant field";
        case FenRejection::SIDE_TO_MOVE: return messages::INVALID_SIDE_TO_MOVE;
        case FenRejection::CASTLING: return messages::INVALID_CASTLING;
        case FenRejection::EN_PASSANT: return messages::INVALID_EN_PASSANT;
        case FenRejection::HALFMOVE_CLOCK: return messages::INVALID_HALFMOVE_CLOCK;
        case FenRejection::MOVE_NUMBER: return messages::INVALID_MOVE_NUMBER;
        case FenRejection::PLACEMENT_SHAPE: return messages::INVALID_PLACEMENT_SHAPE;
        case FenRejection::PLACEMENT_CHARACTER: return messages::INVALID_PLACEMENT_CHARACTER;
        case FenRejection::CASTLING_KING: return messages::INVALID_CASTLING_KING;
        case FenRejection::CASTLING_ROOK: return messages::INVALID_CASTLING_ROOK;
    }
    return {};
}

void throw_fen_rejection(FenRejection rejection) {
    const std::string message(fen_rejection_message(rejection));
    if (is_panic(rejection)) throw Panic(message);
    if (rejection != FenRejection::NONE) throw InvalidInput(message);
    panic("a FEN that was read cannot be refused");
}

FenRejection read_pieces(std::string_view fen, std::array<std::uint64_t, 12>& words) {
    utf8::Fields fields(fen);
    std::string_view placement;
    if (!fields.next_field(placement)) return FenRejection::NO_PLACEMENT;
    std::array<std::uint64_t, 12> read;
    if (!read_placement(placement, read)) return FenRejection::PIECE_TYPE;
    words = read;
    return FenRejection::NONE;
}

std::array<std::uint64_t, 12> pieces_from_fen(std::string_view fen) {
    std::array<std::uint64_t, 12> words;
    if (const FenRejection rejection = read_pieces(fen, words); rejection != FenRejection::NONE)
        [[unlikely]]
        throw_fen_rejection(rejection);
    return words;
}

namespace {

// Whether a placement is written the standard way: eight ranks separated by
// "/", each describing exactly eight squares with piece letters and the
// digits 1 to 8.
FenRejection check_standard_placement(std::string_view placement) {
    int ranks = 1;
    int squares = 0;
    bool shape_ok = true;
    for (const char c : placement) {
        if (c == '/') {
            shape_ok = shape_ok && squares == 8;
            ++ranks;
            squares = 0;
        } else if (c >= '1' && c <= '8') {
            squares += c - '0';
        } else if (piece_of_letter(c) >= 0) {
            ++squares;
        } else {
            return FenRejection::PLACEMENT_CHARACTER;
        }
    }
    return shape_ok && squares == 8 && ranks == 8 ? FenRejection::NONE
                                                  : FenRejection::PLACEMENT_SHAPE;
}

// Whether a castling field is "-" or names each right at most once.
bool standard_castling(std::string_view field) {
    if (field == "-") return true;
    unsigned seen = 0;
    for (const char c : field) {
        const std::size_t letter = std::string_view("KQkq").find(c);
        if (letter == std::string_view::npos || (seen >> letter & 1)) return false;
        seen |= 1u << letter;
    }
    return !field.empty();
}

// Whether an en-passant field is "-" or a square on the rank a pawn of the
// side to move captures onto (6 for White, 3 for Black).
bool standard_en_passant(std::string_view field, Colour side) {
    if (field == "-") return true;
    return field.size() == 2 && field[0] >= 'a' && field[0] <= 'h' &&
           field[1] == (side == WHITE ? '6' : '3');
}

// The four position fields, read from fields into board; strict accepts only
// their standard form.
FenRejection read_chess960_castling(std::string_view field,
                                    const std::array<std::uint64_t, 12>& pieces,
                                    StateWord& state, CastlingFiles& files);

FenRejection read_position(utf8::Fields& fields, Board& board, bool strict = false,
                           bool chess960 = false) {
    std::string_view field;

    // 1. Piece placement. Its failures come first, whatever the other fields say.
    if (!fields.next_field(field)) return FenRejection::NO_PLACEMENT;
    if (strict)
        if (const FenRejection rejection = check_standard_placement(field);
            rejection != FenRejection::NONE)
            return rejection;
    std::array<std::uint64_t, 12> pieces;
    if (!read_placement(field, pieces)) return FenRejection::PIECE_TYPE;

    // 2. Side to move: exactly "w" or "b".
    if (!fields.next_field(field)) return FenRejection::NO_SIDE_TO_MOVE;
    StateWord state;
    if (field == "w")
        state.set(StateWord::WHITE_TO_MOVE);
    else if (field != "b")
        return FenRejection::SIDE_TO_MOVE;

    // 3. Castling rights. Letters in any order, repeats allowed; "-" ends the
    // field, so nothing after it is examined.
    if (!fields.next_field(field)) return FenRejection::NO_CASTLING;
    CastlingFiles files;
    if (chess960) {
        if (const FenRejection rejection = read_chess960_castling(field, pieces, state, files);
            rejection != FenRejection::NONE)
            return rejection;
        field = "-";
    }
    if (strict && !standard_castling(field)) return FenRejection::CASTLING;
    for (const char c : field) {
        if (c == '-') break;
        switch (c) {
            case 'K': state.set(StateWord::castling_right(WHITE, KING_SIDE)); break;
            case 'Q': state.set(StateWord::castling_right(WHITE, QUEEN_SIDE)); break;
            case 'k': state.set(StateWord::castling_right(BLACK, KING_SIDE)); break;
            case 'q': state.set(StateWord::castling_right(BLACK, QUEEN_SIDE)); break;
            default: return FenRejection::CASTLING;
        }
    }

    // 4. En passant: only the file letter is kept, in the group of the side to
    // move; the rank digit is not read.
    if (!fields.next_field(field)) return FenRejection::NO_EN_PASSANT;
    if (strict && !standard_en_passant(field, state.side_to_move()))
        return FenRejection::EN_PASSANT;
    if (field != "-") {
        const char file = field[0];
        if (file < 'a' || file > 'h') return FenRejection::EN_PASSANT;
        state.set(StateWord::en_passant_bit(state.side_to_move(), file - 'a'));
    }

    // A fresh board: no undo records, no history.
    board = Board();
    std::copy(pieces.begin(), pieces.end(), board.bitboards.begin());
    board.bitboards[STATE] = state.bits;
    board.chess960 = chess960;
    board.castling_files = files;
    return FenRejection::NONE;
}

// The castling field of a Chess960 position, X-FEN or Shredder-FEN: "-", or
// each right at most once, as K/Q/k/q (the outermost rook on that side of the
// king) or as the file letter of its rook (upper case for White). A right
// needs its colour's only king on its home rank and a rook of that colour on
// the named square on the right side of the king.
FenRejection read_chess960_castling(std::string_view field,
                                    const std::array<std::uint64_t, 12>& pieces,
                                    StateWord& state, CastlingFiles& files) {
    if (field == "-") return FenRejection::NONE;
    if (field.empty()) return FenRejection::CASTLING;
    for (const char c : field) {
        Colour colour;
        char letter;
        if (c >= 'A' && c <= 'Z') {
            colour = WHITE;
            letter = static_cast<char>(c - 'A' + 'a');
        } else if (c >= 'a' && c <= 'z') {
            colour = BLACK;
            letter = c;
        } else {
            return FenRejection::CASTLING;
        }
        if (letter != 'k' && letter != 'q' && (letter < 'a' || letter > 'h'))
            return FenRejection::CASTLING;
        const int base = home_rank_base(colour);
        const Bitboard rank = RANK_1 << base;
        const Bitboard kings = pieces[static_cast<std::size_t>(piece_of(colour, KING))];
        const Bitboard rooks = pieces[static_cast<std::size_t>(piece_of(colour, ROOK))] & rank;
        if (!single(kings & rank)) return FenRejection::CASTLING_KING;
        const int king_file = file_of(lsb(kings & rank));
        int rook_file;
        if (letter == 'k' || letter == 'q') {
            // The outermost rook on that side of the king.
            const Bitboard beyond = letter == 'k' ? rooks & ~rank_span(base, base + king_file)
                                                  : rooks & ~rank_span(base + king_file, base + 7);
            if (!beyond) return FenRejection::CASTLING_ROOK;
            rook_file = file_of(letter == 'k' ? 63 - std::countl_zero(beyond) : lsb(beyond));
        } else {
            rook_file = letter - 'a';
            if (!(rooks & square_bb(base + rook_file)) || rook_file == king_file)
                return FenRejection::CASTLING_ROOK;
        }
        const CastlingSide side = rook_file > king_file ? KING_SIDE : QUEEN_SIDE;
        const std::uint64_t right = StateWord::castling_right(colour, side);
        // A second right on one side, or a second king file for one colour.
        if (state.bits & right) return FenRejection::CASTLING;
        if ((state.bits & StateWord::castling_rights(colour)) && files.king_file(colour) != king_file)
            return FenRejection::CASTLING;
        state.set(right);
        files.king[static_cast<std::size_t>(colour)] = static_cast<std::int8_t>(king_file);
        files.rook[static_cast<std::size_t>(colour)][static_cast<std::size_t>(side)] =
            static_cast<std::int8_t>(rook_file);
    }
    return FenRejection::NONE;
}

// A move counter: decimal digits only, no sign, at most 2^63 - 1.
bool read_counter(std::string_view field, std::uint64_t& value) {
    constexpr std::uint64_t LIMIT = std::numeric_limits<std::int64_t>::max();
    if (field.empty()) return false;
    std::uint64_t n = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (n > (LIMIT - digit) / 10) return false;
        n = 10 * n + digit;
    }
    value = n;
    return true;
}

}  // namespace

FenRejection Board::read_fen(std::string_view fen, Board& board) {
    utf8::Fields fields(fen);
    return read_position(fields, board);
}

FenRejection Board::read_full_fen(std::string_view fen, Board& board, bool chess960) {
    utf8::Fields fields(fen);
    Board read;
    if (const FenRejection rejection = read_position(fields, read, true, chess960);
        rejection != FenRejection::NONE)
        return rejection;
    std::string_view field;
    if (fields.next_field(field) && !read_counter(field, read.start_halfmove_clock))
        return FenRejection::HALFMOVE_CLOCK;
    if (fields.next_field(field) && !read_counter(field, read.start_fullmove_number))
        return FenRejection::MOVE_NUMBER;
    board = std::move(read);
    return FenRejection::NONE;
}

Board Board::from_full_fen(std::string_view fen, bool chess960) {
    Board board;
    if (const FenRejection rejection = read_full_fen(fen, board, chess960); rejection != FenRejection::NONE)
        [[unlikely]] {
        // A checked reader: even a missing field is rejected input.
        const std::string_view message = fen_rejection_message(rejection);
        if (message.starts_with(messages::INVALID_FEN)) throw InvalidInput(std::string(message));
        throw InvalidInput(std::string(messages::INVALID_FEN) + std::string(message));
    }
    return board;
}

Board Board::from_fen(std::string_view fen) {
    Board board;
    if (const FenRejection rejection = read_fen(fen, board); rejection != FenRejection::NONE)
        [[unlikely]]
        throw_fen_rejection(rejection);
    return board;
}

}  // namespace vemla
