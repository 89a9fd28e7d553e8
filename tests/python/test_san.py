"""SAN out and in (generator.san, parse_san, push_san) and one game as PGN
text (generator.pgn), checked against the games of tests/data/pgn as an
independent reader read them, and on hand-made cases the games lack."""
import json
import re

import pytest
from vemla_chess import Board, MoveGenerator

from chess_util import DATA, START, snapshot

GAMES = DATA / "pgn" / "expected.jsonl"


def four_fields(fen):
    return " ".join(fen.split()[:4])


def corpus():
    with open(GAMES, encoding="utf-8") as lines:
        return [json.loads(line) for line in lines]


def start_board(game):
    fen = game["headers"].get("FEN")
    return Board(four_fields(fen)) if fen else Board()


def movetext_moves(gen, text, fen=None):
    """Plays the movetext of a PGN written by generator.pgn (no comments or
    variations): move numbers and the result are skipped."""
    board = Board(four_fields(fen)) if fen else Board()
    body = text.split("\n\n", 1)[1]
    played = []
    for token in body.split():
        if re.fullmatch(r"\d+\.(\.\.)?", token) or token in ("1-0", "0-1", "1/2-1/2", "*"):
            continue
        played.append(gen.push_san(board, token))
    return played, board


def test_every_corpus_move_is_named_and_read_back_as_the_reference_reader_did(gen):
    games = corpus()
    assert len(games) == 3000
    for number, game in enumerate(games):
        board = start_board(game)
        assert len(game["uci"]) == len(game["san"])
        for ply, (uci, san) in enumerate(zip(game["uci"], game["san"])):
            where = f"game {number} ply {ply} {board.fen()}"
            assert gen.san(board, uci) == san, where
            assert gen.parse_san(board, san) == uci, where
            assert gen.push_san(board, san) == uci, where
        assert board.fen() == game["fen4"], f"game {number}"


def test_every_corpus_game_written_as_pgn_reads_back(gen):
    for number, game in enumerate(corpus()[::10]):
        headers = dict(game["headers"])
        result = headers.get("Result", "*")
        text = gen.pgn(game["uci"], headers, headers.get("FEN"), result)
        lines = text.split("\n")
        assert all(len(line) <= 80 for line in lines), number
        played, board = movetext_moves(gen, text, headers.get("FEN"))
        assert played == game["uci"], number
        assert board.fen() == game["fen4"], number
        assert text.rstrip("\n").endswith(result)


FULL_SQUARES = "N3k2N/8/8/3N4/N4N1N/2R5/1R6/4K3 w - -"


@pytest.mark.parametrize(
    "fen, uci, san",
    [
        (FULL_SQUARES, "e1f1", "Kf1"),
        (FULL_SQUARES, "c3c2", "Rcc2"),
        (FULL_SQUARES, "b2c2", "Rbc2"),
        (FULL_SQUARES, "a4b6", "N4b6"),
        (FULL_SQUARES, "h8g6", "N8g6"),
        (FULL_SQUARES, "h4g6", "Nh4g6"),
        # The e2 knight is pinned, so b1c3 needs no file.
        ("4r1k1/8/8/8/8/8/4N3/1N2K3 w - -", "b1c3", "Nc3"),
        ("6Q1/5N2/8/R2pP2k/6pp/8/8/K7 w - d6", "e5d6", "exd6#"),
        ("3k4/8/8/8/8/8/8/R3K3 w Q -", "e1c1", "O-O-O+"),
        ("8/8/8/8/8/8/5p1K/k7 b - -", "f2f1n", "f1=N+"),
    ],
)
def test_hand_made_names(gen, fen, uci, san):
    board = Board(fen)
    before = snapshot(board)
    assert gen.san(board, uci) == san
    assert gen.parse_san(board, san) == uci
    assert snapshot(board) == before
    assert gen.push_san(board, san) == uci
    board.pop()
    assert snapshot(board) == before


