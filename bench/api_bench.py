"""Cost of each Python-visible call, in ns or µs per call. Prints figures only.

    tools/python bench/api_bench.py

Also prints, measured in the same run, the generator call on Kiwipete against
the bare cost of a list of as many fresh 4-character str objects, and perft in
Python (Kiwipete, depth 4) against Stockfish's native `go perft` rate on the
same position when /usr/games/stockfish is installed.
"""

import os
import time
import timeit

import vemla_chess

from vemla_chess_data.perft import perft  # the main job's own perft
from vs_stockfish import STOCKFISH, stockfish  # bench/, the script's own folder

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
MIDDLEGAME = "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -"
MATED = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -"
BATCH = 4096


def shuffled(Board, plies):
    """The initial position after `plies` knight moves out and back."""
    board = Board()
    for i in range(plies):
        board.push(["g1f3", "g8f6", "f3g1", "f6g8"][i % 4])
    return board


def per_call(stmt, number, **names):
    """Best of five runs, in ns per call."""
    timer = timeit.Timer(stmt, globals=names)
    return min(timer.repeat(repeat=5, number=number)) / number * 1e9


def main():
    Board, generator = vemla_chess.Board, vemla_chess.MoveGenerator()
    board = Board()
    rows = [
        ("Board() default FEN", per_call("Board()", 200_000, Board=Board)),
        ("Board(fen) Kiwipete", per_call("Board(f)", 200_000, Board=Board, f=KIWIPETE)),
        ("fen()", per_call("b.fen()", 200_000, b=board)),
        ("turn()", per_call("b.turn()", 500_000, b=board)),
        ('push("e2e4") + pop()', per_call("p('e2e4'); q()", 500_000, p=board.push, q=board.pop)),
        ("copy() fresh board", per_call("b.copy()", 200_000, b=board)),
        ("bitboard()", per_call("b.bitboard()", 50_000, b=board)),
        ("bitboard_from_fen()", per_call("f(s)", 50_000, f=Board.bitboard_from_fen, s=START)),
        ("bitboard_bytes()", per_call("b.bitboard_bytes()", 500_000, b=board)),
        ("bitboard_bytes_from_fen()", per_call("f(s)", 500_000, f=Board.bitboard_bytes_from_fen, s=START)),
        ("bitboard_into(bytearray)", per_call("b.bitboard_into(o)", 500_000, b=board, o=bytearray(768))),
        ("generator.is_check(board) initial", per_call("g.is_check(b)", 500_000, g=generator, b=board)),
        ("generator.outcome(board) initial", per_call("g.outcome(b)", 500_000, g=generator, b=board)),
        ("generator.outcome(board) checkmate", per_call("g.outcome(b)", 200_000, g=generator, b=Board(MATED))),
        ("repetitions() after 100 knight moves", per_call("b.repetitions()", 200_000, b=shuffled(Board, 100))),
        ("ply()", per_call("b.ply()", 500_000, b=board)),
        ("halfmove_clock() after 100 knight moves", per_call("b.halfmove_clock()", 200_000, b=shuffled(Board, 100))),
        ("full_fen()", per_call("b.full_fen()", 200_000, b=board)),
        ("zobrist() middlegame", per_call("b.zobrist()", 500_000, b=Board(MIDDLEGAME))),
        ('piece_at("e1")', per_call("b.piece_at('e1')", 500_000, b=board)),
        ('generator.is_legal(board, "f3e5") middlegame',
         per_call("g.is_legal(b, 'f3e5')", 500_000, g=generator, b=Board(MIDDLEGAME))),
        ('generator.is_capture(board, "f3e5") middlegame',
         per_call("g.is_capture(b, 'f3e5')", 500_000, g=generator, b=Board(MIDDLEGAME))),
        ('generator.gives_check(board, "c4f7") middlegame',
         per_call("g.gives_check(b, 'c4f7')", 500_000, g=generator, b=Board(MIDDLEGAME))),
        ('generator.push_legal(board, "e2e4") + pop()',
         per_call("g.push_legal(b, 'e2e4'); b.pop()", 500_000, g=generator, b=board)),
        ("generator.outcome(board, claim_draw=True) after 100 knight moves",
         per_call("g.outcome(b, True)", 200_000, g=generator, b=shuffled(Board, 100))),
        ("MoveGenerator()", per_call("M()", 200, M=vemla_chess.MoveGenerator)),
    ]
    ratios = {}
    for name, fen in (("initial", START), ("Kiwipete", KIWIPETE), ("middlegame", MIDDLEGAME)):
        b = Board(fen)
        count = len(generator(b))
        texts = " ".join(["e2e4"] * count)
        call = per_call("g(b)", 100_000, g=generator, b=b)
        bare = per_call("t.split()", 100_000, t=texts)
        rows.append((f"generator(board) {name} ({count} moves)", call))
        rows.append((f"  bare: list of {count} fresh 4-char str", bare))
        ratios[name] = call / bare

    width = max(len(name) for name, _ in rows)
    for name, ns in rows:
        figure = f"{ns / 1000:10.2f} µs" if ns >= 1000 else f"{ns:10.1f} ns"
        print(f"{name:<{width}}  {figure}")

    numpy_figures(Board, generator, width)
    print(f"{'generator(board) Kiwipete / bare list':<{width}}  {ratios['Kiwipete']:10.2f}")

    board = Board(KIWIPETE)
    best = 0.0
    for _ in range(3):
        start = time.perf_counter()
        nodes = perft(generator, board, 4)
        best = max(best, nodes / (time.perf_counter() - start))
    print(f"{'Python perft Kiwipete depth 4':<{width}}  {best / 1e6:10.2f} M nodes/s (best of 3)")
    if os.path.exists(STOCKFISH):
        # Stockfish's rate is taken at depth 5: at depth 4 its whole count
        # takes about as long as its start-up, which is subtracted.
        startup = min(stockfish(KIWIPETE, 1)[0] for _ in range(3))
        native = max(n / max(t - startup, 1e-9) for t, n in (stockfish(KIWIPETE, 5) for _ in range(2)))
        print(f"{'Stockfish go perft 5 Kiwipete':<{width}}  {native / 1e6:10.2f} M nodes/s (best of 2)")
        print(f"{'Python perft / Stockfish':<{width}}  {best / native:10.2f}")


