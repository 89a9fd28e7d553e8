"""The loop a training script writes over a vemla_chess dataset, without a model.

    python3 train_loop.py DATASET [--batch-size 1024] [--epochs 2] [--scheme lc0|alphazero] [--view mover|board]

Opens a folder written by the dataset tool (vemla-dataset, tools/dataset.py),
takes shuffled batches through the memory maps, expands them into input
planes and reads the policy and value targets, then prints what a model
would have been fed. Needs numpy and the vemla_chess_data package (installed
with the module by pip install .; from a checkout, run it with tools/python).
"""

import argparse
import sys
import time

import numpy as np

import vemla_chess_data


def main(argv):
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("dataset")
    parser.add_argument("--batch-size", type=int, default=1024)
    parser.add_argument("--epochs", type=int, default=2)
    parser.add_argument("--scheme", choices=("lc0", "alphazero"), default="lc0")
    parser.add_argument("--view", choices=("mover", "board"), default="mover")
    args = parser.parse_args(argv)

    data = vemla_chess_data.open_dataset(args.dataset)
    size = 1858 if args.scheme == "lc0" else 4672
    print(f"{len(data)} positions in {len(data.names)} shards, {data.index['games']} games")
    for epoch in range(args.epochs):
        start, seen, wins, moves = time.perf_counter(), 0, 0.0, np.zeros(size, np.int64)
        for batch in data.batches(args.batch_size, seed=epoch):
            x = vemla_chess_data.planes(batch, view=args.view)          # the network's input
            policy = batch[f"policy_{args.scheme}"].astype(np.int64)     # the move played, as an index
            value = batch["result"].astype(np.float32)                  # +1 / 0 / -1 for the mover
            # loss = model.train_step(x, policy, value) would go here.
            seen += len(x)
            wins += float((value > 0).sum())
            np.add.at(moves, policy, 1)
        elapsed = time.perf_counter() - start
        print(f"epoch {epoch}: {seen} positions in {elapsed:.2f} s ({seen / max(elapsed, 1e-9):,.0f}/s), "
              f"input {x.shape[1:]} planes, mover won {wins / max(seen, 1):.1%}, "
              f"most played index {int(moves.argmax())} ({int(moves.max())} times)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
