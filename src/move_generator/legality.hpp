// Where legality is decided. A candidate (as MoveGenerator::candidates gathers
// it) is legal when the mover's king is not attacked after it is made.
//
// The reference says so by definition: it makes each candidate, asks the
// attack test about the mover's king and takes the candidate back. The fast
// filter reaches the same verdict from the position as it stands (checkers,
// pins, the squares the king may step to), for the positions named by
// fast_path_applies(); legality.cpp explains why the two agree. Which
// candidates exist and in which order is generate.cpp's business; the attack
// test itself is MoveGenerator::attackers.
#pragma once

#include "board/facts.hpp"
#include "board/mod.hpp"
#include "move_generator/mod.hpp"

namespace vemla::legality {

// The precondition of the fast filter, of count(), and of every other path
// that decides legality from the position instead of making the move: no
// square held twice (then the mover that Board::push_move finds for a
// generated move is the piece that generated it, and the piece it captures is
// the one enemy piece on `to`), and exactly one king of the side to move.
inline bool fast_path_applies(const Board& board) {
    return no_square_held_twice(board) && one_king(board, board.side_to_move());
}

// The kind that moves in a slider pass (ROOK or BISHOP) from `from`, where
// pass_pieces are the side's rooks (bishops): the pass's own piece if one
// stands on `from`, else the queen. Where two pieces share the square this is
// the one whose move the pass generated.
constexpr Kind slider_mover(Kind pass, Bitboard pass_pieces, int from) {
    return pass_pieces & square_bb(from) ? pass : QUEEN;
}

// The kind of the piece that makes the i-th move of a generated list (or of
// its candidates): the group it was generated in (kings, knights, pawns),
// and in the rook and bishop passes slider_mover.
Kind mover_kind(const Board& board, const MoveList& list, int i);

// Keeps the candidates of list after which the mover's king is not attacked,
// in their order, and sets the group ends to those of the kept moves. Chooses
// the fast filter where it applies, else the reference. The board may be used
// to try candidates and ends exactly as it started.
void filter(const MoveGenerator& generator, Board& board, MoveList& list);

// The reference filter: every candidate is made, the mover's king is tested
// and the candidate is taken back. Valid for any board.
void filter_reference(const MoveGenerator& generator, Board& board, MoveList& list);

// The number of legal moves, without building the list: counted from the
// position where the fast path applies, else the length of the reference's
// list. The board ends as it started.
int count(const MoveGenerator& generator, Board& board);

// Makes move, tests the mover's (lowest) king, takes the move back. A side
// without a king has nothing that can be attacked.
bool keeps_king_safe(const MoveGenerator& generator, Board& board, ChessMove move);

// Makes the moves of a generated list with the kind of the group each comes
// from, so that Board::make_move skips the search for the mover. Valid while
// no square is held by two piece bitboards: the mover push_move would find is
// then the group's own piece; in a slider pass, the rook (bishop) on `from`,
// or else the queen.
class GroupMaker {
public:
    explicit GroupMaker(const Board& board)
        : side_(board.side_to_move()),
          enemy_(board.pieces(opposite(side_))),
          rooks_(board.pieces(side_, ROOK)),
          bishops_(board.pieces(side_, BISHOP)) {}

    // GROUP names the group: KING, KNIGHT, PAWN, or ROOK and BISHOP for the
    // two slider passes.
    template <Kind GROUP>
    void make(Board& board, ChessMove move) const {
        if constexpr (GROUP == ROOK || GROUP == BISHOP) {
            const Bitboard line_pieces = GROUP == ROOK ? rooks_ : bishops_;
            if (slider_mover(GROUP, line_pieces, move.from()) == GROUP)
                board.make_move<GROUP>(move, piece_of(side_, GROUP), enemy_);
            else
                board.make_move<QUEEN>(move, piece_of(side_, QUEEN), enemy_);
        } else {
            board.make_move<GROUP>(move, piece_of(side_, GROUP), enemy_);
        }
    }

    // Makes move i of list and calls each(i), for every move in order (each
    // takes the move back); calls group_done(g) when group g is through. The
    // group ends are read before the first move, so group_done may rewrite
    // them, and each may overwrite moves up to index i.
    template <typename Each, typename GroupDone>
    void make_each(Board& board, const MoveList& list, Each each, GroupDone group_done) const {
        const std::array<int, 5> ends = list.group_end;
        const auto move = [&](int i) { return list[i]; };
        int i = 0;
        for (; i < ends[0]; ++i) make<KING>(board, move(i)), each(i);
        group_done(0);
        for (; i < ends[1]; ++i) make<KNIGHT>(board, move(i)), each(i);
        group_done(1);
        for (; i < ends[2]; ++i) make<PAWN>(board, move(i)), each(i);
        group_done(2);
        for (; i < ends[3]; ++i) make<ROOK>(board, move(i)), each(i);
        group_done(3);
        for (; i < ends[4]; ++i) make<BISHOP>(board, move(i)), each(i);
        group_done(4);
    }

private:
    Colour side_;
    Bitboard enemy_, rooks_, bishops_;
};

}  // namespace vemla::legality
