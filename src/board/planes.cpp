// The plane encoding's expansion of twelve bitboards into 768 cells.
#include "board/planes.hpp"

namespace vemla {

// Every cell is computed from its word without a branch.
void expand_planes(const std::uint64_t* words, Planes& cells) {
    for (std::size_t p = 0; p < 12; ++p)
        for (std::size_t k = 0; k < 64; ++k)
            cells[64 * p + k] = static_cast<std::uint8_t>((words[p] >> k) & 1);
}

}  // namespace vemla
