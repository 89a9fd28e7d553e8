// PgnNode: a handle on one node of a game's tree, and the game's tree
// attributes.
#include "py_tree.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "move_texts.hpp"
#include "py_annotations.hpp"
#include "py_args.hpp"
#include "py_class.hpp"
#include "py_error.hpp"
#include "py_pgn.hpp"
#include "py_ref.hpp"
#include "py_result.hpp"

namespace vemla::py {

namespace {

struct PyPgnNode {
    PyObject_HEAD PyObject* game;  // the game object that owns the tree
    std::uint32_t index;
};

PyTypeObject* node_type_object = nullptr;

PyPgnNode* as_node(PyObject* self) { return reinterpret_cast<PyPgnNode*>(self); }

const pgn::GameTree& tree_of_node(PyObject* self) {
    return *tree_of(as_node(self)->game).tree;
}

PyTypeObject* node_type();

// The tree of the node's game with its SANs written.
const pgn::GameTree& tree_with_sans(PyObject* self) {
    PyObject* game = as_node(self)->game;
    GameTreeNotes& notes = tree_of(game);
    // A tree of the root alone has no SAN to write (and its game's FEN tag
    // may not even read).
    if (!notes.tree->sans_written && notes.tree->size() > 1) {
        Board board = game_start_board(game);
        auto* generator = reinterpret_cast<PyMoveGenerator*>(notes.generator);
        with_shared(generator,
                    [&](const MoveGenerator& g) { pgn::write_sans(g, *notes.tree, board); });
    }
    return *notes.tree;
}

// A handle on node index of game's tree.
PyObject* new_node(PyObject* game, std::uint32_t index) {
    PyTypeObject* type = node_type();
    if (!type) throw PyErrAlreadySet{};
    PyObject* object = PyType_GenericAlloc(type, 0);
    if (!object) throw PyErrAlreadySet{};
    as_node(object)->game = Py_NewRef(game);
    as_node(object)->index = index;
    return object;
}

void node_dealloc(PyObject* self) {
    Py_CLEAR(as_node(self)->game);
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

// The annotations of the node's game, or null when its tree has none.
const notation::Annotations* notes_of_node(PyObject* self) {
    return read_tree_notes(tree_of(as_node(self)->game));
}

enum Field { MOVE, SAN, COMMENT, STARTING, COMMANDS, NAGS, EVAL, MATE, CLOCK, CHILDREN, PARENT, PLY };

PyObject* node_get(PyObject* self, void* closure) {
    return call([&]() -> PyObject* {
        const auto field = static_cast<Field>(reinterpret_cast<std::intptr_t>(closure));
        const pgn::GameTree& tree = tree_of_node(self);
        const std::uint32_t index = as_node(self)->index;
        const pgn::TreeNode& node = tree.nodes[index];
        switch (field) {
            case MOVE: {
                if (index == 0) return new_none();
                if (node.move == NULL_MOVE_CODE) return new_ascii("0000");
                prepare_move_texts(&node.move, &node.move + 1);
                return prepared_move_text(node.move);
            }
            case SAN: return index == 0 ? new_none() : new_ascii(tree_with_sans(self).nodes[index].san_text());
            case STARTING: {
                const std::string* text = tree.starting_comment(index);
                return text ? new_text_or_none(*text) : new_none();
            }
            case CHILDREN: {
                Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(tree.child_count(index))));
                if (!tuple) throw PyErrAlreadySet{};
                Py_ssize_t i = 0;
                for (std::uint32_t c = node.first_child; c != pgn::NO_NODE;
                     c = tree.nodes[c].next_sibling)
                    PyTuple_SET_ITEM(tuple.get(), i++, new_node(as_node(self)->game, c));
                return tuple.release();
            }
            case PARENT:
                return node.parent == pgn::NO_NODE ? new_none()
                                                   : new_node(as_node(self)->game, node.parent);
            case PLY: return new_int(static_cast<long>(node.ply));
            default: break;
        }
        const notation::Annotations* notes = notes_of_node(self);
        switch (field) {
            case COMMENT: return notes ? new_text_or_none(notes->comments[index]) : new_none();
            case COMMANDS: return notes ? new_text_or_none(notes->commands[index]) : new_none();
            case NAGS: {
                std::vector<long> values;
                if (notes) {
                    const auto [first, last] = std::equal_range(
                        notes->nags.begin(), notes->nags.end(), pgn::PgnNag{index, 0},
                        [](const pgn::PgnNag& a, const pgn::PgnNag& b) { return a.ply < b.ply; });
                    for (auto it = first; it != last; ++it) values.push_back(it->value);
                }
                Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
                if (!tuple) throw PyErrAlreadySet{};
                for (std::size_t i = 0; i < values.size(); ++i)
                    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), new_int(values[i]));
                return tuple.release();
            }
            case EVAL:
            case MATE: {
                if (!notes || index == 0) return new_none();
                const notation::Eval& eval = notes->evals[index - 1];
                if (field == EVAL)
                    return eval.kind == notation::Eval::PAWNS ? new_float(eval.pawns) : new_none();
                return eval.kind == notation::Eval::MATE ? new_int(eval.mate) : new_none();
            }
            default: {
                if (!notes || index == 0) return new_none();
                const double clock = notes->clocks[index - 1];
                return std::isnan(clock) ? new_none() : new_float(clock);
            }
        }
    });
}

