"""PGN to dataset shards: positions per second on one job and on several,
with the CPU time they take, plus the per-call cost of the policy calls.

    tools/python bench/dataset_bench.py [--copies 10] [--jobs 2] [--rounds 3] [--input PGN] [--no-policy]

The input is tests/data/pgn/corpus.pgn repeated --copies times (about 100,000
positions per copy) in a temporary folder. Each round builds the dataset
once with 1 job and once with --jobs jobs, alternating, into fresh folders;
the figures are the medians. Shards are written as the tool writes them
(fsync included), so the disk counts too. Quote the load (uptime) with them.
"""

import argparse
import array
import os
import resource
import shutil
import statistics
import sys
import tempfile
import time
import timeit

from vemla_chess import Board, MoveGenerator
from vemla_chess_data import tool

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def cpu_seconds():
    """CPU time of this process and of its finished children."""
    own, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def build(source, out_dir, jobs, range_mb):
    parser = tool.parser_for("bench")
    args = parser.parse_args(["pgn", out_dir, source, "--range-mb", str(range_mb), "--jobs", str(jobs)])
    cpu, start = cpu_seconds(), time.perf_counter()
    devnull = open(os.devnull, "w")
    saved = sys.stdout, sys.stderr
    sys.stdout = sys.stderr = devnull
    try:
        assert tool.run(parser, args, "bench") == 0
    finally:
        sys.stdout, sys.stderr = saved
        devnull.close()
    seconds, cpu_time = time.perf_counter() - start, cpu_seconds() - cpu
    index = tool.shards.read_index(out_dir)
    return seconds, cpu_time, index["positions"], index["games"]


def policy_calls():
    gen = MoveGenerator()
    mask, mask_az = bytearray(1858), bytearray(4672)
    planes, planes8 = array.array("f", bytes(4 * 20 * 64)), array.array("f", bytes(4 * 104 * 64))
    number = 200_000
    for fen in ("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
                "r1bq1rk1/pp2bppp/2n1pn2/2pp4/3P4/2PBPN2/PP1N1PPP/R2QK2R w KQ -"):
        board = Board(fen)
        # The history planes of the position eight plies on read the line behind it.
        later = board.copy()
        for _ in range(8):
            later.push(gen(later)[-1])
        print(f"  {fen} ({len(gen(board))} legal moves)")
        for label, call in (("an empty call (lambda)", lambda: None),
                            ("generator(board)", lambda: gen(board)),
                            ("policy_indices lc0", lambda: gen.policy_indices(board)),
                            ("policy_indices alphazero", lambda: gen.policy_indices(board, "alphazero")),
                            ("policy_mask_into lc0", lambda: gen.policy_mask_into(board, mask)),
                            ("policy_mask_into alphazero", lambda: gen.policy_mask_into(board, mask_az, "alphazero")),
                            ("policy_index (one move)", lambda: gen.policy_index(board, "e1g1")),
                            ("policy_move (one index)", lambda: gen.policy_move(board, 103)),
                            ("planes_into, history 1", lambda: later.planes_into(planes)),
                            ("planes_into, history 8", lambda: later.planes_into(planes8, 8))):
            best = min(timeit.repeat(call, number=number, repeat=5)) / number
            print(f"    {label:28s} {best * 1e6:7.3f} us per call")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--copies", type=int, default=10)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--range-mb", type=int, default=4)
    parser.add_argument("--input", help="a PGN file to read instead of the corpus copies "
                                        "(bench/dataset_annotations_bench.py --keep DIR makes two that differ only by annotations)")
    parser.add_argument("--no-policy", action="store_true", help="skip the policy call timings")
    args = parser.parse_args()
    print(f"load: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f} {os.getloadavg()[2]:.2f}")
    if not args.no_policy:
        print("policy calls from Python, middlegame position:")
        policy_calls()
    work = tempfile.mkdtemp(prefix="dataset-bench-")
    try:
        source = args.input or os.path.join(work, "bench.pgn")
        if not args.input:
            corpus = open(os.path.join(ROOT, "tests", "data", "pgn", "corpus.pgn"), "rb").read()
            with open(source, "wb") as f:
                for _ in range(args.copies):
                    f.write(corpus)
                    f.write(b"\n\n")
        print(f"input: {os.path.getsize(source) / 1e6:.1f} MB of PGN")
        results = {1: [], args.jobs: []}
        for round_number in range(args.rounds):
            for jobs in (1, args.jobs):
                out = os.path.join(work, f"out-{jobs}-{round_number}")
                seconds, cpu_time, positions, games = build(source, out, jobs, args.range_mb)
                results[jobs].append((seconds, cpu_time))
                print(f"  {jobs} job(s): {seconds:7.2f} s, CPU {cpu_time:7.2f} s, {games} games, {positions} positions, "
                      f"{positions / seconds:,.0f} positions/s", flush=True)
                shutil.rmtree(out)
        one = statistics.median(s for s, _ in results[1])
        many = statistics.median(s for s, _ in results[args.jobs])
        cpu_one = statistics.median(c for _, c in results[1])
        cpu_many = statistics.median(c for _, c in results[args.jobs])
        print(f"1 job: {positions / one:,.0f} positions/s ({games / one:,.0f} games/s); "
              f"{args.jobs} jobs: {positions / many:,.0f} positions/s; speed-up {one / many:.2f}x")
        print(f"CPU time {args.jobs} jobs / 1 job: {cpu_many / cpu_one:.3f} "
              f"(bound on idle cores: {args.jobs * cpu_one / cpu_many:.2f}x)")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
