// MoveGenerator.read_pgn and the two types it brings: the iterator of games
// and the game. Neither type is a module attribute.
#pragma once

#include "py_types.hpp"

namespace vemla::py {

// generator.read_pgn(source, keep=None) -> iterator of games.
PyObject* move_generator_read_pgn(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);

}  // namespace vemla::py
