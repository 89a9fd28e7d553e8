"""What labelling a dataset costs: the client's overhead per position, and the rate on 1 and 2 jobs.

    tools/python bench/label_bench.py [--nodes 1000] [--games 256] [--games-per-shard 4] [--jobs 2] [--rounds 2]

Makes a self-play dataset in a temporary folder (--games games of at most 60
plies, --games-per-shard per shard), then

1. labels its first shards in this process (the label task itself: FENs of
   the records, boards, the checks, Engine.analyse, policy indices, the
   label file written and synced) and runs a bare loop over the same
   positions that writes the same commands to a second Stockfish and reads
   its lines until bestmove, doing nothing with them. Both use Threads=1,
   Hash=16 and a new game per shard, so the engines do the same work; the
   difference is the overhead of the client and the label task, as wall time
   and as this process's CPU time per position; the engine's own CPU time
   per position is the search's cost, whatever else the machine runs, and
   the client's CPU time as a share of it is the overhead a busy machine
   cannot blur;
2. labels the whole dataset with `vemla-dataset label` on 1 job and on
   --jobs jobs (worker and engine start-up included), alternating, --rounds
   times, and prints positions per second and the ratio of the best times.
   The default dataset has 64 shards: with a few (16), the jobs finish
   their last shards one at a time and the run's end is one job's work.

Prints the load average before and after: on a machine that others use, the
wall times say as much about them as about this code.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

from vemla_chess_data import labels, records, shards, tool
from vemla_chess_data.pool import InlinePool, open_pool

STOCKFISH = "/usr/games/stockfish"


def settings_for(nodes, new_game="shard"):
    return dict(nodes=nodes, multipv=1, hash=16, options={}, new_game=new_game, timeout=60.0)


def process_cpu(pid):
    """CPU seconds process `pid` has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def bare(fens_by_shard, nodes):
    engine = subprocess.Popen([STOCKFISH], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
    send, read = engine.stdin, engine.stdout

    def ask(text, until):
        send.write(text + "\n")
        send.flush()
        while not read.readline().startswith(until):
            pass

    ask("uci", "uciok")
    ask("setoption name Threads value 1\nsetoption name Hash value 16\nsetoption name UCI_ShowWDL value true\n"
        "isready", "readyok")
    start, cpu, engine_cpu = time.perf_counter(), time.process_time(), process_cpu(engine.pid)
    count = 0
    for fens in fens_by_shard:
        ask("ucinewgame\nisready", "readyok")
        for fen in fens:
            ask(f"position fen {fen}\ngo nodes {nodes}", "bestmove")
        count += len(fens)
    wall, cpu, engine_cpu = time.perf_counter() - start, time.process_time() - cpu, process_cpu(engine.pid) - engine_cpu
    ask("quit", "")
    engine.wait()
    return wall / count, cpu / count, engine_cpu / count


def labelled_inline(dataset, names, nodes, new_game="shard"):
    """The label task for each shard, here, with the engine already started."""
    index = shards.read_index(dataset)
    settings = settings_for(nodes, new_game)
    folder = labels.label_root(dataset, "bench")
    pid = labels.worker_engine([STOCKFISH], 16, {}, 60.0).pid
    start, cpu, engine_cpu = time.perf_counter(), time.process_time(), process_cpu(pid)
    count = 0
    for name in names:
        shutil.rmtree(os.path.join(folder, name), ignore_errors=True)
        os.makedirs(folder, exist_ok=True)
        entry = labels.label_shard(dataset, "bench", name, index["shards"][name]["files"][records.POSITIONS_FILE],
                                   [STOCKFISH], settings)
        count += entry["positions"]
    wall, cpu, engine_cpu = time.perf_counter() - start, time.process_time() - cpu, process_cpu(pid) - engine_cpu
    labels.close_worker_engine()
    return wall / count, cpu / count, engine_cpu / count


def labelling_run(dataset, nodes, jobs):
    shutil.rmtree(os.path.join(dataset, labels.LABELS_DIR), ignore_errors=True)
    start = time.perf_counter()
    index, written, _ = labels.label_dataset(dataset, "engine", [STOCKFISH], settings_for(nodes),
                                             lambda: open_pool(jobs), lambda text: None,
                                             progress_stream=open(os.devnull, "w"))
    return time.perf_counter() - start, index["positions"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=1000)
    parser.add_argument("--games", type=int, default=256)
    parser.add_argument("--games-per-shard", type=int, default=4)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--overhead-shards", type=int, default=4)
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="label-bench-")
    try:
        dataset = os.path.join(folder, "data")
        settings = dict(seed=11, games_per_shard=args.games_per_shard, max_plies=60)
        tool.build(dataset, "selfplay", settings, [{"path": "selfplay"}],
                   tool.selfplay_plan_of(dataset, settings, args.games, print),
                   lambda: __import__("contextlib").nullcontext(InlinePool()), lambda text: None,
                   progress_stream=open(os.devnull, "w"))
        index = shards.read_index(dataset)
        names = sorted(index["shards"])[:args.overhead_shards]
        fens = [labels.board_fens(np.load(os.path.join(dataset, name, records.POSITIONS_FILE))) for name in names]
        print(f"load average before: {os.getloadavg()[0]:.2f}; {len(os.sched_getaffinity(0))} cores")
        print(f"{sum(map(len, fens))} positions in {len(names)} shards, nodes {args.nodes}, Threads=1, Hash=16; "
              "per position, wall / this process's CPU (best of each):")
        raw, ours, fresh = (float("inf"),) * 3, (float("inf"),) * 3, (float("inf"),) * 3
        for _ in range(args.rounds):
            raw = tuple(map(min, raw, bare(fens, args.nodes)))
            ours = tuple(map(min, ours, labelled_inline(dataset, names, args.nodes)))
            fresh = tuple(map(min, fresh, labelled_inline(dataset, names, args.nodes, "position")))
        for name, (wall, cpu, engine_cpu) in (("bare loop", raw), ("label task", ours),
                                              ("  --new-game position", fresh)):
            print(f"{name:22} {wall * 1e6:8.1f} us / {cpu * 1e6:7.1f} us (engine {engine_cpu * 1e6:7.1f} us of CPU, "
                  f"this process {cpu / engine_cpu:.1%} of it)")
        print(f"overhead               {(ours[0] - raw[0]) * 1e6:8.1f} us ({(ours[0] - raw[0]) / raw[0]:+.1%} of the "
              f"search's wall time) / {(ours[1] - raw[1]) * 1e6:7.1f} us of CPU "
              f"({(ours[1] - raw[1]) / ours[2]:+.1%} of the engine's CPU time)")
        times = {1: [], args.jobs: []}
        for run in range(args.rounds):
            for jobs in times:
                seconds, positions = labelling_run(dataset, args.nodes, jobs)
                times[jobs].append(seconds)
                print(f"run {run + 1}, {jobs} job(s): {seconds:7.2f} s, {positions / seconds:7.0f} positions/s "
                      f"({positions} positions, {len(index['shards'])} shards)", flush=True)
        print(f"load average after: {os.getloadavg()[0]:.2f}")
        print(f"speed-up {args.jobs} jobs / 1 job: {min(times[1]) / min(times[args.jobs]):.2f}x (best times)")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
