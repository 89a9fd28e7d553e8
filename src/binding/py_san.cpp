// MoveGenerator.san, parse_san, push_san and pgn.
#include "py_san.hpp"

#include <algorithm>
#include <vector>

#include "messages.hpp"
#include "notation/pgn_writer.hpp"
#include "notation/san.hpp"
#include "move_texts.hpp"
#include "py_annotations.hpp"
#include "py_pgn.hpp"
#include "py_tree.hpp"
#include "py_types.hpp"

namespace vemla::py {

namespace {

// The annotations of a tree by node, with those of its mainline (by ply)
// put in place of the mainline nodes' own.
notation::Annotations tree_notes(const pgn::GameTree& tree, const notation::Annotations* base,
                                 const notation::Annotations& mainline) {
    notation::Annotations notes = base ? *base : notation::Annotations(tree.size() - 1);
    std::vector<std::uint32_t> nodes{0};
    for (std::uint32_t i = tree.nodes[0].first_child; i != pgn::NO_NODE;
         i = tree.nodes[i].first_child)
        nodes.push_back(i);
    std::vector<bool> on_mainline(tree.size(), false);
    for (std::size_t ply = 0; ply < nodes.size() && ply <= mainline.plies(); ++ply) {
        const std::uint32_t node = nodes[ply];
        on_mainline[node] = true;
        notes.comments[node] = mainline.comments[ply];
        notes.commands[node] = mainline.commands[ply];
        if (ply > 0) {
            notes.evals[node - 1] = mainline.evals[ply - 1];
            notes.clocks[node - 1] = mainline.clocks[ply - 1];
        }
    }
    std::erase_if(notes.nags, [&](const pgn::PgnNag& nag) { return on_mainline[nag.ply]; });
    for (const pgn::PgnNag& nag : mainline.nags)
        if (nag.ply < nodes.size()) notes.nags.push_back(pgn::PgnNag{nodes[nag.ply], nag.value});
    std::stable_sort(notes.nags.begin(), notes.nags.end(),
                     [](const pgn::PgnNag& a, const pgn::PgnNag& b) { return a.ply < b.ply; });
    return notes;
}

constexpr const char* SAN_NAMES[] = {"board", "chess_move"};
constexpr const char* PARSE_NAMES[] = {"board", "san"};
constexpr const char* PGN_NAMES[] = {"moves", "headers", "fen",    "result",  "comments",
                                     "nags",  "evals",   "clocks", "commands"};
constexpr Params SAN_PARAMS{"MoveGenerator", "san", SAN_NAMES, 2};
constexpr Params PARSE_SAN_PARAMS{"MoveGenerator", "parse_san", PARSE_NAMES, 2};
constexpr Params PUSH_SAN_PARAMS{"MoveGenerator", "push_san", PARSE_NAMES, 2};
constexpr Params PGN_PARAMS{"MoveGenerator", "pgn", PGN_NAMES, 1};

// Move text read for these methods: every refusal is a ValueError with the
// "Invalid chess move: " prefix, malformed squares included.
ChessMove move_text(std::string_view text) { return ChessMove::from_checked_str(text); }

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
        // A game from read_pgn gives its moves, tags, FEN, result and
        // annotations; each argument given replaces its part.
        const auto given = [&](std::size_t i) { return argv[i] && argv[i] != Py_None; };
        PgnGameParts game{};
        const bool from_game = pgn_game_parts(argv[0], game);
        const Ref moves = Ref::steal(PySequence_Fast(
            from_game ? game.moves : argv[0], "argument 'moves': expected an iterable of str"));
        if (!moves) throw PyErrAlreadySet{};
        const Py_ssize_t count = PySequence_Fast_GET_SIZE(moves.get());
        PyObject** items = PySequence_Fast_ITEMS(moves.get());
        std::vector<ChessMove> codes;
        codes.reserve(static_cast<std::size_t>(count));
        for (Py_ssize_t i = 0; i < count; ++i) {
            const std::string_view text = utf8_arg(items[i], "moves");
            ChessMove code = text == "0000" ? NULL_MOVE_CODE : move_text(text);
            // a1a1 is never legal; as NULL_MOVE_CODE it would be written as a null
            // move. With code 1 it is refused as the illegal move it is.
            if (code == NULL_MOVE_CODE && text != "0000") code = ChessMove::pack(0, 0, 1);
            codes.push_back(code);
        }

        Ref header_items;
        std::vector<PgnTag> tags;
        PyObject* headers = given(1) ? argv[1] : from_game ? game.tags : nullptr;
        if (headers) {
            if (!PyObject_HasAttrString(headers, "items"))
                raise_argument_error("headers", "'" + type_name(headers) +
                                                    "' object is not a mapping of str to str");
            header_items = Ref::steal(PyMapping_Items(headers));
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
        if (given(2))
            fen = utf8_arg(argv[2], "fen");
        else if (from_game && game.fen != Py_None)
            fen = utf8_arg(game.fen, "fen");
        if (argv[3])
            result = utf8_arg(argv[3], "result");
        else if (from_game && (headers != game.tags || !PyDict_GetItemString(game.tags, "Result")))
            // The game's Result tag, when it is written, says the result.
            result = utf8_arg(game.result, "result");

        std::optional<notation::Annotations> notes;
        const notation::Annotations* base = from_game ? read_notes(*game.notes) : nullptr;
        const bool annotated = given(4) || given(5) || given(6) || given(7) || given(8);
        if (base || annotated)
            notes =
                notes_from_args(codes.size(), base, argv[4], argv[5], argv[6], argv[7], argv[8]);
        // A game read with its variations is written with them, the mainline
        // annotations given here in place of its own.
        const pgn::GameTree* tree = from_game ? game.tree->tree : nullptr;
        std::optional<notation::Annotations> node_notes;
        const notation::Annotations* tree_annotations = nullptr;
        if (tree) {
            tree_annotations = read_tree_notes(*game.tree);
            if (annotated) {
                node_notes = tree_notes(*tree, tree_annotations, *notes);
                tree_annotations = &*node_notes;
            }
        }

        const std::string text = with_shared(generator, [&](const MoveGenerator& g) {
            if (tree) return write_pgn(g, tags, *tree, fen, result, tree_annotations);
            return write_pgn(g, tags, codes, fen, result, notes ? &*notes : nullptr);
        });
        PyObject* str =
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
        if (!str) throw PyErrAlreadySet{};
        return str;
    });
}

}  // namespace vemla::py