void* closure(Field field) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(field)); }

PyGetSetDef node_getters[] = {
    {"move", node_get, nullptr,
     "The move that leads to this node, as move text (\"0000\" for a null move); None at the\n"
     "root.",
     closure(MOVE)},
    {"san", node_get, nullptr, "The move in SAN (\"--\" for a null move); None at the root.",
     closure(SAN)},
    {"comment", node_get, nullptr,
     "The comment after the move (at the root: before the first move), with its [%...]\n"
     "commands taken out and trimmed, or None.",
     closure(COMMENT)},
    {"starting_comment", node_get, nullptr,
     "The comment before the move where it begins a variation, as written and trimmed, or None.",
     closure(STARTING)},
    {"commands", node_get, nullptr,
     "The [%...] commands of the comment other than the [%eval] and [%clk] read into eval,\n"
     "mate and clock, as written, or None.",
     closure(COMMANDS)},
    {"nags", node_get, nullptr, "The NAGs of the move, a tuple of ints (empty where none).",
     closure(NAGS)},
    {"eval", node_get, nullptr,
     "The [%eval] after the move in pawns from White's view, or None (none, or a mate).",
     closure(EVAL)},
    {"mate", node_get, nullptr,
     "The mate eval after the move ([%eval #-3]) in moves from White's view, or None.",
     closure(MATE)},
    {"clock", node_get, nullptr, "The [%clk] after the move in seconds, or None.",
     closure(CLOCK)},
    {"children", node_get, nullptr,
     "The moves played from this node: a tuple of nodes, the one its line goes on with first.",
     closure(CHILDREN)},
    {"parent", node_get, nullptr, "The node before this one, or None at the root.",
     closure(PARENT)},
    {"ply", node_get, nullptr, "The number of moves from the game's start to this node.",
     closure(PLY)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The Board at the node: the game's start, then the moves down to it.
PyObject* node_board(PyObject* self, PyObject*) {
    return call([&] {
        PyObject* game = as_node(self)->game;
        const pgn::GameTree& tree = tree_of_node(self);
        Board board = game_start_board(game);
        std::vector<std::uint32_t> path;
        for (std::uint32_t i = as_node(self)->index; i != 0; i = tree.nodes[i].parent)
            path.push_back(i);
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            const ChessMove move = tree.nodes[*it].move;
            if (move == NULL_MOVE_CODE)
                board.push_null();
            else
                board.push_move(move);
        }
        PyTypeObject* type = board_type();
        if (!type) throw PyErrAlreadySet{};
        return new_wrapper(type, std::move(board));
    });
}

PyObject* node_repr(PyObject* self) {
    return call([&] {
        const pgn::GameTree& tree = tree_with_sans(self);
        const std::uint32_t index = as_node(self)->index;
        const pgn::TreeNode& node = tree.nodes[index];
        const std::string children = std::to_string(tree.child_count(index));
        std::string text = index == 0 ? std::string("<PgnNode root")
                                      : "<PgnNode ply " + std::to_string(node.ply) + " " +
                                            std::string(node.san_text());
        text += ": " + children + (children == "1" ? " child>" : " children>");
        return new_ascii(text);
    });
}

// Two handles on the same node of the same game are equal.
PyObject* node_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !node_type_object || !Py_IS_TYPE(other, node_type_object))
        Py_RETURN_NOTIMPLEMENTED;
    const bool same =
        as_node(self)->game == as_node(other)->game && as_node(self)->index == as_node(other)->index;
    return PyBool_FromLong((op == Py_EQ) == same);
}

