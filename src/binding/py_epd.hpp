// MoveGenerator.read_epd and the two types it brings: the iterator of records
// and the record. Neither type is a module attribute.
#pragma once

#include "py_ref.hpp"

namespace vemla::py {

// generator.read_epd(source, errors="keep") -> iterator of records.
PyObject* move_generator_read_epd(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);

// generator.epd(board, operations=None) -> str: one EPD line.
PyObject* move_generator_epd(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

}  // namespace vemla::py
