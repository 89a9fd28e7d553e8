// The Python class MoveGenerator: built once, called with a Board.
#include <bit>
#include <cassert>
#include <optional>
#include <vector>

#include "encoding/policy.hpp"
#include "encoding/position_record.hpp"
#include "messages.hpp"
#include "py_annotations.hpp"
#include "move_generator/queries.hpp"
#include "move_texts.hpp"
#include "py_buffer.hpp"
#include "py_epd.hpp"
#include "py_pgn.hpp"
#include "py_san.hpp"
#include "py_types.hpp"

namespace vemla::py {

namespace {

PyTypeObject* move_generator_type_object = nullptr;

constexpr const char* CALL_NAMES[] = {"board"};
constexpr Params NEW_PARAMS{"MoveGenerator", "__new__", {}, 0, true};
constexpr Params CALL_PARAMS{"MoveGenerator", "__call__", CALL_NAMES, 1, true};
constexpr Params IS_CHECK_PARAMS{"MoveGenerator", "is_check", CALL_NAMES, 1};
constexpr const char* INDICES_NAMES[] = {"board", "scheme"};
constexpr const char* MASK_NAMES[] = {"board", "out", "scheme"};
constexpr const char* INDEX_NAMES[] = {"board", "move", "scheme"};
constexpr const char* MOVE_NAMES[] = {"board", "index", "scheme"};
constexpr Params INDICES_PARAMS{"MoveGenerator", "policy_indices", INDICES_NAMES, 1};
constexpr Params MASK_PARAMS{"MoveGenerator", "policy_mask_into", MASK_NAMES, 2};
constexpr Params INDEX_PARAMS{"MoveGenerator", "policy_index", INDEX_NAMES, 2};
constexpr Params MOVE_PARAMS{"MoveGenerator", "policy_move", MOVE_NAMES, 2};
constexpr const char* ENCODE_NAMES[] = {"board",           "moves", "out",   "result",
                                        "annotations_out", "evals", "clocks"};
constexpr Params ENCODE_PARAMS{"MoveGenerator", "encode_game", ENCODE_NAMES, 3};
constexpr const char* OUTCOME_NAMES[] = {"board", "claim_draw"};
constexpr Params OUTCOME_PARAMS{"MoveGenerator", "outcome", OUTCOME_NAMES, 1};
constexpr const char* QUERY_NAMES[] = {"board", "chess_move"};
constexpr Params IS_LEGAL_PARAMS{"MoveGenerator", "is_legal", QUERY_NAMES, 2};
constexpr Params IS_CAPTURE_PARAMS{"MoveGenerator", "is_capture", QUERY_NAMES, 2};
constexpr Params GIVES_CHECK_PARAMS{"MoveGenerator", "gives_check", QUERY_NAMES, 2};
constexpr Params PUSH_LEGAL_PARAMS{"MoveGenerator", "push_legal", QUERY_NAMES, 2};

PyObject* move_generator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call([&] {
        parse_tuple(NEW_PARAMS, args, kwargs);
        return new_wrapper(type, MoveGenerator());
    });
}

PyObject* move_generator_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call([&] {
        const Args argv = parse_tuple(CALL_PARAMS, args, kwargs);
        PyMoveGenerator* generator = self_generator(self);
        check_shared(generator);
        PyBoard* board = board_arg(argv[0]);
        // Only the move codes are taken under the borrows; the texts are
        // built once both have ended.
        MoveList moves;
        with_shared(generator, [&](const MoveGenerator& g) {
            with_exclusive(board, [&](Board& b) { g.generate(b, moves); });
        });
        // Texts not seen before are made first; the list then only takes
        // references to them.
        prepare_move_texts(moves.begin(), moves.end());
        return new_list(std::span(moves.begin(), moves.end()), prepared_move_text);
    });
}

