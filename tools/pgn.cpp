// Reads a PGN file with the core reader and plays every game: the benchmark
// of the reader and a quick check of a file.
//   vemla_pgn FILE [--errors]
// Prints the number of games, moves and games with an error, the time taken
// (wall clock, and the process's CPU time), and games and moves per second of
// CPU time, which on a busy machine is what the reader itself costs.
// --errors also lists each error with the game's byte offset.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "move_generator/mod.hpp"
#include "notation/pgn_game.hpp"

int main(int argc, char** argv) {
    using namespace vemla;
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--errors") != 0)) {
        std::fprintf(stderr, "usage: vemla_pgn FILE [--errors]\n");
        return 2;
    }
    const bool list_errors = argc == 3;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(argv[1], "rb"),
                                                               &std::fclose);
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    try {
        const MoveGenerator generator;
        bool read_failed = false;
        pgn::GameReader reader(generator, [&](char* dst, std::size_t capacity) {
            const std::size_t n = std::fread(dst, 1, capacity, file.get());
            if (n == 0 && std::ferror(file.get())) read_failed = true;
            return n;
        });
        pgn::PgnGame game;
        pgn::PlayedGame played;
        std::uint64_t games = 0, moves = 0, errors = 0;
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu_start = std::clock();
        while (reader.next_tags(game)) {
            reader.finish(game, played, true);
            ++games;
            moves += played.moves.size();
            if (!played.error.empty()) {
                ++errors;
                if (list_errors)
                    std::printf("game at byte %llu: %s\n",
                                static_cast<unsigned long long>(game.offset), played.error.c_str());
            }
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
        if (read_failed) {
            std::perror(argv[1]);
            return 1;
        }
        const double rate = cpu_seconds > 0 ? 1 / cpu_seconds : 0;
        std::printf(
            "games: %llu\nmoves: %llu\nerrors: %llu\nseconds: %.3f\ncpu seconds: %.3f\ngames/s: "
            "%.0f\n"
            "moves/s: %.0f\n",
            static_cast<unsigned long long>(games), static_cast<unsigned long long>(moves),
            static_cast<unsigned long long>(errors), seconds, cpu_seconds,
            static_cast<double>(games) * rate, static_cast<double>(moves) * rate);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