def numpy_figures(Board, generator, width):
    """Planes into numpy: from the lists against from bytes and in place."""
    try:
        import numpy
    except ImportError:
        print("numpy not installed: plane-to-array figures skipped")
        return
    board = Board(MIDDLEGAME)
    lists = per_call("a(b.bitboard(), dtype=bool)", 20_000, a=numpy.array, b=board)
    frombuffer = per_call("f(b.bitboard_bytes(), dtype=t)", 200_000, f=numpy.frombuffer, b=board, t=numpy.bool_)
    single = numpy.zeros((12, 8, 8), dtype=numpy.bool_)
    into = per_call("b.bitboard_into(o)", 500_000, b=board, o=single)

    # A batch of 4096 positions from random games, filled both ways.
    import random
    rng, boards, game = random.Random(1), [], Board()
    while len(boards) < BATCH:
        moves = generator(game)
        if not moves or game.ply() >= 200:
            game = Board()
            continue
        game.push(rng.choice(moves))
        boards.append(game.copy())
    batch = numpy.zeros((BATCH, 12, 8, 8), dtype=numpy.bool_)

    def fill_from_lists():
        return numpy.array([b.bitboard() for b in boards], dtype=bool).reshape(BATCH, 12, 8, 8)

    def fill_in_place():
        for i, b in enumerate(boards):
            b.bitboard_into(batch[i])

    def best(f, runs):
        return min(timeit.repeat(f, repeat=5, number=runs)) / runs * 1e3

    from_lists_ms, in_place_ms = best(fill_from_lists, 3), best(fill_in_place, 20)
    assert numpy.array_equal(fill_from_lists(), batch)
    rows = [
        ("numpy.array(bitboard(), dtype=bool)", f"{lists / 1000:10.2f} µs"),
        ("numpy.frombuffer(bitboard_bytes(), bool_)", f"{frombuffer / 1000:10.2f} µs  ({lists / frombuffer:.0f}x less; target 20x)"),
        ("bitboard_into((12, 8, 8) bool_ array)", f"{into / 1000:10.2f} µs"),
        (f"({BATCH}, 12, 8, 8) batch from bitboard() lists", f"{from_lists_ms:10.2f} ms"),
        (f"({BATCH}, 12, 8, 8) batch by bitboard_into", f"{in_place_ms:10.2f} ms  ({from_lists_ms / in_place_ms:.0f}x faster; target 20x)"),
    ]
    for name, figure in rows:
        print(f"{name:<{width}}  {figure}")


if __name__ == "__main__":
    main()