// A reader of the board: both borrows are shared, and end before the result
// is made.
PyObject* move_generator_is_check(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(IS_CHECK_PARAMS, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        PyBoard* board = board_arg(argv[0]);
        const bool check = with_shared(generator, [&](const MoveGenerator& g) {
            return with_shared(board, [&](const Board& b) { return g.is_check(b); });
        });
        return new_bool(check);
    });
}

// Tries moves on the board, so holds it exclusively, like the generator call.
PyObject* move_generator_outcome(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(OUTCOME_PARAMS, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        PyBoard* board = board_arg(argv[0]);
        // Truth testing can run Python code: done before anything is borrowed.
        int claim_draw = 0;
        if (argv[1] && (claim_draw = PyObject_IsTrue(argv[1])) < 0) throw PyErrAlreadySet{};
        const Outcome outcome = with_shared(generator, [&](const MoveGenerator& g) {
            return with_exclusive(board, [&](Board& b) { return g.outcome(b, claim_draw != 0); });
        });
        const std::string_view text = name(outcome);
        return text.empty() ? new_none() : new_ascii(text);
    });
}

PolicyScheme scheme_arg(PyObject* arg) {
    return arg ? policy_scheme_from_str(utf8_arg(arg, "scheme")) : PolicyScheme::LC0;
}

// The legal moves of the board's side to move, in generator order, and that side.
// The side to move, and whether the board is a Chess960 one (its castling
// moves are encoded as the king taking its rook).
struct Mover {
    Colour colour;
    bool chess960;
};

Mover legal_moves(PyObject* self, PyBoard* board, MoveList& moves) {
    return with_shared(self_generator(self), [&](const MoveGenerator& g) {
        return with_exclusive(board, [&](Board& b) {
            g.generate(b, moves);
            return Mover{b.side_to_move(), b.chess960};
        });
    });
}

// The ints 0 to size - 1 of a scheme's indices, all made the first time the
// scheme's indices are returned and shared from then on, like the move texts
// (at most 4672 objects): the list is then filled straight from the moves.
PyObject* const* index_objects(PolicyScheme scheme) {
    static PyObject* objects[ALPHAZERO_POLICY_SIZE];
    static int made = 0;
    for (; made < policy_size(scheme); ++made) {
        objects[made] = PyLong_FromLong(made);
        if (!objects[made]) throw PyErrAlreadySet{};
    }
    return objects;
}

PyObject* move_generator_policy_indices(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(INDICES_PARAMS, args, nargs, kwnames);
        self_generator(self);
        PyBoard* board = board_arg(argv[0]);
        const PolicyScheme scheme = scheme_arg(argv[1]);
        PyObject* const* objects = index_objects(scheme);
        const PolicyTable& table = policy_table(scheme);
        MoveList moves;
        const Mover mover = legal_moves(self, board, moves);
        return new_list(std::span(moves.begin(), moves.end()), [&](ChessMove move) {
            const int index = table.index(move, mover.colour, mover.chess960);
            assert(index >= 0);
            return Py_NewRef(objects[index]);
        });
    });
}

// Every argument is converted (the buffer's exporter may run Python code)
// before the board is read; the buffer is written only once the moves are known.
PyObject* move_generator_policy_mask_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(MASK_PARAMS, args, nargs, kwnames);
        self_generator(self);
        PyBoard* board = board_arg(argv[0]);
        const PolicyScheme scheme = scheme_arg(argv[2]);
        const OutBuffer out(argv[1], "out", static_cast<std::size_t>(policy_size(scheme)));
        const PolicyTable& table = policy_table(scheme);
        MoveList moves;
        const Mover mover = legal_moves(self, board, moves);
        std::memset(out.data(), 0, static_cast<std::size_t>(policy_size(scheme)));
        for (const ChessMove move : moves) {
            const int index = table.index(move, mover.colour, mover.chess960);
            assert(index >= 0);
            out.data()[index] = 1;
        }
        return new_none();
    });
}

