// The tree of variations of a game read by read_pgn(variations=True), and its
// nodes. The game object owns the tree, a flat array; a node object is only
// a handle (the game and an index), so that no Python object refers to
// another node and nothing recurses, however deep the tree: neither
// deallocation, nor repr, nor the garbage collector.
#pragma once

#include "notation/annotations.hpp"
#include "notation/pgn_tree.hpp"
#include "py_types.hpp"

namespace vemla::py {

// Part of each game object, zero-filled with it.
struct GameTreeNotes {
    pgn::GameTree* tree;            // owned; null when read without variations
    notation::Annotations* read;    // owned; the nodes' annotations, read on first use
    PyObject* errors;               // the tuple of variation_errors, made on first use
    PyObject* generator;            // the MoveGenerator that writes the SANs, on first use
};

// Moves tree into notes (which must be empty); generator is the
// MoveGenerator object that read it.
void take_tree(GameTreeNotes& notes, pgn::GameTree& tree, PyObject* generator);
void release_tree(GameTreeNotes& notes);
// The annotations of the tree's nodes, by node index, or null when it has none.
const notation::Annotations* read_tree_notes(GameTreeNotes& notes);

// The game object's tree and variation_errors attributes; the game type
// gives the tree of an object with tree_of.
extern PyGetSetDef tree_getters[];
GameTreeNotes& tree_of(PyObject* game);

}  // namespace vemla::py
