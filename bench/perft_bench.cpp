// Native perft speed on a fixed set of positions: standard ones, and with
// --chess960 the Chess960 starts and mid-game positions of the test data.
// Prints nodes and nodes per second per position and in total; best of
// --repeat runs, timed by the process's CPU clock (the machine is shared, and
// wall time counts the other programs' turns too). Nothing here is a test.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/mod.hpp"
#include "move_generator/mod.hpp"
#include "move_generator/perft.hpp"

namespace {

using namespace vemla;

struct Case {
    std::string fen;
    int depth;
    bool chess960;
};

const std::vector<Case> STANDARD = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 6, false},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", 5, false},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", 7, false},
    {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -", 5, false},
    {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -", 5, false},
};

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    const char* positions = nullptr;  // "fen;depth" lines, read as Chess960
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) repeat = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--chess960") && i + 1 < argc) positions = argv[++i];
    }
    std::vector<Case> cases = STANDARD;
    if (positions) {
        cases.clear();
        std::ifstream in(positions);
        for (std::string line; std::getline(in, line);) {
            const auto semi = line.rfind(';');
            if (line.empty() || semi == std::string::npos) continue;
            cases.push_back({line.substr(0, semi), std::atoi(line.c_str() + semi + 1), true});
        }
    }
    static const MoveGenerator generator;
    std::uint64_t total_nodes = 0;
    double total_time = 0;
    for (const Case& c : cases) {
        Board board = c.chess960 ? Board::from_full_fen(c.fen, true) : Board::from_fen(c.fen);
        double best = 1e30;
        std::uint64_t nodes = 0;
        for (int r = 0; r < repeat; ++r) {
            const double start = cpu_seconds();
            nodes = perft(generator, board, c.depth);
            best = std::min(best, cpu_seconds() - start);
        }
        total_nodes += nodes;
        total_time += best;
        if (!positions)
            std::printf("%-70s d%d %12llu nodes %8.1f Mnps\n", c.fen.c_str(), c.depth,
                        static_cast<unsigned long long>(nodes), static_cast<double>(nodes) / best / 1e6);
    }
    std::printf("total %llu nodes in %.3f s: %.1f Mnps\n",
                static_cast<unsigned long long>(total_nodes), total_time,
                static_cast<double>(total_nodes) / total_time / 1e6);
}
