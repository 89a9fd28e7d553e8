// MoveGenerator.san, parse_san, push_san and pgn.
#include "py_san.hpp"

#include <vector>

#include "messages.hpp"
#include "notation/pgn_writer.hpp"
#include "notation/san.hpp"
#include "move_texts.hpp"
#include "py_types.hpp"

namespace vemla::py {

namespace {

constexpr const char* SAN_NAMES[] = {"board", "chess_move"};
constexpr const char* PARSE_NAMES[] = {"board", "san"};
constexpr const char* PGN_NAMES[] = {"moves", "headers", "fen", "result"};
constexpr Params SAN_PARAMS{"MoveGenerator", "san", SAN_NAMES, 2};
constexpr Params PARSE_SAN_PARAMS{"MoveGenerator", "parse_san", PARSE_NAMES, 2};
constexpr Params PUSH_SAN_PARAMS{"MoveGenerator", "push_san", PARSE_NAMES, 2};
constexpr Params PGN_PARAMS{"MoveGenerator", "pgn", PGN_NAMES, 1};

// Move text read for these methods: every refusal is a ValueError with the
// "Invalid chess move: " prefix, malformed squares included.
ChessMove move_text(std::string_view text) {
    ChessMove move;
    const ChessMove::Rejection rejection = ChessMove::parse(text, move);
    if (rejection == ChessMove::Rejection::NONE) [[likely]]
        return move;
    std::string message = ChessMove::rejection_message(rejection, text);
    if (!message.starts_with(messages::INVALID_MOVE)) message.insert(0, messages::INVALID_MOVE);
    throw InvalidInput(message);
}

// The text of one move from the shared cache.
PyObject* new_move_text(ChessMove move) {
    prepare_move_texts(&move, &move + 1);
    return prepared_move_text(move);
}

// parse_san and push_san: resolves the text on the board, and plays the move
// if asked. A refusal names the reason, the text and the position.
PyObject* resolve(const Params& params, bool play, PyObject* self, PyObject* const* args,
                  Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(params, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        check_shared(generator);
        PyBoard* board = board_arg(argv[0]);
        check_exclusive(board);
        const std::string_view text = utf8_arg(argv[1], "san");
        ChessMove move;
        with_shared(generator, [&](const MoveGenerator& g) {
            with_exclusive(board, [&](Board& b) {
                const SanRejection rejection = parse_san(g, b, text, move);
                if (rejection != SanRejection::NONE)
                    throw InvalidInput(san_rejection_message(rejection, text, b.fen()));
                if (play) b.push_move(move);
            });
        });
        return new_move_text(move);
    });
}

}  // namespace

PyObject* move_generator_san(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(SAN_PARAMS, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        check_shared(generator);
        PyBoard* board = board_arg(argv[0]);
        check_exclusive(board);
        const ChessMove move = move_text(utf8_arg(argv[1], "chess_move"));
        // A SAN is at most 7 characters ("Qh4xe1+"): the string stays in its
        // inline buffer and nothing is allocated.
        std::string san;
        with_shared(generator, [&](const MoveGenerator& g) {
            with_exclusive(board, [&](Board& b) {
                if (!append_san(g, b, move, san))
                    throw InvalidInput(illegal_move_message(move, b.fen()));
            });
        });
        return new_ascii(san);
    });
}

PyObject* move_generator_parse_san(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return resolve(PARSE_SAN_PARAMS, false, self, args, nargs, kwnames);
}

PyObject* move_generator_push_san(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return resolve(PUSH_SAN_PARAMS, true, self, args, nargs, kwnames);
}

PyObject* move_generator_pgn(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(PGN_PARAMS, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        check_shared(generator);

        // Everything is converted before the generator is borrowed: iterating
        // and reading a mapping can run Python code. The texts stay valid
        // while these references hold their strings.
        const Ref moves =
            Ref::steal(PySequence_Fast(argv[0], "argument 'moves': expected an iterable of str"));
        if (!moves) throw PyErrAlreadySet{};
        const Py_ssize_t count = PySequence_Fast_GET_SIZE(moves.get());
        PyObject** items = PySequence_Fast_ITEMS(moves.get());
        std::vector<ChessMove> codes;
        codes.reserve(static_cast<std::size_t>(count));
        for (Py_ssize_t i = 0; i < count; ++i)
            codes.push_back(move_text(utf8_arg(items[i], "moves")));

        Ref header_items;
        std::vector<PgnTag> tags;
        if (argv[1] && argv[1] != Py_None) {
            if (!PyObject_HasAttrString(argv[1], "items"))
                raise_argument_error("headers", "'" + type_name(argv[1]) +
                                                    "' object is not a mapping of str to str");
            header_items = Ref::steal(PyMapping_Items(argv[1]));
            if (!header_items) throw PyErrAlreadySet{};
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(header_items.get()); ++i) {
                PyObject* pair = PyList_GET_ITEM(header_items.get(), i);
                if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2)
                    raise_argument_error("headers", "items() must give (name, value) pairs");
                tags.emplace_back(utf8_arg(PyTuple_GET_ITEM(pair, 0), "headers"),
                                  utf8_arg(PyTuple_GET_ITEM(pair, 1), "headers"));
            }
        }
        std::optional<std::string_view> fen, result;
        if (argv[2] && argv[2] != Py_None) fen = utf8_arg(argv[2], "fen");
        if (argv[3]) result = utf8_arg(argv[3], "result");

        const std::string text = with_shared(generator, [&](const MoveGenerator& g) {
            return write_pgn(g, tags, codes, fen, result);
        });
        PyObject* str =
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
        if (!str) throw PyErrAlreadySet{};
        return str;
    });
}

}  // namespace vemla::py
