"""Plays a random game and prints the board after every move, as a terminal
or a log would show it.

    python3 watch_game.py [--seed N] [--max-plies N] [--black]

Moves are drawn from the generator's legal moves with Python's random module,
so a seed gives the same game every time. The game stops when the rules end
it (generator.outcome: checkmate, stalemate, insufficient material, the
seventy-five-move rule or fivefold repetition), or after --max-plies plies.
--black prints the board from Black's side. The file is fully annotated for
`mypy --strict`.
"""

import argparse
import random
import sys
from typing import Literal

from vemla_chess import Board, MoveGenerator


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--max-plies", type=int, default=10)
    parser.add_argument("--black", action="store_true", help="show the board from Black's side")
    options = parser.parse_args()
    orientation: Literal["white", "black"] = "black" if options.black else "white"

    rng = random.Random(options.seed)
    board = Board()
    generator = MoveGenerator()
    print(board.diagram(orientation))
    for ply in range(1, options.max_plies + 1):
        ending = generator.outcome(board)
        if ending is not None:
            print(f"\ngame over: {ending.replace('_', ' ')}")
            break
        move = rng.choice(generator(board))
        board.push(move)
        print(f"\nply {ply}: {move}")
        print(board.diagram(orientation))
    return 0


if __name__ == "__main__":
    sys.exit(main())