def test_san_refuses_an_illegal_move_naming_it_and_the_position(gen):
    board = Board("4r1k1/8/8/8/8/8/4N3/1N2K3 w - -")
    before = snapshot(board)
    fen = board.fen()
    for uci in ("e2c3", "e1e3", "e7e8q", "b1c3q"):
        with pytest.raises(ValueError) as refused:
            gen.san(board, uci)
        assert str(refused.value) == f'Illegal move: "{uci}" is not a legal move in {fen}'
    # Move text that is not move text: ValueError too, never PanicException.
    for text, message in [
        ("e2e", "Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: e2e"),
        ("E2E4", "move text 'E2E4': the from-square's file is not a letter a to h (lower case)"),
    ]:
        with pytest.raises(ValueError, match=re.escape("Invalid chess move: " + message)):
            gen.san(board, text)
    assert snapshot(board) == before


@pytest.mark.parametrize(
    "san, message",
    [
        ("Nf9", 'Invalid SAN: malformed move text "Nf9" in {fen}'),
        ("nf3", 'Invalid SAN: malformed move text "nf3" in {fen}'),
        ("", 'Invalid SAN: malformed move text "" in {fen}'),
        ("--", 'Invalid SAN: the null move "--" cannot be played in {fen}'),
        ("Nf4", 'Illegal SAN: no legal move matches "Nf4" in {fen}'),
        ("e4", 'Illegal SAN: no legal move matches "e4" in {fen}'),
    ],
)
def test_refused_san_names_the_reason_the_text_and_the_position(gen, san, message):
    board = Board()
    board.push("e2e4")
    before = snapshot(board)
    for method in (gen.parse_san, gen.push_san):
        with pytest.raises(ValueError) as refused:
            method(board, san)
        assert str(refused.value) == message.format(fen=board.fen())
        assert snapshot(board) == before


def test_ambiguous_san(gen):
    board = Board("4k3/8/8/8/8/2N3N1/8/4K3 w - -")
    with pytest.raises(ValueError) as refused:
        gen.push_san(board, "Ne4")
    assert str(refused.value) == f'Ambiguous SAN: several legal moves match "Ne4" in {board.fen()}'
    assert gen.push_san(board, "Nce4") == "c3e4"


@pytest.mark.parametrize(
    "san, uci",
    [
        ("Nf3+", "g1f3"), ("Nf3#", "g1f3"), ("Nf3!?", "g1f3"), ("Nf3??", "g1f3"), ("Ngf3", "g1f3"),
        ("Ng1f3", "g1f3"), ("e4!", "e2e4"), ("e2e4", "e2e4"),
    ],
)
def test_spellings_real_files_carry(gen, san, uci):
    assert gen.parse_san(Board(), san) == uci


def test_san_arguments(gen):
    board = Board()
    with pytest.raises(TypeError, match=re.escape("MoveGenerator.san() missing 1 required positional argument: 'chess_move'")):
        gen.san(board)
    with pytest.raises(TypeError, match="argument 'board': 'str' object cannot be converted to 'Board'"):
        gen.parse_san(START, "e4")
    with pytest.raises(TypeError, match="argument 'san': 'int' object cannot be converted to 'str'"):
        gen.push_san(board, 4)
    assert gen.san(board=board, chess_move="b1c3") == "Nc3"
    assert gen.parse_san(board=board, san="Nc3") == "b1c3"
    # The move texts are the generator's own shared strs.
    assert gen.parse_san(board, "Nc3") is gen(board)[0]


