"""What the UCI client adds to an engine's search, per analysed position.

    tools/python bench/engine_bench.py [--nodes 1000] [--positions 200] [--rounds 3]

Analyses the same positions (reached by seeded random play from the start)
with Engine.analyse and with a bare loop that writes the same two commands
to a second Stockfish and reads its lines until bestmove, doing nothing with
them. Both engines run with Threads=1 and Hash=16, get ucinewgame before each
round, and search by nodes, so they do the same work; the difference per
position is the client's overhead (parsing, legality checks of the whole
variation, deadlines). Prints figures only; best round of each.
"""
import argparse
import random
import subprocess
import time

import vemla_chess

from vemla_chess_data.engine import Engine

STOCKFISH = "/usr/games/stockfish"


def positions(count, seed=1):
    generator, rng, found = vemla_chess.MoveGenerator(), random.Random(seed), []
    while len(found) < count:
        board = vemla_chess.Board()
        for _ in range(rng.randrange(4, 60)):
            moves = generator(board)
            if not moves:
                break
            board.push(rng.choice(moves))
        if generator(board):
            found.append(board.full_fen())
    return found


def bare(fens, nodes, rounds):
    engine = subprocess.Popen([STOCKFISH], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
    send, read = engine.stdin, engine.stdout

    def ask(text, until):
        send.write(text + "\n")
        send.flush()
        while not read.readline().startswith(until):
            pass

    ask("uci", "uciok")
    for line in ("setoption name Threads value 1", "setoption name Hash value 16",
                 "setoption name UCI_ShowWDL value true"):
        send.write(line + "\n")
    ask("isready", "readyok")
    best = float("inf")
    for _ in range(rounds):
        ask("ucinewgame\nisready", "readyok")
        start = time.perf_counter()
        for fen in fens:
            ask(f"position fen {fen}\ngo nodes {nodes}", "bestmove")
        best = min(best, time.perf_counter() - start)
    ask("quit", "")
    engine.wait()
    return best / len(fens)


def client(fens, nodes, rounds):
    boards = [vemla_chess.Board.from_full_fen(fen) for fen in fens]
    best = float("inf")
    with Engine(STOCKFISH, {"Threads": 1, "Hash": 16}) as engine:
        for _ in range(rounds):
            engine.new_game()
            start = time.perf_counter()
            for board in boards:
                engine.analyse(board, nodes=nodes)
            best = min(best, time.perf_counter() - start)
    return best / len(fens)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=1000)
    parser.add_argument("--positions", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    fens = positions(args.positions)
    # Alternated, so that a busy moment of the machine falls on both.
    raw, ours = float("inf"), float("inf")
    for _ in range(2):
        raw = min(raw, bare(fens, args.nodes, args.rounds))
        ours = min(ours, client(fens, args.nodes, args.rounds))
    print(f"positions {len(fens)}, nodes {args.nodes}, Threads=1, Hash=16")
    print(f"bare loop          {raw * 1e6:9.1f} us per position")
    print(f"Engine.analyse     {ours * 1e6:9.1f} us per position")
    print(f"client overhead    {(ours - raw) * 1e6:9.1f} us per position ({(ours - raw) / raw:+.1%} of the search)")


if __name__ == "__main__":
    main()
