// Building the magic attack tables: the MoveGenerator constructor, and
// rook_bishop_moves, which builds one table on its own.
#include "failure.hpp"
#include "move_generator/mod.hpp"

namespace vemla {

namespace {

// Writes the attack set of every subset of mask at its magic index.
void fill_table(Bitboard* table, int sq, Bitboard mask, Kind kind) {
    const bool rook = kind == ROOK;
    // Carry-rippler enumeration of all subsets of mask, starting from empty.
    Bitboard occ = 0;
    do {
        const std::size_t index = rook ? rook_index(sq, occ) : bishop_index(sq, occ);
        expect(index < TABLE_SIZE, "index out of bounds: magic index exceeds the table");
        table[index] = slider_attacks(sq, occ, rook);
        occ = (occ - mask) & mask;
    } while (occ);
}

}  // namespace

std::vector<Bitboard> rook_bishop_moves(int sq, Bitboard mask, Kind kind) {
    std::vector<Bitboard> table(TABLE_SIZE);
    fill_table(table.data(), sq, mask, kind);
    return table;
}

MoveGenerator::MoveGenerator() : attack_tables(128 * TABLE_SIZE) {
    for (int sq = 0; sq < 64; ++sq) {
        fill_table(attack_tables.data() + static_cast<std::size_t>(2 * sq) * TABLE_SIZE, sq,
                   at(ROOK_MASKS, sq), ROOK);
        fill_table(attack_tables.data() + static_cast<std::size_t>(2 * sq + 1) * TABLE_SIZE, sq,
                   at(BISHOP_MASKS, sq), BISHOP);
    }
}

}  // namespace vemla
