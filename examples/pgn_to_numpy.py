"""A PGN file as training arrays: piece planes, the move played, the game's result.

    python3 pgn_to_numpy.py FILE.pgn[.gz|.bz2|.xz|.zst] [--min-elo N] [--save FILE.npz]

Reads the games with MoveGenerator.read_pgn, keeps those whose players are
both rated at least --min-elo (decided from the tags, before any move is
read), and replays each kept game on a Board, writing the planes of every
position straight into one numpy array of shape (positions, 12, 8, 8) with
Board.bitboard_into (axis 1: white P N B R Q K, then black p n b r q k;
axis 2: rank, 0 = rank 1; axis 3: file, 0 = file a). planes[i] is the
position before moves[i]; value[i] is the game's result from White's side
(+1, 0, -1; 0 for "*"). Games with an error keep the moves before it.

Needs numpy (Debian: python3-numpy) and the vemla_chess module on the path.
"""

import argparse
import sys

import numpy as np
from vemla_chess import MoveGenerator

VALUE = {"1-0": 1, "0-1": -1, "1/2-1/2": 0, "*": 0}


def rated(min_elo):
    def keep(tags):
        try:
            return min(int(tags["WhiteElo"]), int(tags["BlackElo"])) >= min_elo
        except (KeyError, ValueError):
            return False
    return keep


def read_games(path, min_elo=0):
    """The games of path that pass the rating filter (all of them for 0)."""
    generator = MoveGenerator()
    return list(generator.read_pgn(path, keep=rated(min_elo) if min_elo else None))


def to_arrays(games):
    total = sum(len(game.moves) for game in games)
    planes = np.zeros((total, 12, 8, 8), dtype=np.bool_)
    moves = np.empty(total, dtype="<U5")
    value = np.empty(total, dtype=np.int8)
    game_index = np.empty(total, dtype=np.int32)
    i = 0
    for g, game in enumerate(games):
        board = game.board(0)
        for move in game.moves:
            board.bitboard_into(planes[i])
            moves[i] = move
            value[i] = VALUE.get(game.result, 0)
            game_index[i] = g
            board.push(move)
            i += 1
    return {"planes": planes, "moves": moves, "value": value, "game": game_index}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path")
    parser.add_argument("--min-elo", type=int, default=0)
    parser.add_argument("--save")
    args = parser.parse_args(argv)
    games = read_games(args.path, args.min_elo)
    arrays = to_arrays(games)
    errors = sum(game.error is not None for game in games)
    print(f"{len(games)} games ({errors} with an error), {len(arrays['moves'])} positions, "
          f"planes {arrays['planes'].shape}")
    if args.save:
        np.savez_compressed(args.save, **arrays)
    return 0


if __name__ == "__main__":
    sys.exit(main())
