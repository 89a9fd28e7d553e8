"""The draw rules of generator.outcome, and a replay of the PGN corpus's games
against the counters, outcomes and keys an independent implementation gives."""
import json

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import DATA, snapshot

EXPECTED = DATA / "pgn" / "expected.jsonl"
KNIGHT_DANCE = ["g1f3", "g8f6", "f3g1", "f6g8"]


@pytest.fixture(scope="module")
def g():
    return MoveGenerator()


def test_repetition_rules(g):
    board = Board()
    answers = []
    for _ in range(4):
        for text in KNIGHT_DANCE:
            board.push(text)
        answers.append((g.outcome(board), g.outcome(board, True), board.repetitions()))
    assert answers == [
        (None, None, 2),
        (None, "threefold_repetition", 3),
        (None, "threefold_repetition", 4),
        ("fivefold_repetition", "fivefold_repetition", 5),
    ]
    board.pop()
    assert g.outcome(board, claim_draw=True) == "threefold_repetition"  # the position after f3g1, a fourth time
    assert g.outcome(board, claim_draw=0) is None


@pytest.mark.parametrize(
    "fen, plain, claimed",
    [
        ("4k3/8/8/8/8/8/8/R3K3 w - - 99 70", None, None),
        ("4k3/8/8/8/8/8/8/R3K3 w - - 100 70", None, "fifty_moves"),
        ("4k3/8/8/8/8/8/8/R3K3 w - - 149 90", None, "fifty_moves"),
        ("4k3/8/8/8/8/8/8/R3K3 w - - 150 90", "seventyfive_moves", "seventyfive_moves"),
        # Checkmate and stalemate come first, even with the clock run out.
        ("R3k3/8/4K3/8/8/8/8/8 b - - 150 90", "checkmate", "checkmate"),
        ("k7/8/1Q6/8/8/8/8/4K3 b - - 200 90", "stalemate", "stalemate"),
        ("4k3/8/8/8/8/8/8/4K3 w - - 200 90", "insufficient_material", "insufficient_material"),
    ],
)
def test_move_rules(g, fen, plain, claimed):
    board = Board.from_full_fen(fen)
    before = snapshot(board)
    assert g.outcome(board) == plain
    assert g.outcome(board, claim_draw=True) == claimed
    assert snapshot(board) == before


def test_the_clock_reaches_the_rules_through_play(g):
    board = Board.from_full_fen("4k3/8/8/8/8/8/8/R3K3 w - - 98 70")
    board.push("a1a2")
    assert (board.halfmove_clock(), g.outcome(board, True)) == (99, None)
    board.push("e8d8")
    assert (board.halfmove_clock(), g.outcome(board, True)) == (100, "fifty_moves")
    board.pop()
    board.push("e8d7")
    board.push("a2d2")  # check: not a capture, the clock runs on
    assert (board.halfmove_clock(), g.outcome(board)) == (101, None)


def replay(game):
    """The board at the end of a game's moves, and the Polyglot keys of the
    positions along the way (the last one included)."""
    fen = game["headers"].get("FEN")
    board = Board.from_full_fen(fen) if fen else Board()
    keys = [board.zobrist()]
    for text in game["uci"]:
        board.push(text)
        keys.append(board.zobrist())
    return board, keys


def claimable_by_next_move(g, board, keys, claim):
    """Whether some legal move would bring the claim about: the rules let a
    player claim the draw with the move that makes it. Positions count as
    the same here when their keys are equal, that is when an en-passant file
    no pawn can use is not told apart."""
    for text in g(board):
        board.push(text)
        clock, key = board.halfmove_clock(), board.zobrist()
        board.pop()
        if claim == "fifty_moves" and clock >= 100:
            return True
        if claim == "threefold_repetition" and keys.count(key) + 1 >= 3:
            return True
    return False


@pytest.mark.skipif(not EXPECTED.exists(), reason="the PGN corpus is not in tests/data")
def test_corpus_games_end_as_the_independent_reader_says(g):
    games = [json.loads(line) for line in EXPECTED.read_text().splitlines()]
    assert len(games) == 3000
    claims_on_the_next_move = 0
    outcomes = set()
    for game in games:
        board, keys = replay(game)
        site = game["headers"]["Site"]
        assert board.fen() == game["fen4"], site
        assert (board.halfmove_clock(), board.fullmove_number()) == (game["halfmove"], game["fullmove"]), site
        assert f"{board.zobrist():016x}" == game["zobrist"], site
        outcome = g.outcome(board, claim_draw=True)
        outcomes.add(outcome)
        if outcome != game["outcome"]:
            # The only difference allowed: a claim that the other reader grants
            # when the next move would bring it about, where outcome looks at the
            # position as it stands.
            assert outcome is None and claimable_by_next_move(g, board, keys, game["outcome"]), site
            claims_on_the_next_move += 1
        if outcome not in ("fifty_moves", "threefold_repetition"):
            assert g.outcome(board) == outcome, site
    assert claims_on_the_next_move == 5
    # The corpus's three threefold repetitions are all claims on the next move.
    assert outcomes == {"checkmate", "stalemate", "insufficient_material", "seventyfive_moves",
                        "fivefold_repetition", "fifty_moves", None}
