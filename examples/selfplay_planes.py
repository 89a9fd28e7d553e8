"""Random self-play recorded as piece planes, the usual input of a chess network.

    python3 selfplay_planes.py [--seed N] [--games N] [--max-plies N] [--save DIR]

Plays games of uniformly random legal moves (the same games for the same
seed). A game ends by the rules, as generator.outcome(board, claim_draw=True)
tells: checkmate, stalemate, insufficient material, the seventy-five-move
rule, fivefold repetition, or a claimed draw by the fifty-move rule or
threefold repetition. The rules end every game; --max-plies (default 10000)
is only a safety net, after which a game stops unfinished. The planes
of every position in which a move was chosen are written by
Board.bitboard_into straight into one numpy array of shape
(positions, 12, 8, 8), without going through Python lists:

    axis 1  piece plane: white P N B R Q K, then black p n b r q k
    axis 2  rank, 0 = rank 1 (White's back rank)
    axis 3  file, 0 = file a

so planes[i] is the position before moves[i], seen from White's side whoever
is to move. Each game's result is recorded ("1-0", "0-1", "1/2-1/2", or "*"
when it stopped at the cap) with the reason, and each position gets its
game's result from White's point of view (+1, 0, -1; 0 when unfinished), the
usual value target. --save writes the games as a dataset folder in the format
of the dataset tool (tools/dataset.py), which vemla_chess_data reads.

Needs numpy (Debian: python3-numpy) and the vemla_chess module on the path;
--save also the vemla_chess_data package (installed with the module by pip
install .; from a checkout, run it with tools/python).
"""

import argparse
import collections
import random
import sys
from dataclasses import dataclass, field

import numpy as np
import numpy.typing as npt

from vemla_chess import Board, MoveGenerator

PIECE_LETTERS = "PNBRQKpnbrqk"  # plane order of Board.bitboard_bytes()
SCORES = {"1-0": 1, "0-1": -1, "1/2-1/2": 0, "*": 0}
Planes = npt.NDArray[np.bool_]


@dataclass
class Game:
    moves: list[str] = field(default_factory=list)
    fens: list[str] = field(default_factory=list)  # before each move
    result: str = "*"
    reason: str = "unfinished"
    final: str = ""


class PlaneBuffer:
    """A (positions, 12, 8, 8) array that doubles its room when full."""

    def __init__(self) -> None:
        self.array: Planes = np.empty((256, 12, 8, 8), dtype=np.bool_)
        self.size = 0

    def append(self, board: Board) -> None:
        if self.size == len(self.array):
            self.array = np.concatenate([self.array, np.empty_like(self.array)])
        board.bitboard_into(self.array[self.size])
        self.size += 1

    def view(self) -> Planes:
        return self.array[: self.size]


def play(generator: MoveGenerator, rng: random.Random, max_plies: int, planes: PlaneBuffer) -> Game:
    board, game = Board(), Game()
    while True:
        ending: str | None = generator.outcome(board, claim_draw=True)
        if ending is not None:
            game.reason = ending
            if ending == "checkmate":  # the side to move has lost
                game.result = "0-1" if board.turn() == "white" else "1-0"
            else:
                game.result = "1/2-1/2"
            break
        if len(game.moves) == max_plies:
            break
        planes.append(board)
        game.fens.append(board.fen())
        move = rng.choice(generator(board))
        board.push(move)
        game.moves.append(move)
    game.final = board.fen()
    return game


def piece_counts(planes: Planes) -> str:
    counts = planes.sum(axis=(1, 2))
    return " ".join(f"{letter}{n}" for letter, n in zip(PIECE_LETTERS, counts))


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--games", type=int, default=1)
    parser.add_argument("--max-plies", type=int, default=10000)
    parser.add_argument("--save", metavar="DIR", help="write the games as a dataset folder")
    args = parser.parse_args(argv)
    if args.max_plies < 0 or args.games < 1:
        parser.error("--max-plies must not be negative and --games must be positive")

    rng, generator, buffer = random.Random(args.seed), MoveGenerator(), PlaneBuffer()
    games = [play(generator, rng, args.max_plies, buffer) for _ in range(args.games)]
    planes = buffer.view()

    for i, game in enumerate(games, 1):
        print(f"game {i}: {len(game.moves)} plies, {game.result} ({game.reason.replace('_', ' ')})")
    reasons = collections.Counter(game.reason for game in games)
    print("endings: " + ", ".join(f"{reason} {n}" for reason, n in sorted(reasons.items())))
    print(f"planes: {planes.shape} {planes.dtype}")
    print(f"first moves: {' '.join(games[0].moves[:12])}")
    if len(planes):
        print(f"pieces at the start:         {piece_counts(planes[0])}")
        print(f"pieces before the last move: {piece_counts(planes[-1])}")
        busiest = np.unravel_index(planes.any(axis=1).sum(axis=0).argmax(), (8, 8))
        print(f"square most often occupied: {'abcdefgh'[busiest[1]]}{busiest[0] + 1}")
    print(f"final position: {games[-1].final}")

    if args.save:
        import vemla_chess_data
        index = vemla_chess_data.write_games(args.save, [
            dict(moves=g.moves, result=g.result, termination=g.reason) for g in games])
        print(f"saved: {index['positions']} positions of {index['games']} games in {args.save}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
