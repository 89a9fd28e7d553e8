// MoveGenerator.read_pgn and the two types it brings: the iterator of games
// and the game. Neither type is a module attribute.
#pragma once

#include "py_types.hpp"

namespace vemla::py {

// generator.read_pgn(source, keep=None, variations=False) -> iterator of games.
PyObject* move_generator_read_pgn(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);

struct GameNotes;
struct GameTreeNotes;

// The parts of a game object from read_pgn (borrowed references), for
// writing it back.
struct PgnGameParts {
    PyObject* tags;
    PyObject* moves;
    PyObject* fen;  // str or None
    PyObject* result;
    GameNotes* notes;
    GameTreeNotes* tree;
};
// Sets parts and returns true if object is a game from read_pgn.
bool pgn_game_parts(PyObject* object, PgnGameParts& parts);

// The start position of a game from read_pgn (its FEN tag's, or the standard
// one); InvalidInput if its FEN tag does not read.
Board game_start_board(PyObject* game);

}  // namespace vemla::py
