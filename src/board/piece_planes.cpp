// The plane encoding's expansion of twelve bitboards into 768 cells.
#include "board/piece_planes.hpp"

#include <bit>
#include <cstring>

namespace vemla {

void expand_planes(const std::uint64_t* words, std::uint8_t* cells) {
    // Eight cells per step, one rank of one plane: the rank's byte is copied
    // into all eight bytes of a word, byte j keeps only bit j, and adding 0x7F
    // to every byte carries a set bit into the byte's top bit (never beyond
    // it), which the shift brings down to bit 0.
    constexpr std::uint64_t ONES = 0x0101010101010101ull;
    constexpr std::uint64_t DIAGONAL = 0x8040201008040201ull;
    constexpr std::uint64_t LOW_SEVEN = 0x7F7F7F7F7F7F7F7Full;
    for (std::size_t p = 0; p < 12; ++p) {
        for (std::size_t rank = 0; rank < 8; ++rank) {
            const std::uint64_t byte = (words[p] >> (8 * rank)) & 0xFF;
            std::uint64_t spread = ((((byte * ONES) & DIAGONAL) + LOW_SEVEN) >> 7) & ONES;
            // Byte j of the word is cell 8 * rank + j.
            if constexpr (std::endian::native == std::endian::big)
                spread = __builtin_bswap64(spread);
            std::memcpy(cells + 64 * p + 8 * rank, &spread, sizeof spread);
        }
    }
}

}  // namespace vemla
