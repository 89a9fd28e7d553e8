// SAN text, both ways, defined on the list of legal moves: the grammar, the
// reference resolution and the writing. The faster paths are san_fast.cpp.
#include "notation/san.hpp"

#include <bit>

#include "board/castling_geometry.hpp"
#include "move_generator/legality.hpp"
#include "move_generator/match.hpp"

namespace vemla {

namespace {

constexpr char KIND_LETTERS[] = "PNBRQK";
// Promotion letters by special code 4-7.
constexpr char PROMOTION_LETTERS[] = "NBRQ";

constexpr bool is_file(char c) { return c >= 'a' && c <= 'h'; }
constexpr bool is_rank(char c) { return c >= '1' && c <= '8'; }

// The piece kind a letter names (upper case only), or -1.
constexpr int kind_of_letter(char c) {
    switch (c) {
        case 'N': return KNIGHT;
        case 'B': return BISHOP;
        case 'R': return ROOK;
        case 'Q': return QUEEN;
        case 'K': return KING;
        default: return -1;
    }
}

// Check and mate marks, right or wrong, and annotations: "+", "#", "!", "?",
// "!!", "?!" and the like, in any order after the move.
constexpr bool is_suffix_mark(char c) { return c == '+' || c == '#' || c == '!' || c == '?'; }

bool is_null_move(std::string_view s) {
    return s == "--" || s == "Z0" || s == "0000" || s == "@@@@";
}

// Whether the i-th legal move of list is one the pattern names. The mover's
// kind is looked up only when the squares already agree.
bool matches(const Board& board, const SanPattern& p, const MoveList& list, int i) {
    const ChessMove m = list.moves[static_cast<std::size_t>(i)];
    // The side, not the destination: a Chess960 castling move goes to its rook.
    if (p.castling_file >= 0)
        return m.special() == ChessMove::CASTLING &&
               castling_side_toward(m.from(), m.to()) ==
                   (p.castling_file == castling_king_file(KING_SIDE) ? KING_SIDE : QUEEN_SIDE);
    if (m.to() != p.to || m.special() == ChessMove::CASTLING) return false;
    const int from = m.from();
    if (p.from_file >= 0 && file_of(from) != p.from_file) return false;
    if (p.from_rank >= 0 && rank_of(from) != p.from_rank) return false;
    if (m.is_promotion() ? m.special() != p.promotion : p.promotion != 0) return false;
    if (p.en_passant && m.special() != ChessMove::EN_PASSANT) return false;
    return legality::mover_kind(board, list, i) == p.kind;
}

void append_square(std::string& out, int sq) { out += SQUARE_NAMES[static_cast<std::size_t>(sq)]; }

}  // namespace

SanRejection read_san(std::string_view s, SanPattern& pattern) {
    // Suffixes from the end: marks, then an optional "e.p." (with or without
    // a space before it), then marks again ("exd6 e.p.+", "exd6+ e.p.").
    bool en_passant = false;
    for (;;) {
        while (!s.empty() && is_suffix_mark(s.back())) s.remove_suffix(1);
        if (en_passant || !s.ends_with("e.p.")) break;
        s.remove_suffix(4);
        if (s.ends_with(' ')) s.remove_suffix(1);
        en_passant = true;
    }
    // Null moves and castling start with one of a few bytes that no other
    // move starts with: most texts are told apart by their first byte.
    const char first = s.empty() ? '\0' : s.front();
    if ((first == '-' || first == 'Z' || first == '0' || first == '@') && is_null_move(s))
        return SanRejection::NULL_MOVE;

    SanPattern p;
    p.en_passant = en_passant;
    // O-O, O-O-O, or the same with zeros.
    const bool castling = (first == 'O' || first == '0') && (s.size() == 3 || s.size() == 5) &&
                          s[1] == '-' && s[2] == first &&
                          (s.size() == 3 || (s[3] == '-' && s[4] == first));
    if (castling) {
        if (en_passant) return SanRejection::MALFORMED;
        p.kind = KING;
        p.castling_file = castling_king_file(s.size() == 3 ? KING_SIDE : QUEEN_SIDE);
        pattern = p;
        return SanRejection::NONE;
    }

    // Promotion: "=Q" or a bare "Q" after the square.
    if (s.size() >= 3) {
        if (const int promoted = kind_of_letter(s.back());
            promoted >= KNIGHT && promoted <= QUEEN) {
            p.promotion = promoted + ChessMove::PROMOTE_KNIGHT - KNIGHT;
            s.remove_suffix(1);
            if (s.ends_with('=')) s.remove_suffix(1);
        }
    }
    // The destination square.
    if (s.size() < 2 || !is_file(s[s.size() - 2]) || !is_rank(s.back()))
        return SanRejection::MALFORMED;
    p.to = (s[s.size() - 2] - 'a') + 8 * (s.back() - '1');
    s.remove_suffix(2);
    bool capture = false;
    if (s.ends_with('x')) {
        capture = true;
        s.remove_suffix(1);
    }
    // What stands before: the piece letter (none for a pawn), then the
    // origin's file, rank, or both.
    if (!s.empty() && kind_of_letter(s.front()) >= 0) {
        p.kind = static_cast<Kind>(kind_of_letter(s.front()));
        s.remove_prefix(1);
    }
    if (!s.empty() && is_file(s.front())) {
        p.from_file = s.front() - 'a';
        s.remove_prefix(1);
    }
    if (!s.empty() && is_rank(s.front())) {
        p.from_rank = s.front() - '1';
        s.remove_prefix(1);
    }
    if (!s.empty()) return SanRejection::MALFORMED;
    if (p.kind == PAWN) {
        // A pawn names its file when it captures; without one it goes straight
        // ahead. A rank alone says nothing a pawn move needs.
        if (p.from_file < 0) {
            if (capture || p.from_rank >= 0) return SanRejection::MALFORMED;
            p.from_file = file_of(p.to);
        }
    } else if (p.promotion != 0 || en_passant) {
        return SanRejection::MALFORMED;
    }
    pattern = p;
    return SanRejection::NONE;
}

SanRejection resolve_san_reference(const MoveGenerator& generator, Board& board,
                                   const SanPattern& pattern, ChessMove& move) {
    MoveList list;
    generator.generate(board, list);
    const ChessMove* found = nullptr;
    for (int i = 0; i < list.size; ++i) {
        if (!matches(board, pattern, list, i)) continue;
        const ChessMove& m = list.moves[static_cast<std::size_t>(i)];
        // A capture onto the en-passant square that holds an enemy piece
        // comes twice, as a capture and as en passant (a position only a FEN
        // can give): the two make the same change, so they are one move, and
        // the first is taken.
        if (found && (found->from() != m.from() || found->to() != m.to()))
            return SanRejection::AMBIGUOUS;
        if (!found) found = &m;
    }
    if (!found) return SanRejection::NO_MATCH;
    move = *found;
    return SanRejection::NONE;
}

SanRejection parse_san_reference(const MoveGenerator& generator, Board& board, std::string_view san,
                                 ChessMove& move) {
    SanPattern pattern;
    if (const SanRejection r = read_san(san, pattern); r != SanRejection::NONE) return r;
    return resolve_san_reference(generator, board, pattern, move);
}

void write_san(const MoveGenerator& generator, Board& board, ChessMove m, int kind, Bitboard others,
               std::string& out) {
    const int from = m.from();
    const int to = m.to();
    char text[16];
    std::size_t n = 0;
    const auto put = [&](char c) { text[n++] = c; };
    const auto put_square = [&](int sq) {
        put(static_cast<char>('a' + file_of(sq)));
        put(static_cast<char>('1' + rank_of(sq)));
    };
    if (m.special() == ChessMove::CASTLING) {
        const bool king_side = castling_side_toward(from, to) == KING_SIDE;
        for (const char c : std::string_view(king_side ? "O-O" : "O-O-O")) put(c);
    } else {
        const bool capture = (board.pieces(opposite(board.side_to_move())) & square_bb(to)) ||
                             m.special() == ChessMove::EN_PASSANT;
        if (kind == PAWN) {
            if (capture) {
                put(static_cast<char>('a' + file_of(from)));
                put('x');
            }
            put_square(to);
            if (m.is_promotion()) {
                put('=');
                put(PROMOTION_LETTERS[m.special() - ChessMove::PROMOTE_KNIGHT]);
            }
        } else {
            put(KIND_LETTERS[kind]);
            // The origin's file if no other piece stands on it, else its rank
            // if no other stands on that, else the whole square.
            if (others) {
                if (!(others & (FILE_A << file_of(from)))) {
                    put(static_cast<char>('a' + file_of(from)));
                } else if (!(others & (RANK_1 << (8 * rank_of(from))))) {
                    put(static_cast<char>('1' + rank_of(from)));
                } else {
                    put_square(from);
                }
            }
            if (capture) put('x');
            put_square(to);
        }
    }
    board.push_move(m);
    if (generator.is_check(board)) put(generator.has_legal_move(board) ? '+' : '#');
    board.pop_move();
    out.append(text, n);
}

bool append_san_reference(const MoveGenerator& generator, Board& board, ChessMove move,
                          std::string& out) {
    // Codes 8-15 name no move.
    if (move.special() > ChessMove::PROMOTE_QUEEN) return false;
    MoveList list;
    generator.generate(board, list);
    const ChessMove* legal = find_legal(list, move);
    if (!legal) return false;
    const int from = legal->from();
    const int to = legal->to();
    const int kind = legality::mover_kind(board, list, static_cast<int>(legal - list.begin()));
    // Other pieces of the same kind with a legal move to the same square.
    Bitboard others = 0;
    for (int i = 0; i < list.size; ++i) {
        const ChessMove other = list.moves[static_cast<std::size_t>(i)];
        const int f = other.from();
        if (f != from && other.to() == to && other.special() != ChessMove::CASTLING &&
            legality::mover_kind(board, list, i) == kind)
            others |= square_bb(f);
    }
    write_san(generator, board, *legal, kind, others, out);
    return true;
}

std::string san_rejection_message(SanRejection rejection, std::string_view san,
                                  std::string_view fen) {
    const std::string quoted = "\"" + std::string(san) + "\"";
    const std::string where = " in " + std::string(fen);
    switch (rejection) {
        case SanRejection::MALFORMED: return "Invalid SAN: malformed move text " + quoted + where;
        case SanRejection::NULL_MOVE:
            return "Invalid SAN: the null move " + quoted + " cannot be played" + where;
        case SanRejection::NO_MATCH: return "Illegal SAN: no legal move matches " + quoted + where;
        case SanRejection::AMBIGUOUS:
            return "Ambiguous SAN: several legal moves match " + quoted + where;
        case SanRejection::NONE: break;
    }
    return {};
}

std::string illegal_move_message(ChessMove move, std::string_view fen) {
    std::string text;
    append_square(text, move.from());
    append_square(text, move.to());
    if (move.is_promotion())
        text += static_cast<char>(PROMOTION_LETTERS[move.special() - ChessMove::PROMOTE_KNIGHT] +
                                  ('a' - 'A'));
    return "Illegal move: \"" + text + "\" is not a legal move in " + std::string(fen);
}

}  // namespace vemla
