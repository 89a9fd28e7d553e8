"""Random self-play turned into piece planes, the usual input of a chess network.

    python3 selfplay_planes.py [--seed N] [--max-plies N] [--save FILE.npz]

Plays one game of uniformly random legal moves (the same game for the same
seed, at most --max-plies plies) and stacks the planes of every position in
which a move was chosen into a numpy array of shape (plies, 12, 8, 8):

    axis 1  piece plane: white P N B R Q K, then black p n b r q k
    axis 2  rank, 0 = rank 1 (White's back rank)
    axis 3  file, 0 = file a

so planes[i] is the position before moves[i], seen from White's side whoever
is to move. It prints the shape and a short summary of the game; --save writes
the planes together with the moves and the FEN of each position (np.savez).

Needs numpy (Debian: python3-numpy) and the vemla_chess module on the path.
"""

import argparse
import random
import sys

import numpy as np
import numpy.typing as npt

from vemla_chess import Board, MoveGenerator

PIECE_LETTERS = "PNBRQKpnbrqk"  # plane order of Board.bitboard()
Planes = npt.NDArray[np.bool_]


def play(seed: int, max_plies: int) -> tuple[Planes, list[str], list[str], Board]:
    """Plays the game; returns the planes, the moves, the FEN before each
    move, and the final board."""
    rng = random.Random(seed)
    board = Board()
    generator = MoveGenerator()
    planes: list[list[list[bool]]] = []
    moves: list[str] = []
    fens: list[str] = []
    while len(moves) < max_plies:
        legal = generator(board)
        if not legal:
            break
        planes.append(board.bitboard())
        fens.append(board.fen())
        move = rng.choice(legal)
        board.push(move)
        moves.append(move)
    # Each plane is 64 squares in a1, b1, ..., h8 order: rank-major, so a plain
    # reshape gives [rank][file].
    array = np.array(planes, dtype=bool).reshape(len(planes), 12, 8, 8)
    return array, moves, fens, board


def piece_counts(planes: Planes) -> str:
    counts = planes.sum(axis=(1, 2))
    return " ".join(f"{letter}{n}" for letter, n in zip(PIECE_LETTERS, counts))


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--max-plies", type=int, default=200)
    parser.add_argument("--save", metavar="FILE.npz", help="write planes, moves and fens")
    args = parser.parse_args(argv)
    if args.max_plies < 0:
        parser.error("--max-plies must not be negative")

    planes, moves, fens, final = play(args.seed, args.max_plies)

    print(f"planes: {planes.shape} {planes.dtype}")
    if len(moves) == args.max_plies:
        print(f"game: {len(moves)} plies, stopped at the cap")
    else:
        # Without a check test in the API, mate and stalemate look alike here.
        print(f"game: {len(moves)} plies, {final.turn()} has no legal move (mate or stalemate)")
    print(f"first moves: {' '.join(moves[:12])}")
    if len(planes):
        print(f"pieces at the start:         {piece_counts(planes[0])}")
        print(f"pieces before the last move: {piece_counts(planes[-1])}")
        busiest = np.unravel_index(planes.any(axis=1).sum(axis=0).argmax(), (8, 8))
        print(f"square most often occupied: {'abcdefgh'[busiest[1]]}{busiest[0] + 1}")
    print(f"final position: {final.fen()}")

    if args.save:
        np.savez(args.save, planes=planes, moves=np.array(moves, dtype=str),
                 fens=np.array(fens, dtype=str))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