Py_hash_t node_hash(PyObject* self) {
    const Py_hash_t hash = PyObject_Hash(as_node(self)->game);
    if (hash == -1) return -1;
    const Py_hash_t mixed = hash * 1000003 ^ static_cast<Py_hash_t>(as_node(self)->index);
    return mixed == -1 ? -2 : mixed;
}

PyMethodDef node_methods[] = {
    {"board", node_board, METH_NOARGS,
     "board($self)\n--\n\n"
     "A new Board at this node: the game's start position and the moves down to it."},
    {nullptr, nullptr, 0, nullptr},
};

const PyType_Slot node_more_slots[] = {
    {Py_tp_repr, reinterpret_cast<void*>(node_repr)},
    {Py_tp_getset, node_getters},
    {Py_tp_richcompare, reinterpret_cast<void*>(node_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(node_hash)},
};

// No constructor: nodes come from a game's tree.
const ClassDescription node_class{
    .name = "builtins.PgnNode",
    .doc = "A node of the tree of a game read by MoveGenerator.read_pgn(source, variations=True).",
    .methods = node_methods,
    .more_slots = node_more_slots,
};

PyTypeObject* node_type() {
    return class_type(node_type_object, node_class, sizeof(PyPgnNode), node_dealloc);
}

PyObject* game_tree(PyObject* self, void*) {
    return call([&] {
        return tree_of(self).tree ? new_node(self, 0) : new_none();
    });
}

PyObject* game_variation_errors(PyObject* self, void*) {
    return call([&] {
        GameTreeNotes& notes = tree_of(self);
        if (!notes.errors) {
            const std::size_t count = notes.tree ? notes.tree->errors.size() : 0;
            Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
            if (!tuple) throw PyErrAlreadySet{};
            for (std::size_t i = 0; i < count; ++i) {
                const std::string& text = notes.tree->errors[i];
                PyObject* str = PyUnicode_DecodeUTF8(
                    text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
                if (!str) throw PyErrAlreadySet{};
                PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), str);
            }
            notes.errors = tuple.release();
        }
        return Py_NewRef(notes.errors);
    });
}

}  // namespace

void take_tree(GameTreeNotes& notes, pgn::GameTree& tree, PyObject* generator) {
    notes.tree = new pgn::GameTree(std::move(tree));
    notes.generator = Py_NewRef(generator);
}

void release_tree(GameTreeNotes& notes) {
    delete notes.tree;
    delete notes.read;
    notes.tree = nullptr;
    notes.read = nullptr;
    Py_CLEAR(notes.errors);
    Py_CLEAR(notes.generator);
}

const notation::Annotations* read_tree_notes(GameTreeNotes& notes) {
    if (!notes.tree || (notes.tree->notes.comments.empty() && notes.tree->notes.nags.empty()))
        return nullptr;
    if (!notes.read) notes.read = new notation::Annotations(notes.tree->notes.read());
    return notes.read;
}

PyGetSetDef tree_getters[] = {
    {"tree", game_tree, nullptr,
     "The root node of the game's tree of moves and variations (see PgnNode), when read with\n"
     "variations=True; None otherwise.",
     nullptr},
    {"variation_errors", game_variation_errors, nullptr,
     "What cut variations short, a tuple of str (\"ply 5 in a variation: Illegal SAN: ...\");\n"
     "empty when none was, or when read without variations=True.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace vemla::py
