// MoveGenerator methods for game records: SAN out and in, and one game as
// PGN text.
#pragma once

#include "py_ref.hpp"

namespace vemla::py {

PyObject* move_generator_san(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* move_generator_parse_san(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);
PyObject* move_generator_push_san(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);
PyObject* move_generator_pgn(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

}  // namespace vemla::py
