// Making and taking back moves. A move saves only the piece bitboards it
// changes (one to three) plus the state word, so undo is exact and cheap.
#include "board/mod.hpp"
#include "failure.hpp"

namespace vemla {

namespace {

constexpr std::string_view SQUARE_NAMES[64] = {
    "a1", "b1", "c1", "d1", "e1", "f1", "g1", "h1", "a2", "b2", "c2", "d2", "e2", "f2", "g2", "h2",
    "a3", "b3", "c3", "d3", "e3", "f3", "g3", "h3", "a4", "b4", "c4", "d4", "e4", "f4", "g4", "h4",
    "a5", "b5", "c5", "d5", "e5", "f5", "g5", "h5", "a6", "b6", "c6", "d6", "e6", "f6", "g6", "h6",
    "a7", "b7", "c7", "d7", "e7", "f7", "g7", "h7", "a8", "b8", "c8", "d8", "e8", "f8", "g8", "h8",
};

[[noreturn]] void no_piece(int from) {
    panic("no piece on " + std::string(SQUARE_NAMES[from]) + " to move");
}

// The castling right tied to each corner square (its rook's home).
constexpr std::array<std::uint64_t, 64> CORNER_RIGHT = [] {
    std::array<std::uint64_t, 64> table{};
    table[0] = state::WHITE_QUEEN_SIDE;
    table[7] = state::WHITE_KING_SIDE;
    table[56] = state::BLACK_QUEEN_SIDE;
    table[63] = state::BLACK_KING_SIDE;
    return table;
}();

}  // namespace

void Board::push_move(ChessMove move) {
    const int from = move.from();
    const int to = move.to();
    const Bitboard from_bb = square_bb(from);
    const Bitboard to_bb = square_bb(to);
    const std::uint64_t old_state = bitboards[STATE];
    const bool white_to_move = old_state & state::WHITE_TO_MOVE;

    // The mover is the first piece bitboard holding the from-square.
    int mover = 0;
    while (!(bitboards[static_cast<std::size_t>(mover)] & from_bb))
        if (++mover == 12) [[unlikely]]
            no_piece(from);
    const int mover_colour = mover >= 6;
    const int kind = mover - 6 * mover_colour;

    // A captured piece is the opponent's first bitboard holding the to-square;
    // a piece of the mover's own colour there is neither captured nor moved.
    const int enemy_base = 6 - 6 * mover_colour;
    const std::uint64_t* enemy = bitboards.data() + enemy_base;
    int captured = -1;
    if (to_bb & (enemy[0] | enemy[1] | enemy[2] | enemy[3] | enemy[4] | enemy[5])) {
        captured = enemy_base;
        while (!(bitboards[static_cast<std::size_t>(captured)] & to_bb)) ++captured;
    }

    bool en_passant = false;
    int promoted = -1;
    int rook = -1;
    if (kind == PAWN) {
        // A pawn moving diagonally onto a square without an enemy captures en
        // passant; the state word's en-passant bits are not consulted.
        en_passant = captured < 0 && file_of(to) != file_of(from);
        if (en_passant) captured = enemy_base + PAWN;
        if ((rank_of(to) == 0 || rank_of(to) == 7) && move.is_promotion())
            promoted = move.special() + mover - 3;
    } else if (kind == KING && file_of(from) == 4 && (file_of(to) == 2 || file_of(to) == 6)) {
        rook = mover - 2;
    }

    // Save the bitboards this move changes, mover first.
    std::uint16_t mask = static_cast<std::uint16_t>(1u << mover);
    history[static_cast<std::size_t>(mover)].push_back(bitboards[static_cast<std::size_t>(mover)]);
    if (captured >= 0) {
        history[static_cast<std::size_t>(captured)].push_back(bitboards[static_cast<std::size_t>(captured)]);
        mask = static_cast<std::uint16_t>(mask | (1u << captured));
    }
    if (rook >= 0) {
        history[static_cast<std::size_t>(rook)].push_back(bitboards[static_cast<std::size_t>(rook)]);
        mask = static_cast<std::uint16_t>(mask | (1u << rook));
    }
    if (promoted >= 0) {
        history[static_cast<std::size_t>(promoted)].push_back(bitboards[static_cast<std::size_t>(promoted)]);
        mask = static_cast<std::uint16_t>(mask | (1u << promoted));
    }
    undo_stack.push_back(UndoRecord{old_state, mask});

    std::uint64_t& moving = bitboards[static_cast<std::size_t>(mover)];
    moving = (moving & ~from_bb) | to_bb;
    if (captured >= 0) bitboards[static_cast<std::size_t>(captured)] &= ~to_bb;

    std::uint64_t word = old_state & ~state::EN_PASSANT;
    if (kind == PAWN) {
        // The side to move, not the mover's colour, picks the captured pawn's square.
        if (en_passant) {
            if (white_to_move)
                bitboards[BLACK_PAWN] &= ~square_bb((to + 56) & 63);
            else
                bitboards[WHITE_PAWN] &= ~square_bb((to + 8) & 63);
        }
        if (promoted >= 0) {
            moving &= ~to_bb;
            bitboards[static_cast<std::size_t>(promoted)] |= to_bb;
        }
        if (mover == WHITE_PAWN && rank_of(to) == rank_of(from) + 2)
            word |= std::uint64_t{1} << (state::BLACK_EP_SHIFT + file_of(to));
        else if (mover == BLACK_PAWN && rank_of(from) == rank_of(to) + 2)
            word |= std::uint64_t{1} << (state::WHITE_EP_SHIFT + file_of(to));
    }
    if (rook >= 0) {
        // The side to move also picks the rook's home rank.
        const int base = white_to_move ? 0 : 56;
        const int rook_from = base + (file_of(to) == 6 ? 7 : 0);
        const int rook_to = base + (file_of(to) == 6 ? 5 : 3);
        std::uint64_t& rooks = bitboards[static_cast<std::size_t>(rook)];
        const Bitboard was_there = rooks & square_bb(rook_from);
        rooks &= ~square_bb(rook_from);
        if (was_there) rooks |= square_bb(rook_to);
    }

    if (word & state::CASTLING) {
        // Rights lost by moving the king or a rook off its corner count only
        // for the side to move; a rook captured on its corner loses its right
        // whoever is to move.
        const std::uint64_t own_rights =
            white_to_move ? state::WHITE_KING_SIDE | state::WHITE_QUEEN_SIDE
                          : state::BLACK_KING_SIDE | state::BLACK_QUEEN_SIDE;
        std::uint64_t lost = 0;
        if (mover == (white_to_move ? WHITE_KING : BLACK_KING)) lost |= own_rights;
        if (mover == (white_to_move ? WHITE_ROOK : BLACK_ROOK))
            lost |= CORNER_RIGHT[static_cast<std::size_t>(from)] & own_rights;
        if (captured == WHITE_ROOK)
            lost |= CORNER_RIGHT[static_cast<std::size_t>(to)] & (state::WHITE_KING_SIDE | state::WHITE_QUEEN_SIDE);
        if (captured == BLACK_ROOK)
            lost |= CORNER_RIGHT[static_cast<std::size_t>(to)] & (state::BLACK_KING_SIDE | state::BLACK_QUEEN_SIDE);
        word &= ~lost;
    }

    bitboards[STATE] = word ^ state::WHITE_TO_MOVE;
}

void Board::pop_move() {
    expect(!undo_stack.empty(), "no move to take back");
    const UndoRecord record = undo_stack.back();
    undo_stack.pop_back();
    bitboards[STATE] = record.saved_state;
    for (unsigned mask = record.pushed_mask; mask; mask &= mask - 1) {
        const auto piece = static_cast<std::size_t>(std::countr_zero(mask));
        bitboards[piece] = history[piece].back();
        history[piece].pop_back();
    }
}

void Board::reflect() {
    // Byte reversal mirrors top to bottom (square s -> s ^ 56).
    for (std::size_t kind = 0; kind < 6; ++kind) {
        const std::uint64_t white = bitboards[kind];
        bitboards[kind] = __builtin_bswap64(bitboards[kind + 6]);
        bitboards[kind + 6] = __builtin_bswap64(white);
    }
    const std::uint64_t word = bitboards[STATE];
    const std::uint64_t side = (word & state::WHITE_TO_MOVE) ^ state::WHITE_TO_MOVE;
    // Castling K,Q (bits 1-2) trade places with k,q (bits 3-4); the two
    // en-passant groups trade places as blocks of eight.
    const std::uint64_t castling = ((word >> 2) & 0x6) | ((word << 2) & 0x18);
    const std::uint64_t ep = ((word >> 8) & (0xFFull << 5)) | ((word << 8) & (0xFFull << 13));
    bitboards[STATE] = (word & ~state::LOW_BITS) | side | castling | ep;

    // Moves made before the reflection can no longer be taken back.
    for (auto& stack : history) std::vector<std::uint64_t>().swap(stack);
    std::vector<UndoRecord>().swap(undo_stack);
}

void expand_planes(const std::uint64_t* words, Planes& cells) {
    for (std::size_t p = 0; p < 12; ++p)
        for (std::size_t k = 0; k < 64; ++k)
            cells[64 * p + k] = static_cast<std::uint8_t>((words[p] >> k) & 1);
}

}  // namespace vemla