// The queries about one move: the move text is parsed first, then the
// generator is borrowed shared and the board exclusively, since a move may be
// made and taken back on it. Text that is not a move is refused as input
// (ValueError naming it), never as an internal failure.
template <typename Query>
auto move_query(const Params& params, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames, Query&& query) {
    const Args argv = parse_fastcall(params, args, nargs, kwnames);
    PyMoveGenerator* generator_object = self_generator(self);
    PyBoard* board_object = board_arg(argv[0]);
    const std::string_view text = utf8_arg(argv[1], "chess_move");
    const ChessMove move = ChessMove::from_checked_str(text);
    return with_shared(generator_object, [&](const MoveGenerator& g) {
        return with_exclusive(board_object, [&](Board& b) { return query(g, b, move, text); });
    });
}

// A query answered with a bool.
template <typename Query>
PyObject* bool_query(const Params& params, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, Query&& query) {
    return call([&] {
        return new_bool(move_query(params, self, args, nargs, kwnames,
                                   [&](const MoveGenerator& g, Board& b, ChessMove m,
                                       std::string_view) { return query(g, b, m); }));
    });
}

// Text that is not a move names no legal move: False, whatever is wrong with it.
PyObject* move_generator_is_legal(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(IS_LEGAL_PARAMS, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        PyBoard* board = board_arg(argv[0]);
        ChessMove move;
        if (ChessMove::parse(utf8_arg(argv[1], "chess_move"), move) != ChessMove::Rejection::NONE) {
            // The borrows are still taken, so that a busy board is reported the same way.
            check_shared(generator);
            check_exclusive(board);
            return new_bool(false);
        }
        return new_bool(with_shared(generator, [&](const MoveGenerator& g) {
            return with_exclusive(board, [&](Board& b) { return move_is_legal(g, b, move); });
        }));
    });
}

PyObject* move_generator_is_capture(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    return bool_query(
        IS_CAPTURE_PARAMS, self, args, nargs, kwnames,
        [](const MoveGenerator&, const Board& b, ChessMove m) { return move_is_capture(b, m); });
}

PyObject* move_generator_gives_check(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return bool_query(GIVES_CHECK_PARAMS, self, args, nargs, kwnames, move_gives_check);
}

// Plays the move only if it is legal; otherwise ValueError, board unchanged.
PyObject* move_generator_push_legal(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    return call([&] {
        move_query(PUSH_LEGAL_PARAMS, self, args, nargs, kwnames,
                   [](const MoveGenerator& g, Board& b, ChessMove m, std::string_view text) {
                       if (!move_is_legal(g, b, m))
                           throw InvalidInput(messages::not_legal(b.fen(), text));
                       b.push_move(m);
                   });
        return new_none();
    });
}

PyObject* move_generator_policy_index(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(INDEX_PARAMS, args, nargs, kwnames);
        self_generator(self);
        PyBoard* board = board_arg(argv[0]);
        const std::string_view text = utf8_arg(argv[1], "move");
        const PolicyScheme scheme = scheme_arg(argv[2]);
        const int index = with_shared(
            board, [&](const Board& b) { return policy_index_of_text(b, text, scheme); });
        return new_int(index);
    });
}

PyObject* move_generator_policy_move(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(MOVE_PARAMS, args, nargs, kwnames);
        self_generator(self);
        PyBoard* board = board_arg(argv[0]);
        const long long index = int_arg(argv[1], "index");
        const PolicyScheme scheme = scheme_arg(argv[2]);
        check_policy_index(index, scheme);
        const std::string text = with_shared(
            board, [&](const Board& b) { return policy_text(b, static_cast<int>(index), scheme); });
        return new_ascii(text);
    });
}

