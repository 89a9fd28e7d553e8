// The SAN fast path: parse_san and append_san decided from the position and
// the attack tables instead of the list of legal moves, with the same result
// as the reference (san.cpp), to which they send the positions they do not
// handle.
#include <bit>

#include "board/facts.hpp"
#include "move_generator/legality.hpp"
#include "notation/san.hpp"

namespace vemla {

namespace {

// The fast path: legality from the position, without the move list.
//
// It holds when every square has at most one piece, the side to move has
// exactly one king, and the square a pawn may take en passant on, if any, is
// empty. Then the move the generator would make for a piece of kind K from f
// to t is exactly "the piece goes from f to t, the enemy piece on t (or, en
// passant, the enemy pawn beside t) is removed", and the reference's test is
// whether the one king is attacked afterwards: safe_after asks exactly that
// of the occupancy and enemy pieces the move leaves. The generator's
// candidates of kind K reaching t are read backwards from t: the squares a K
// on t would attack hold the K's that attack t (pawns by their own rules).
// Castling is left to the reference.
struct Position {
    const Board& board;
    const MoveGenerator& generator;
    Colour side;
    const std::uint64_t* ours;    // the side to move's six bitboards
    const std::uint64_t* theirs;  // the other side's
    Bitboard own, enemy, occ;
    int king;
    int ep_square;  // where the side to move may capture en passant, or -1

    Position(const MoveGenerator& g, const Board& b)
        : board(b),
          generator(g),
          side(b.side_to_move()),
          ours(b.bitboards.data() + piece_of(side, PAWN)),
          theirs(b.bitboards.data() + piece_of(opposite(side), PAWN)),
          own(b.pieces(side)),
          enemy(b.pieces(opposite(side))),
          occ(own | enemy),
          king(lsb(ours[KING])),
          ep_square(-1) {}

    // Whether the fast path decides this position (see above). sound: the
    // board is known to pass sound_for_san (which asks more: a king for each
    // side), so only the en-passant square is left to look at.
    bool applies(bool sound) {
        if (!sound && !legality::fast_path_applies(board)) return false;
        if (const unsigned files = board.state().en_passant_files(); files) {
            // One file at most is ever set by making moves; a FEN can give only one.
            if (files & (files - 1)) return false;
            ep_square = StateWord::en_passant_square(side, std::countr_zero(files));
            if (occ & square_bb(ep_square)) return false;
        }
        return true;
    }

    // Whether the king is safe after a piece goes from `from` to `to` and the
    // enemy piece on `captured` (0 or one bit) is removed.
    bool safe_after(int from, int to, Bitboard captured) const {
        const Bitboard occupied = (occ & ~square_bb(from) & ~captured) | square_bb(to);
        const int k = from == king ? to : king;
        const auto s = static_cast<std::size_t>(k);
        const Bitboard alive = ~captured;
        const Bitboard pawn_squares =
            side == WHITE ? BLACK_PAWN_ATTACKERS[s] : WHITE_PAWN_ATTACKERS[s];
        if (((KNIGHT_ATTACKS[s] & theirs[KNIGHT]) | (pawn_squares & theirs[PAWN]) |
             (KING_ATTACKS[s] & theirs[KING])) &
            alive)
            return false;
        const Bitboard queens = theirs[QUEEN];
        return !(((generator.rook_attacks(k, occupied) & (theirs[ROOK] | queens)) |
                  (generator.bishop_attacks(k, occupied) & (theirs[BISHOP] | queens))) &
                 alive);
    }

    // The enemy piece a move to `to` from `from` takes: the piece on `to`,
    // or for a pawn moving to the en-passant square the enemy pawn beside it.
    Bitboard captured_by(int kind, int from, int to) const {
        const Bitboard target = square_bb(to);
        if (kind == PAWN && to == ep_square && file_of(from) != file_of(to))
            return square_bb(StateWord::en_passant_victim(to, side)) & theirs[PAWN];
        return enemy & target;
    }

    // The generator's candidates of kind `kind` that reach `to`, by origin.
    Bitboard candidates(int kind, int to) const {
        const Bitboard target = square_bb(to);
        if (own & target) return 0;
        const auto s = static_cast<std::size_t>(to);
        switch (kind) {
            case KNIGHT: return KNIGHT_ATTACKS[s] & ours[KNIGHT];
            case BISHOP: return generator.bishop_attacks(to, occ) & ours[BISHOP];
            case ROOK: return generator.rook_attacks(to, occ) & ours[ROOK];
            case QUEEN:
                return (generator.rook_attacks(to, occ) | generator.bishop_attacks(to, occ)) &
                       ours[QUEEN];
            case KING: return KING_ATTACKS[s] & ours[KING];
            default: break;
        }
        const Bitboard pawns = ours[PAWN];
        Bitboard from = 0;
        const bool white = side == WHITE;
        if (enemy & target || to == ep_square)
            from |= (white ? WHITE_PAWN_ATTACKERS[s] : BLACK_PAWN_ATTACKERS[s]) & pawns;
        if (!(occ & target)) {
            const int behind = white ? to - 8 : to + 8;
            if (behind >= 0 && behind < 64) {
                from |= square_bb(behind) & pawns;
                const int start = white ? to - 16 : to + 16;
                if (rank_of(to) == (white ? 3 : 4) && !(occ & square_bb(behind)))
                    from |= square_bb(start) & pawns;
            }
        }
        return from;
    }

