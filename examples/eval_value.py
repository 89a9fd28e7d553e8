"""Learns a value target from the [%eval] comments of annotated games, with numpy alone.

    python3 eval_value.py GAMES.pgn... [--dataset DIR] [--epochs 8] [--batch-size 4096]

Builds a dataset of the games that carry evals (vemla-dataset pgn DIR GAMES
--require-evals; DIR is a temporary folder unless given, and a DIR that
already holds a dataset is read as it is), then reads every position that
has an eval through the batch reader's annotation columns. Two models of the
side to move's eval follow:

1. Piece values: least squares of the eval in pawns on the material balance
   (the mover's pawns, knights, bishops, rooks and queens minus the other
   side's). On engine-analysed games this comes out near 1, 3, 3, 5, 9.
2. A value head: a linear model of the 768 piece-square planes trained by
   gradient descent on tanh(eval / 4), the [-1, 1] target a network's value
   output learns, with one game in ten held out.

A mate counts as an eval of MATE_PAWNS for the side that mates. Needs numpy
and the vemla_chess_data package (installed with the module by pip install .;
from a checkout, run it with tools/python).
"""

import argparse
import os
import sys
import tempfile

import numpy as np

import vemla_chess_data
from vemla_chess_data import tool

MATE_PAWNS = 10.0
KINDS = "pawn knight bishop rook queen".split()


def open_or_build(folder, games):
    if not os.path.exists(os.path.join(folder, "index.json")):
        status = tool.main(["pgn", folder, *games, "--require-evals", "--jobs", "1"])
        if status != 0:
            raise SystemExit(status)
    return vemla_chess_data.open_dataset(folder)


def pawns_for_mover(batch):
    """The eval of each position in pawns for its side to move, mates as
    +-MATE_PAWNS and evals beyond that clipped to it; and which positions have one."""
    known = batch["has_eval"] | batch["has_mate"]
    pawns = np.where(batch["has_mate"], np.sign(batch["mate"]) * MATE_PAWNS,
                     np.clip(np.nan_to_num(batch["eval"]), -MATE_PAWNS, MATE_PAWNS))
    return pawns.astype(np.float32), known


def material_balance(pieces, white_to_move):
    """(N, 5): the mover's pawns ... queens minus the other side's, from the bitboards."""
    counts = np.unpackbits(np.ascontiguousarray(pieces, "<u8").view(np.uint8).reshape(len(pieces), 12, 8),
                           axis=2).sum(axis=2).astype(np.float32)
    white, black = counts[:, 0:5], counts[:, 6:11]
    sign = np.where(white_to_move == 1, 1.0, -1.0)[:, None]
    return (white - black) * sign


def labelled(data, batch_size, seed=None):
    """Batches of the positions with an eval: (planes, balance, pawns, held_out)."""
    columns = ["pieces", "white_to_move", "castling", "en_passant", "halfmove_clock", "repetitions", "game",
               "eval", "mate", "has_eval", "has_mate"]
    for batch in data.batches(batch_size, seed=seed, columns=columns):
        pawns, known = pawns_for_mover(batch)
        if not known.any():
            continue
        batch = {name: value[known] for name, value in batch.items()}
        planes = vemla_chess_data.planes(batch, view="mover")[:, :12].reshape(int(known.sum()), 768)
        held_out = (batch["shard"].astype(np.int64) * 7919 + batch["game"]) % 10 == 0
        yield planes, material_balance(batch["pieces"], batch["white_to_move"]), pawns[known], held_out


def fit_piece_values(data, batch_size):
    balance = np.concatenate([b for _, b, _, _ in labelled(data, batch_size)])
    pawns = np.concatenate([p for _, _, p, _ in labelled(data, batch_size)])
    features = np.hstack([balance, np.ones((len(balance), 1), np.float32)])
    solution, *_ = np.linalg.lstsq(features, pawns, rcond=None)
    residual = pawns - features @ solution
    explained = 1 - residual.var() / max(pawns.var(), 1e-12)
    print(f"{len(pawns)} positions with an eval; material explains {explained:.1%} of its variance")
    print("piece values in pawns: " + ", ".join(f"{kind} {value:.2f}" for kind, value in zip(KINDS, solution)))
    return len(pawns)


def train_value_head(data, batch_size, epochs, rate=0.5):
    weights, bias = np.zeros(768, np.float32), np.float32(0)
    for epoch in range(epochs):
        train_loss = test_loss = baseline = 0.0
        train_n = test_n = 0
        for planes, _, pawns, held_out in labelled(data, batch_size, seed=epoch):
            target = np.tanh(pawns / 4)
            predicted = np.tanh(planes @ weights + bias)
            error = predicted - target
            test_loss += float((error[held_out] ** 2).sum())
            baseline += float((target[held_out] ** 2).sum())
            test_n += int(held_out.sum())
            train = ~held_out
            if not train.any():
                continue
            train_loss += float((error[train] ** 2).sum())
            train_n += int(train.sum())
            # The gradient of the mean squared error through the tanh.
            grad = (error * (1 - predicted ** 2))[train]
            weights -= rate * (planes[train].T @ grad) / len(grad)
            bias -= np.float32(rate * grad.mean())
        test = f"held out {test_loss / test_n:.4f} (predicting 0: {baseline / test_n:.4f})" if test_n else \
            "no game held out"
        print(f"epoch {epoch}: value MSE train {train_loss / max(train_n, 1):.4f}, {test}")
    return weights, bias


def main(argv):
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("games", nargs="+", help="PGN files with [%%eval] comments")
    parser.add_argument("--dataset", help="the dataset folder (default: a temporary one)")
    parser.add_argument("--epochs", type=int, default=8)
    parser.add_argument("--batch-size", type=int, default=4096)
    args = parser.parse_args(argv)

    with tempfile.TemporaryDirectory(prefix="eval-value-") as scratch:
        data = open_or_build(args.dataset or os.path.join(scratch, "data"), args.games)
        if not fit_piece_values(data, args.batch_size):
            print("no position has an eval: nothing to learn")
            return 1
        weights, _ = train_value_head(data, args.batch_size, args.epochs)
        # What the value head makes of a piece, averaged over its squares.
        per_piece = weights.reshape(12, 64).mean(axis=1)
        print("value head, mean weight of the mover's pieces: " +
              ", ".join(f"{kind} {value:+.3f}" for kind, value in zip(KINDS, per_piece[:5])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
