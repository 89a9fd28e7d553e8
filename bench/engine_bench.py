"""What the UCI client adds to an engine's search, per analysed position.

    tools/python bench/engine_bench.py [--nodes 1000] [--positions 200] [--rounds 3]

Analyses the same positions (reached by seeded random play from the start)
with Engine.analyse and with a bare loop that writes the same two commands
to a second Stockfish and reads its lines until bestmove, doing nothing with
them. Both engines run with Threads=1 and Hash=16, get ucinewgame before each
round, and search by nodes, so they do the same work; the difference per
position is the client's overhead (parsing, legality checks of the whole
variation, deadlines). Also prints the CPU time this process spends per
position in each (the client's own work, whatever else the machine is doing).
Prints figures only; best round of each.
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
    best, cpu = float("inf"), float("inf")
    for _ in range(rounds):
        ask("ucinewgame\nisready", "readyok")
        start, start_cpu = time.perf_counter(), time.process_time()
        for fen in fens:
            ask(f"position fen {fen}\ngo nodes {nodes}", "bestmove")
        best, cpu = min(best, time.perf_counter() - start), min(cpu, time.process_time() - start_cpu)
    ask("quit", "")
    engine.wait()
    return best / len(fens), cpu / len(fens)


def client(fens, nodes, rounds):
    boards = [vemla_chess.Board.from_full_fen(fen) for fen in fens]
    best, cpu = float("inf"), float("inf")
    with Engine(STOCKFISH, {"Threads": 1, "Hash": 16}) as engine:
        for _ in range(rounds):
            engine.new_game()
            start, start_cpu = time.perf_counter(), time.process_time()
            for board in boards:
                engine.analyse(board, nodes=nodes)
            best, cpu = min(best, time.perf_counter() - start), min(cpu, time.process_time() - start_cpu)
    return best / len(fens), cpu / len(fens)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=1000)
    parser.add_argument("--positions", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    fens = positions(args.positions)
    # Alternated, so that a busy moment of the machine falls on both.
    raw, ours = (float("inf"),) * 2, (float("inf"),) * 2
    for _ in range(2):
        raw = min(raw, bare(fens, args.nodes, args.rounds))
        ours = min(ours, client(fens, args.nodes, args.rounds))
    print(f"positions {len(fens)}, nodes {args.nodes}, Threads=1, Hash=16; per position, wall / this process's CPU")
    print(f"bare loop          {raw[0] * 1e6:9.1f} us / {raw[1] * 1e6:7.1f} us")
    print(f"Engine.analyse     {ours[0] * 1e6:9.1f} us / {ours[1] * 1e6:7.1f} us")
    print(f"client overhead    {(ours[0] - raw[0]) * 1e6:9.1f} us ({(ours[0] - raw[0]) / raw[0]:+.1%} of the search)"
          f" / {(ours[1] - raw[1]) * 1e6:7.1f} us of CPU ({(ours[1] - raw[1]) / raw[0]:+.1%})")


if __name__ == "__main__":
    main()