// The codes of a list or tuple of move texts; text that is not a move gets a
// code no legal move has, so that the game stops there.
std::vector<ChessMove> move_codes_arg(PyObject* arg, const char* name) {
    if (!PyList_Check(arg) && !PyTuple_Check(arg))
        raise_argument_error(
            name, "expected a list or tuple of str, got '" + type_name(arg) + "' object");
    const Ref items = Ref::steal(PySequence_Fast(arg, name));
    if (!items) throw PyErrAlreadySet{};
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    std::vector<ChessMove> codes(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        const std::string_view text = utf8_arg(PySequence_Fast_GET_ITEM(items.get(), i), name);
        ChessMove& code = codes[static_cast<std::size_t>(i)];
        if (ChessMove::parse(text, code) != ChessMove::Rejection::NONE) code = ChessMove{0xFFFF};
    }
    return codes;
}

// How numpy describes one record of vemla_chess_data's position dtype, with
// the 8-byte words as C unsigned long (its choice where that is 8 bytes) or
// as unsigned long long.
constexpr const char* POSITION_RECORD_FORMATS[] = {
    "T{(12)L:pieces:H:move:H:policy_lc0:H:policy_alphazero:H:ply:H:halfmove_clock:"
    "H:fullmove_number:B:white_to_move:B:castling:b:en_passant:b:result:B:repetitions:"
    "(3)B:reserved0:I:game:L:key:}",
    "T{(12)Q:pieces:H:move:H:policy_lc0:H:policy_alphazero:H:ply:H:halfmove_clock:"
    "H:fullmove_number:B:white_to_move:B:castling:b:en_passant:b:result:B:repetitions:"
    "(3)B:reserved0:I:game:Q:key:}",
    nullptr,
};
static_assert(std::endian::native == std::endian::little,
              "the record formats above name native, that is little-endian, words");

// How numpy describes one record of vemla_chess_data's annotation dtype.
constexpr const char* ANNOTATION_RECORD_FORMATS[] = {
    "T{f:eval:f:clock:f:opponent_clock:f:clock_after:h:mate:B:flags:B:reserved:}",
    nullptr,
};

// Whether the first a and b bytes of two buffers share memory.
bool overlap(const std::uint8_t* a, std::size_t a_size, const std::uint8_t* b, std::size_t b_size) {
    const auto x = reinterpret_cast<std::uintptr_t>(a), y = reinterpret_cast<std::uintptr_t>(b);
    return a_size && b_size && x < y + b_size && y < x + a_size;
}

// Converts every argument, then plays the game on the board under one
// exclusive borrow, writing the records straight into the buffer.
PyObject* move_generator_encode_game(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(ENCODE_PARAMS, args, nargs, kwnames);
        self_generator(self);
        PyBoard* board = board_arg(argv[0]);
        // A game from read_pgn gives its moves and its annotations.
        PgnGameParts game{};
        const bool from_game = pgn_game_parts(argv[1], game);
        const std::vector<ChessMove> moves =
            move_codes_arg(from_game ? game.moves : argv[1], "moves");
        const long long result = argv[3] ? int_arg(argv[3], "result") : 0;
        if (result < -1 || result > 1)
            raise(PyExc_ValueError, "argument 'result': expected 1, 0 or -1 (White's result)");
        const auto given = [&](std::size_t i) { return argv[i] && argv[i] != Py_None; };
        if (!given(4))
            for (const std::size_t i : {std::size_t{5}, std::size_t{6}})
                if (given(i))
                    raise_argument_error(ENCODE_NAMES[i],
                                         "needs annotations_out, where it is written");
        // Evals and clocks given are read (which may run Python code) before
        // anything is borrowed.
        std::optional<notation::Annotations> notes;
        const notation::Annotations* base =
            from_game && given(4) ? read_notes(*game.notes) : nullptr;
        if (given(4) && (given(5) || given(6)))
            notes =
                notes_from_args(moves.size(), base, nullptr, nullptr, argv[5], argv[6], nullptr);
        const notation::Annotations* annotations = notes ? &*notes : base;
        const OutBuffer out(argv[2], "out",
                            OutBuffer::Records{moves.size(), sizeof(PositionRecord),
                                               "position records", POSITION_RECORD_FORMATS});
        std::optional<OutBuffer> notes_out;
        if (given(4)) {
            notes_out.emplace(argv[4], "annotations_out",
                              OutBuffer::Records{moves.size(), sizeof(AnnotationRecord),
                                                 "annotation records", ANNOTATION_RECORD_FORMATS});
            if (overlap(out.data(), moves.size() * sizeof(PositionRecord), notes_out->data(),
                        moves.size() * sizeof(AnnotationRecord)))
                raise(PyExc_ValueError,
                      "argument 'annotations_out': shares memory with argument 'out'");
        }
        GameFrame frame;
        frame.white_result = static_cast<int>(result);
        const std::size_t written = with_shared(self_generator(self), [&](const MoveGenerator& g) {
            return with_exclusive(board, [&](Board& b) {
                const Colour first_mover = b.side_to_move();
                const std::size_t n =
                    encode_game(g, b, moves.data(), moves.size(), frame, out.data());
                if (notes_out) encode_annotations(annotations, first_mover, n, notes_out->data());
                return n;
            });
        });
        return new_int(static_cast<long>(written));
    });
}