def test_pgn_tags_numbers_and_wrapping(gen):
    moves = ["e2e4", "e7e5", "g1f3", "b8c6"] * 1
    text = gen.pgn(moves, {"White": 'A "quoted" \\ name', "Annotator": "x", "Event": "E"}, result="1-0")
    assert text == (
        '[Event "E"]\n[Site "?"]\n[Date "????.??.??"]\n[Round "?"]\n'
        '[White "A \\"quoted\\" \\\\ name"]\n[Black "?"]\n[Result "1-0"]\n[Annotator "x"]\n\n'
        "1. e4 e5 2. Nf3 Nc6 1-0\n"
    )
    # Black moves first from a position with counters: "N..." and the number.
    fen = "4k3/8/8/8/8/8/4P3/4K3 b - - 3 41"
    text = gen.pgn(["e8d7", "e2e4", "d7e6"], fen=fen)
    assert '[SetUp "1"]\n[FEN "4k3/8/8/8/8/8/4P3/4K3 b - - 3 41"]\n' in text
    assert text.endswith("\n\n41... Kd7 42. e4 Ke6 *\n")
    # No moves at all, and the default result.
    assert gen.pgn([]).endswith('[Result "*"]\n\n*\n')
    # A long game wraps at 80 columns and reads back.
    board, played = Board(), []
    for _ in range(120):
        moves_now = gen(board)
        if not moves_now:
            break
        played.append(moves_now[len(played) * 7 % len(moves_now)])
        board.push(played[-1])
    text = gen.pgn(played)
    assert max(len(line) for line in text.split("\n")) <= 80
    assert len(text.split("\n\n")[1].split("\n")) > 5
    assert movetext_moves(gen, text)[0] == played


def test_pgn_result_and_fen_come_from_the_headers_when_not_given(gen):
    fen = "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"
    text = gen.pgn(["e2e4"], {"Result": "1/2-1/2", "FEN": fen, "SetUp": "1"})
    assert text.count("[FEN ") == 1 and text.count("[SetUp ") == 1
    assert text.endswith("1. e4 1/2-1/2\n")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda g: g.pgn(["e2e4", "e2e4"]), 'Illegal move at ply 2: Illegal move: "e2e4" is not a legal move in '
         "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"),
        (lambda g: g.pgn(["e2e9"]), "Invalid chess move: move text 'e2e9': the to-square's rank is not a digit 1 to 8"),
        (lambda g: g.pgn([], result="2-0"), 'Invalid PGN result: "2-0"'),
        (lambda g: g.pgn([], result=""), 'Invalid PGN result: ""'),
        (lambda g: g.pgn([], {"Result": "1-0"}, result="0-1"), 'the Result tag says "1-0" but the result is "0-1"'),
        (lambda g: g.pgn([], {"Bad Name": "x"}), 'Invalid PGN tag name: "Bad Name"'),
        (lambda g: g.pgn([], {"Event": "two\nlines"}), "the value of Event holds a line break"),
        (lambda g: g.pgn([], fen="8/8/8/8/8/8/8/8 x - -"), "Invalid fen: Invalid side-to-move"),
        (lambda g: g.pgn([], fen="8/8/8/8/8/8/8/8 w - - 0 zero"), "Invalid fen: Invalid move number"),
        (lambda g: g.pgn([], fen=""), "Invalid fen: FEN has no piece placement field"),
    ],
)
def test_pgn_refusals(gen, call, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        call(gen)


def test_pgn_argument_types(gen):
    with pytest.raises(TypeError, match="argument 'moves': 'int' object cannot be converted to 'str'"):
        gen.pgn([1])
    with pytest.raises(TypeError, match="argument 'moves'"):
        gen.pgn(5)
    with pytest.raises(TypeError, match="argument 'headers'"):
        gen.pgn([], 5)
    with pytest.raises(TypeError, match="argument 'headers'"):
        gen.pgn([], {"Event": 5})
    with pytest.raises(TypeError, match="argument 'headers'"):
        gen.pgn([], [("Event", "x")])
    assert gen.pgn(("e2e4",), headers=None, fen=None) == gen.pgn(["e2e4"])
    assert isinstance(MoveGenerator().pgn(iter(["e2e4"])), str)