    // The candidates of candidates() within `allowed` after which the king is safe.
    Bitboard legal_origins(int kind, int to, Bitboard allowed) const {
        Bitboard legal = 0;
        for (Bitboard b = candidates(kind, to) & allowed; b; b &= b - 1) {
            const int from = lsb(b);
            if (safe_after(from, to, captured_by(kind, from, to))) legal |= square_bb(from);
        }
        return legal;
    }

    // The generator's code for the move of a piece of kind from `from` to
    // `to` (promotion: the code given).
    ChessMove code(int kind, int from, int to, int promotion) const {
        if (kind != PAWN) return ChessMove::pack(from, to);
        if (promotion) return ChessMove::pack(from, to, promotion);
        if (to == ep_square && file_of(from) != file_of(to))
            return ChessMove::pack(from, to, ChessMove::EN_PASSANT);
        if (to - from == 16 || from - to == 16)
            return ChessMove::pack(from, to, ChessMove::DOUBLE_STEP);
        return ChessMove::pack(from, to);
    }
};

// Whether a pawn move to `to` promotes.
constexpr bool promotes(int to) { return rank_of(to) == 0 || rank_of(to) == 7; }

}  // namespace

bool sound_for_san(const Board& board) {
    return legality::fast_path_applies(board) && one_king(board, opposite(board.side_to_move()));
}

namespace {

template <bool SOUND>
SanRejection parse_san_with(const MoveGenerator& generator, Board& board, std::string_view san,
                            ChessMove& move, int& kind) {
    SanPattern p;
    if (const SanRejection r = read_san(san, p); r != SanRejection::NONE) return r;
    kind = p.kind;
    Position position(generator, board);
    if (p.castling_file >= 0 || !position.applies(SOUND))
        return resolve_san_reference(generator, board, p, move);

    // The origin the text names, if any, is applied before the (costlier)
    // king safety test: the same origins come out either way.
    Bitboard allowed = ~Bitboard{0};
    if (p.from_file >= 0) allowed &= FILE_A << p.from_file;
    if (p.from_rank >= 0) allowed &= RANK_1 << (8 * p.from_rank);
    Bitboard origins = position.legal_origins(p.kind, p.to, allowed);
    if (p.kind == PAWN) {
        // A pawn reaching the last rank promotes and no other move does; only
        // a capture on the en-passant square is taken en passant.
        if ((p.promotion != 0) != promotes(p.to)) return SanRejection::NO_MATCH;
        if (p.en_passant && p.to != position.ep_square) return SanRejection::NO_MATCH;
        if (p.en_passant) origins &= ~(FILE_A << file_of(p.to));
    }
    if (!origins) return SanRejection::NO_MATCH;
    if (origins & (origins - 1)) return SanRejection::AMBIGUOUS;
    move = position.code(p.kind, lsb(origins), p.to, p.promotion);
    return SanRejection::NONE;
}

}  // namespace

SanRejection parse_san(const MoveGenerator& generator, Board& board, std::string_view san,
                       ChessMove& move) {
    int kind;
    return parse_san_with<false>(generator, board, san, move, kind);
}

SanRejection parse_san_sound(const MoveGenerator& generator, Board& board, std::string_view san,
                             ChessMove& move, int& kind) {
    return parse_san_with<true>(generator, board, san, move, kind);
}

bool append_san(const MoveGenerator& generator, Board& board, ChessMove move, std::string& out) {
    Position position(generator, board);
    const int from = move.from();
    const int to = move.to();
    const int kind = kind_on(board, board.side_to_move(), from);
    // Castling (a king move of two files, or on a Chess960 board possibly a
    // king's step onto its rook) is left to the reference.
    if (!position.applies(false) ||
        (kind == KING &&
         (board.chess960 || !(KING_ATTACKS[static_cast<std::size_t>(from)] & square_bb(to)))))
        return append_san_reference(generator, board, move, out);
    if (kind < 0 || move.special() > ChessMove::PROMOTE_QUEEN) return false;
    const Bitboard origins = position.legal_origins(kind, to, ~Bitboard{0});
    if (!(origins & square_bb(from))) return false;
    int promotion = 0;
    if (kind == PAWN) {
        if (move.is_promotion() != promotes(to)) return false;
        if (move.is_promotion()) promotion = move.special();
    } else if (move.is_promotion()) {
        return false;
    }
    write_san(generator, board, position.code(kind, from, to, promotion), kind,
              origins & ~square_bb(from), out);
    return true;
}

}  // namespace vemla
