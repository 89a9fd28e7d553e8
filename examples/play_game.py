"""Plays a short game and walks it back: the smallest complete use of the module.

    python3 play_game.py [plies]

Each ply plays the first legal move that captures, else the last legal move
in the generator's order, so the game is the same on every run. It stops
after the given number of plies, or earlier when the rules end the game
(generator.outcome, draws claimed). Afterwards
pop() takes every move back and the starting position is checked. The file is
fully annotated and passes `mypy --strict` against the installed stubs.
"""

import sys

from vemla_chess import Board, MoveGenerator


def occupied(board: Board) -> set[int]:
    """The squares that hold a piece of either colour."""
    return {k for plane in board.bitboard() for k, on in enumerate(plane) if on}


def choose(board: Board, moves: list[str]) -> str:
    squares = occupied(board)
    for move in moves:
        if square_index(move[2:4]) in squares:
            return move
    return moves[-1]


def square_index(name: str) -> int:
    """'a1' -> 0, 'h8' -> 63."""
    return 8 * (int(name[1]) - 1) + ord(name[0]) - ord("a")


def main(plies: int) -> int:
    board = Board()
    start = board.fen()
    generator = MoveGenerator()
    played: list[str] = []
    ending = generator.outcome(board, claim_draw=True)
    while ending is None and len(played) < plies:
        move = choose(board, generator(board))
        board.push(move)
        played.append(move)
        ending = generator.outcome(board, claim_draw=True)
    print(" ".join(played))
    over = f", game over: {ending.replace('_', ' ')}" if ending else ""
    print(f"after {len(played)} plies: {board.fen()} ({board.turn()} to move){over}")
    for _ in played:
        board.pop()
    if board.fen() != start:
        print(f"pop() did not restore the start: {board.fen()}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(int(sys.argv[1]) if len(sys.argv) > 1 else 12))
