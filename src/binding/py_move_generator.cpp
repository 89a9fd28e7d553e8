// The Python class MoveGenerator: built once, called with a Board.
#include "messages.hpp"
#include "move_generator/queries.hpp"
#include "move_texts.hpp"
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
PyObject* move_generator_is_check(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
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
PyObject* move_generator_outcome(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
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

// The queries about one move: the move text is parsed first (its errors are
// those of push), then the generator is borrowed shared and the board
// exclusively, since a move may be made and taken back on it.
template <typename Query>
auto move_query(const Params& params, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                Query&& query) {
    const Args argv = parse_fastcall(params, args, nargs, kwnames);
    PyMoveGenerator* generator_object = self_generator(self);
    PyBoard* board_object = board_arg(argv[0]);
    const std::string_view text = utf8_arg(argv[1], "chess_move");
    const ChessMove move = ChessMove::from_str(text);
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
                                   [&](const MoveGenerator& g, Board& b, ChessMove m, std::string_view) {
                                       return query(g, b, m);
                                   }));
    });
}

PyObject* move_generator_is_legal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return bool_query(IS_LEGAL_PARAMS, self, args, nargs, kwnames, move_is_legal);
}

PyObject* move_generator_is_capture(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return bool_query(IS_CAPTURE_PARAMS, self, args, nargs, kwnames,
                      [](const MoveGenerator&, const Board& b, ChessMove m) { return move_is_capture(b, m); });
}

PyObject* move_generator_gives_check(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return bool_query(GIVES_CHECK_PARAMS, self, args, nargs, kwnames, move_gives_check);
}

// Plays the move only if it is legal; otherwise ValueError, board unchanged.
PyObject* move_generator_push_legal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        move_query(PUSH_LEGAL_PARAMS, self, args, nargs, kwnames,
                   [](const MoveGenerator& g, Board& b, ChessMove m, std::string_view text) {
                       if (!move_is_legal(g, b, m)) throw InvalidInput(messages::not_legal(b.fen(), text));
                       b.push_move(m);
                   });
        return new_none();
    });
}

PyMethodDef move_generator_methods[] = {
    {"is_check", as_cfunction(move_generator_is_check), METH_FASTCALL | METH_KEYWORDS,
     "is_check($self, board)\n--\n\n"},
    {"outcome", as_cfunction(move_generator_outcome), METH_FASTCALL | METH_KEYWORDS,
     "outcome($self, board, claim_draw=False)\n--\n\n"},
    {"is_legal", as_cfunction(move_generator_is_legal), METH_FASTCALL | METH_KEYWORDS,
     "is_legal($self, board, chess_move)\n--\n\n"},
    {"is_capture", as_cfunction(move_generator_is_capture), METH_FASTCALL | METH_KEYWORDS,
     "is_capture($self, board, chess_move)\n--\n\n"},
    {"gives_check", as_cfunction(move_generator_gives_check), METH_FASTCALL | METH_KEYWORDS,
     "gives_check($self, board, chess_move)\n--\n\n"},
    {"push_legal", as_cfunction(move_generator_push_legal), METH_FASTCALL | METH_KEYWORDS,
     "push_legal($self, board, chess_move)\n--\n\n"},
    {"read_pgn", as_cfunction(move_generator_read_pgn), METH_FASTCALL | METH_KEYWORDS,
     "read_pgn($self, source, keep=None)\n--\n\n"},
    {"san", as_cfunction(move_generator_san), METH_FASTCALL | METH_KEYWORDS,
     "san($self, board, chess_move)\n--\n\n"},
    {"parse_san", as_cfunction(move_generator_parse_san), METH_FASTCALL | METH_KEYWORDS,
     "parse_san($self, board, san)\n--\n\n"},
    {"push_san", as_cfunction(move_generator_push_san), METH_FASTCALL | METH_KEYWORDS,
     "push_san($self, board, san)\n--\n\n"},
    {"pgn", as_cfunction(move_generator_pgn), METH_FASTCALL | METH_KEYWORDS,
     "pgn($self, moves, headers=None, fen=None, result=\"*\")\n--\n\n"},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

const ClassSpec move_generator_class{
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
