// Speed of the core's hot paths. Prints figures only; nothing here is a test.
#include <benchmark/benchmark.h>

#include "board/mod.hpp"
#include "move_generator/mod.hpp"
#include "move_generator/perft.hpp"

namespace {

using namespace vemla;

constexpr const char* KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -";
constexpr const char* MIDDLEGAME =
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -";

const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

void push_pop(benchmark::State& state) {
    Board board = Board::from_fen(DEFAULT_FEN);
    const auto move = ChessMove::from_str("e2e4");
    for (auto _ : state) {
        board.push_move(move);
        board.pop_move();
        benchmark::DoNotOptimize(board.bitboards);
    }
}
BENCHMARK(push_pop);

void square_in_check(benchmark::State& state) {
    const Board board = Board::from_fen(KIWIPETE);
    int sq = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator().square_in_check(board, sq, WHITE));
        sq = (sq + 1) & 63;
    }
}
BENCHMARK(square_in_check);

void generate(benchmark::State& state, const char* fen) {
    Board board = Board::from_fen(fen);
    MoveList moves;
    for (auto _ : state) {
        generator().generate(board, moves);
        benchmark::DoNotOptimize(moves.size);
    }
}
BENCHMARK_CAPTURE(generate, initial, DEFAULT_FEN.data());
BENCHMARK_CAPTURE(generate, kiwipete, KIWIPETE);
BENCHMARK_CAPTURE(generate, middlegame, MIDDLEGAME);

void planes(benchmark::State& state) {
    const Board board = Board::from_fen(KIWIPETE);
    Planes cells;
    for (auto _ : state) {
        expand_planes(board.bitboards.data(), cells);
        benchmark::DoNotOptimize(cells);
    }
}
BENCHMARK(planes);

void game_outcome(benchmark::State& state, const char* fen) {
    Board board = Board::from_fen(fen);
    for (auto _ : state) benchmark::DoNotOptimize(generator().outcome(board));
}
BENCHMARK_CAPTURE(game_outcome, middlegame, MIDDLEGAME);
BENCHMARK_CAPTURE(game_outcome, checkmate,
                  "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -");

// A line of `range(0)` knight moves with nothing captured: the walk reads it all.
void repetition_count(benchmark::State& state) {
    Board board = Board::from_fen(DEFAULT_FEN);
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (std::int64_t i = 0; i < state.range(0); ++i)
        board.push_move(ChessMove::from_str(shuffle[i % 4]));
    for (auto _ : state) benchmark::DoNotOptimize(board.repetitions());
}
BENCHMARK(repetition_count)->Arg(10)->Arg(100)->Arg(600);

void construct_generator(benchmark::State& state) {
    for (auto _ : state) {
        MoveGenerator g;
        benchmark::DoNotOptimize(g.attack_tables.data());
    }
}
BENCHMARK(construct_generator)->Unit(benchmark::kMillisecond);

void perft_kiwipete(benchmark::State& state) {
    Board board = Board::from_fen(KIWIPETE);
    std::uint64_t nodes = 0;
    for (auto _ : state) nodes += perft(generator(), board, 3);
    state.counters["nodes/s"] =
        benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
}
BENCHMARK(perft_kiwipete)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
