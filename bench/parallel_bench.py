"""Speed-up of perft on several worker processes over one process, same run.

    tools/python bench/parallel_bench.py [--depth 6] [--jobs 2] [--runs 3] [FEN]

Counts the tree below the position (default: the starting position, depth 6)
with --jobs 1 and with --jobs N, alternating, --runs times each, each time the
way `./run.sh` does it, worker start-up included. Prints every run, then the
ratio of the best times and of the medians, and the ratio of the CPU time
all processes used: what splitting and merging cost, which bounds the speed-up
even on idle cores. On a busy machine the wall-time ratio says more about the
other load than about the code: measure it on a quiet one.
"""

import argparse
import os
import resource
import statistics
import sys
import time

from vemla_chess_data.perft import START, divide
from vemla_chess_data.pool import open_pool


def cpu_seconds():
    """CPU time of this process and of its finished children."""
    own, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def timed_run(fen, depth, jobs):
    """Wall time, CPU time of every process involved, and the node count."""
    cpu, start = cpu_seconds(), time.perf_counter()
    with open_pool(jobs) as pool:
        nodes = sum(count for _, count in divide(pool, fen, depth))
    return time.perf_counter() - start, cpu_seconds() - cpu, nodes


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("fen", nargs="?", default=START)
    parser.add_argument("--depth", type=int, default=6)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args(argv)

    times, cpu = {1: [], args.jobs: []}, {1: [], args.jobs: []}
    print(f"perft {args.depth} of {args.fen}; load average before: {os.getloadavg()[0]:.2f}")
    for run in range(1, args.runs + 1):
        for jobs in times:
            seconds, cpu_time, nodes = timed_run(args.fen, args.depth, jobs)
            times[jobs].append(seconds)
            cpu[jobs].append(cpu_time)
            print(f"run {run}, {jobs} job(s): {seconds:8.3f} s  {nodes / seconds / 1e6:6.2f} M nodes/s  "
                  f"CPU {cpu_time:8.3f} s  ({nodes} nodes)", flush=True)
    one, many = times[1], times[args.jobs]
    print(f"load average after: {os.getloadavg()[0]:.2f}")
    print(f"speed-up {args.jobs} jobs / 1 job: best {min(one) / min(many):.2f}x, "
          f"median {statistics.median(one) / statistics.median(many):.2f}x")
    # What the split, the workers and the merging cost in CPU time: with every
    # core free for the workers, the speed-up cannot pass jobs / this ratio.
    overhead = statistics.median(cpu[args.jobs]) / statistics.median(cpu[1])
    print(f"CPU time {args.jobs} jobs / 1 job: {overhead:.3f} (bound on idle cores: {args.jobs / overhead:.2f}x)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
