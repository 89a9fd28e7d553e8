// The Python classes: their wrappers, and their type objects, created
// once per process on first need and kept until it ends.
#pragma once

#include "board/mod.hpp"
#include "render/picture.hpp"
#include "move_generator/mod.hpp"
#include "py_call.hpp"

namespace vemla::py {

using PyBoard = Wrapper<Board>;
using PyMoveGenerator = Wrapper<MoveGenerator>;

// Return a borrowed reference to the type, creating it first if needed;
// NULL with an exception set on failure.
PyTypeObject* board_type();
PyTypeObject* move_generator_type();
PyTypeObject* book_type();

// The `board` argument of a call, checked to be a Board (not yet borrowed).
PyBoard* board_arg(PyObject* arg);

// The receiver of a MoveGenerator method, checked (TypeError) but not borrowed.
PyMoveGenerator* self_generator(PyObject* self);
// A `board` argument, checked (TypeError "argument 'board': ...") but not borrowed.
PyBoard* board_arg(PyObject* arg);

}  // namespace vemla::py
