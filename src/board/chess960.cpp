// The 960 start positions of Chess960, by their standard numbers.
#include <array>
#include <string>

#include "board/mod.hpp"
#include "failure.hpp"

namespace vemla {

std::string Board::chess960_back_rank(int n) {
    expect(n >= 0 && n < 960, "a Chess960 start number is 0 to 959");
    std::string rank(8, ' ');
    // The light-squared bishop's file (b, d, f, h) is n mod 4, the
    // dark-squared one's (a, c, e, g) the next base-4 digit; the queen takes
    // the empty square numbered by the next base-6 digit, the knights the
    // pair numbered by what is left (0 to 9); the rest is rook, king, rook.
    rank[static_cast<std::size_t>(2 * (n % 4) + 1)] = 'B';
    n /= 4;
    rank[static_cast<std::size_t>(2 * (n % 4))] = 'B';
    n /= 4;
    const auto place_on_empty = [&](int index, char piece) {
        for (char& square : rank)
            if (square == ' ' && index-- == 0) {
                square = piece;
                return;
            }
    };
    place_on_empty(n % 6, 'Q');
    n /= 6;
    // The knights' pairs among the five squares still empty, in order.
    constexpr std::array<std::array<int, 2>, 10> KNIGHTS = {
        {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}}};
    const auto& pair = KNIGHTS[static_cast<std::size_t>(n)];
    // The second knight first: placing the first would renumber its square.
    place_on_empty(pair[1], 'N');
    place_on_empty(pair[0], 'N');
    place_on_empty(0, 'R');
    place_on_empty(0, 'K');
    place_on_empty(0, 'R');
    return rank;
}

Board Board::from_chess960(long long n) {
    if (n < 0 || n >= 960)
        throw InvalidInput("Invalid Chess960 start number " + std::to_string(n) +
                           ": it must be 0 to 959");
    const std::string white = chess960_back_rank(static_cast<int>(n));
    std::string black = white;
    for (char& c : black) c = static_cast<char>(c - 'A' + 'a');
    return from_full_fen(black + "/pppppppp/8/8/8/8/PPPPPPPP/" + white + " w KQkq - 0 1", true);
}

}  // namespace vemla
