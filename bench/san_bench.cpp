// Speed of SAN in the core: reading (parse_san) and writing (append_san),
// each through the attack tables and through the list of legal moves (the
// reference), over every move of the test corpus's games and on one
// middlegame position. Prints figures only (CPU time of the thread, so
// that other processes on the machine count less); nothing here is a test.
//
//   san_bench [expected.jsonl]
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "board/mod.hpp"
#include "move_generator/mod.hpp"
#include "notation/san.hpp"

namespace {

using namespace vemla;

// The thread's own CPU time: on a shared machine, wall time also counts the
// time other processes held the core.
struct Clock {
    using time_point = double;
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
};

struct Game {
    std::string fen;  // empty: the starting position
    std::vector<std::string> san;
    std::vector<ChessMove> moves;
};

// The strings of the JSON array that follows `"key": [` in line (the
// corpus's texts hold no escapes).
std::vector<std::string> array_of(std::string_view line, std::string_view key) {
    std::vector<std::string> out;
    const std::string start = "\"" + std::string(key) + "\": [";
    std::size_t pos = line.find(start);
    if (pos == std::string_view::npos) return out;
    pos += start.size();
    const std::size_t end = line.find(']', pos);
    while (true) {
        const std::size_t open = line.find('"', pos);
        if (open == std::string_view::npos || open > end) break;
        const std::size_t close = line.find('"', open + 1);
        out.emplace_back(line.substr(open + 1, close - open - 1));
        pos = close + 1;
    }
    return out;
}

std::vector<Game> read_games(const char* path) {
    std::ifstream in(path);
    std::vector<Game> games;
    for (std::string line; std::getline(in, line);) {
        Game game;
        if (const std::size_t fen = line.find("\"FEN\": \""); fen != std::string::npos) {
            const std::size_t start = fen + 8;
            game.fen = line.substr(start, line.find('"', start) - start);
        }
        game.san = array_of(line, "san");
        for (const std::string& text : array_of(line, "uci"))
            game.moves.push_back(ChessMove::from_str(text));
        games.push_back(std::move(game));
    }
    return games;
}

Board start_of(const Game& game) {
    return Board::from_fen(game.fen.empty() ? DEFAULT_FEN : game.fen);
}

double seconds_since(double start) { return Clock::now() - start; }

// Plays every game with the given step for each ply; returns the seconds.
template <typename Step>
double replay(const std::vector<Game>& games, Step step) {
    const auto start = Clock::now();
    for (const Game& game : games) {
        Board board = start_of(game);
        for (std::size_t ply = 0; ply < game.moves.size(); ++ply) step(board, game, ply);
    }
    return seconds_since(start);
}

template <typename F>
double ns_per_call(F f, int calls) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) f();
    return seconds_since(start) * 1e9 / calls;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : VEMLA_BENCH_CORPUS;
    const std::vector<Game> games = read_games(path);
    std::size_t plies = 0;
    for (const Game& game : games) plies += game.moves.size();
    if (plies == 0) {
        std::fprintf(stderr, "no games read from %s\n", path);
        return 1;
    }
    const MoveGenerator generator;
    std::printf("%zu games, %zu moves (%s)\n", games.size(), plies, path);

    std::uint64_t sink = 0;
    std::string out;
    // Each figure is the best of three runs, less the cost of only making the moves.
    const auto best = [&](auto step) {
        double t = 1e30;
        for (int run = 0; run < 3; ++run) t = std::min(t, replay(games, step));
        return t;
    };
    const double push_only = best(
        [&](Board& board, const Game& game, std::size_t ply) { board.push_move(game.moves[ply]); });
    const double fast_in = best([&](Board& board, const Game& game, std::size_t ply) {
        ChessMove move;
        sink += static_cast<std::uint64_t>(parse_san(generator, board, game.san[ply], move));
        board.push_move(move);
    });
    const double reference_in = best([&](Board& board, const Game& game, std::size_t ply) {
        ChessMove move;
        sink +=
            static_cast<std::uint64_t>(parse_san_reference(generator, board, game.san[ply], move));
        board.push_move(move);
    });
    const double fast_out = best([&](Board& board, const Game& game, std::size_t ply) {
        out.clear();
        sink += append_san(generator, board, game.moves[ply], out);
        board.push_move(game.moves[ply]);
    });
    const double reference_out = best([&](Board& board, const Game& game, std::size_t ply) {
        out.clear();
        sink += append_san_reference(generator, board, game.moves[ply], out);
        board.push_move(game.moves[ply]);
    });
    const auto per_move = [&](double t) {
        return (t - push_only) * 1e9 / static_cast<double>(plies);
    };
    std::printf("corpus, ns per move (making the moves, %.1f ns, taken off):\n",
                push_only * 1e9 / static_cast<double>(plies));
    std::printf("  parse_san   %7.1f   reference %7.1f   (%.1fx)\n", per_move(fast_in),
                per_move(reference_in), per_move(reference_in) / per_move(fast_in));
    std::printf("  append_san  %7.1f   reference %7.1f   (%.1fx)\n", per_move(fast_out),
                per_move(reference_out), per_move(reference_out) / per_move(fast_out));

    // One middlegame position, one move of each kind.
    Board board =
        Board::from_fen("r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -");
    std::printf("middlegame, ns per call:\n");
    for (const char* text : {"Nd5", "Bxf6", "Rae1", "h3", "Qe3"}) {
        ChessMove move;
        const int calls = 2'000'000;
        const double in = ns_per_call(
            [&] { sink += static_cast<std::uint64_t>(parse_san(generator, board, text, move)); },
            calls);
        const double in_ref = ns_per_call(
            [&] {
                sink +=
                    static_cast<std::uint64_t>(parse_san_reference(generator, board, text, move));
            },
            calls / 4);
        parse_san(generator, board, text, move);
        const double write = ns_per_call(
            [&] {
                out.clear();
                sink += append_san(generator, board, move, out);
            },
            calls);
        const double write_ref = ns_per_call(
            [&] {
                out.clear();
                sink += append_san_reference(generator, board, move, out);
            },
            calls / 4);
        std::printf(
            "  %-5s parse_san %6.1f (reference %6.1f)   append_san %6.1f (reference %6.1f)\n", text,
            in, in_ref, write, write_ref);
    }
    return sink == 42 ? 2 : 0;
}
