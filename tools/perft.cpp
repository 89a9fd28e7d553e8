// Native perft on the C++ core: per-move counts, total, time and nodes per second.
//   vemla_perft [--chess960] [FEN] [depth]
// With --chess960 the FEN is read as a Chess960 position (X-FEN or
// Shredder-FEN castling; move counters may follow).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "board/mod.hpp"
#include "move_generator/mod.hpp"
#include "move_generator/perft.hpp"

int main(int argc, char** argv) {
    using namespace vemla;
    try {
        const bool chess960 = argc > 1 && std::string(argv[1]) == "--chess960";
        if (chess960) --argc, ++argv;
        const std::string fen = argc > 1 ? argv[1] : std::string(DEFAULT_FEN);
        const int depth = argc > 2 ? std::atoi(argv[2]) : 6;
        if (depth < 1) {
            std::fprintf(stderr, "depth must be at least 1\n");
            return 2;
        }
        Board board = chess960 ? Board::from_full_fen(fen, true) : Board::from_fen(fen);
        const MoveGenerator generator;

        const auto start = std::chrono::steady_clock::now();
        const auto counts = divide(generator, board, depth);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::uint64_t total = 0;
        for (const auto& [move, nodes] : counts) {
            total += nodes;
            std::printf("%s: %llu\n", move.to_string().c_str(),
                        static_cast<unsigned long long>(nodes));
        }
        std::printf("\nNodes searched: %llu\nTime: %.3f s\nNodes per second: %.0f\n",
                    static_cast<unsigned long long>(total), seconds,
                    seconds > 0 ? static_cast<double>(total) / seconds : 0.0);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