PyMethodDef move_generator_methods[] = {
    {"is_check", as_cfunction(move_generator_is_check), METH_FASTCALL | METH_KEYWORDS,
     "is_check($self, board)\n--\n\n"},
    {"outcome", as_cfunction(move_generator_outcome), METH_FASTCALL | METH_KEYWORDS,
     "outcome($self, board, claim_draw=False)\n--\n\n"},
    {"policy_indices", as_cfunction(move_generator_policy_indices), METH_FASTCALL | METH_KEYWORDS,
     "policy_indices($self, board, scheme='lc0')\n--\n\n"
     "The policy index of every legal move, in the order the generator lists them."},
    {"policy_mask_into", as_cfunction(move_generator_policy_mask_into),
     METH_FASTCALL | METH_KEYWORDS,
     "policy_mask_into($self, board, out, scheme='lc0')\n--\n\n"
     "Writes 1 at the policy index of every legal move and 0 elsewhere into a writable buffer of\n"
     "the scheme's size (1858 for lc0, 4672 for alphazero) of one-byte items."},
    {"policy_index", as_cfunction(move_generator_policy_index), METH_FASTCALL | METH_KEYWORDS,
     "policy_index($self, board, move, scheme='lc0')\n--\n\n"
     "The policy index of one move text for the board's side to move."},
    {"encode_game", as_cfunction(move_generator_encode_game), METH_FASTCALL | METH_KEYWORDS,
     "encode_game($self, board, moves, out, result=0, annotations_out=None, evals=None, "
     "clocks=None)\n--\n\n"
     "Plays the moves on the board, writing a 128-byte training record of each position before\n"
     "its move into the first rows of out (at least len(moves) * 128 one-byte items, or at least\n"
     "len(moves) records of vemla_chess_data's position dtype); result is White's (1, 0, -1).\n"
     "moves may be a game from read_pgn. With annotations_out (likewise, 20-byte records of the\n"
     "annotation dtype), writes each position's eval and clocks there too: the game's, or evals\n"
     "and clocks given as pgn() takes them. Stops at the first move that is not legal; returns\n"
     "the number of records written."},
    {"policy_move", as_cfunction(move_generator_policy_move), METH_FASTCALL | METH_KEYWORDS,
     "policy_move($self, board, index, scheme='lc0')\n--\n\n"
     "The move text a policy index stands for on the board."},
    {"is_legal", as_cfunction(move_generator_is_legal), METH_FASTCALL | METH_KEYWORDS,
     "is_legal($self, board, chess_move)\n--\n\n"},
    {"is_capture", as_cfunction(move_generator_is_capture), METH_FASTCALL | METH_KEYWORDS,
     "is_capture($self, board, chess_move)\n--\n\n"},
    {"gives_check", as_cfunction(move_generator_gives_check), METH_FASTCALL | METH_KEYWORDS,
     "gives_check($self, board, chess_move)\n--\n\n"},
    {"push_legal", as_cfunction(move_generator_push_legal), METH_FASTCALL | METH_KEYWORDS,
     "push_legal($self, board, chess_move)\n--\n\n"},
    {"read_pgn", as_cfunction(move_generator_read_pgn), METH_FASTCALL | METH_KEYWORDS,
     "read_pgn($self, source, keep=None, variations=False)\n--\n\n"
     "The games of a PGN source (a path, a binary file object, or PGN text). keep(tags)\n"
     "filters games before their moves are read; with variations true each game also has\n"
     "its tree of side variations (game.tree)."},
    {"read_epd", as_cfunction(move_generator_read_epd), METH_FASTCALL | METH_KEYWORDS,
     "read_epd($self, source, errors=\"keep\")\n--\n\n"
     "The records of an EPD source (a path, a binary file object or EPD text), one per line\n"
     "that is not blank. errors=\"raise\" raises ValueError at a line with a fault instead of\n"
     "returning its record with error set."},
    {"epd", as_cfunction(move_generator_epd), METH_FASTCALL | METH_KEYWORDS,
     "epd($self, board, operations=None)\n--\n\n"
     "The board's position as an EPD line with the operations (a mapping of opcode to None,\n"
     "an operand or an iterable of operands). The moves of bm, am and pv may be SAN or move\n"
     "texts and are written in SAN; read_epd reads the line back to the same moves and operands."},
    {"san", as_cfunction(move_generator_san), METH_FASTCALL | METH_KEYWORDS,
     "san($self, board, chess_move)\n--\n\n"},
    {"parse_san", as_cfunction(move_generator_parse_san), METH_FASTCALL | METH_KEYWORDS,
     "parse_san($self, board, san)\n--\n\n"},
    {"push_san", as_cfunction(move_generator_push_san), METH_FASTCALL | METH_KEYWORDS,
     "push_san($self, board, san)\n--\n\n"},
    {"pgn", as_cfunction(move_generator_pgn), METH_FASTCALL | METH_KEYWORDS,
     "pgn($self, moves, headers=None, fen=None, result=\"*\", comments=None, nags=None, "
     "evals=None, clocks=None, commands=None)\n--\n\n"
     "The game as PGN text. moves may be a game from read_pgn, which gives its tags, FEN,\n"
     "result and annotations; any argument given replaces its part. comments and commands\n"
     "have len(moves) + 1 entries (before the first move, then after each), nags, evals and\n"
     "clocks len(moves): str or None; tuples of ints 0 to 255; pawns from White's view as a\n"
     "float, \"#3\" / \"#-3\" for a mate, or None (NaN too); seconds or None (NaN too).\n"
     "Written as { comment [%eval 0.17] [%clk 0:03:00] commands } and $n after each move;\n"
     "a null move \"0000\" as --. A game read with variations=True is written with its tree,\n"
     "each alternative in ( ... ) after the move it replaces; the annotations given here\n"
     "replace those of its mainline."},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

const ClassDescription move_generator_class{
    .name = "builtins.MoveGenerator",
    .doc = "MoveGenerator()\n--\n\n",
    .construct = move_generator_new,
    .methods = move_generator_methods,
    .call = move_generator_call,
};

}  // namespace

PyMoveGenerator* self_generator(PyObject* self) {
    return receiver<MoveGenerator>(self, move_generator_type_object, "MoveGenerator");
}

PyTypeObject* move_generator_type() {
    return class_type<MoveGenerator>(move_generator_type_object, move_generator_class);
}

}  // namespace vemla::py
