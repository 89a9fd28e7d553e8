// The texts of moves as Python str objects, each made once per process, the
// first time a move with that text is returned, and shared afterwards: a str
// cannot be changed, and equal texts compare and hash alike whether or not
// they are the same object.
#pragma once

#include "py_ref.hpp"

#include "chess_move/mod.hpp"

namespace vemla::py {

// Makes the text of every move in [begin, end) that has none yet. Throws
// PyErrAlreadySet (MemoryError set) when one cannot be made; those made so far
// stay. A special code of 8 to 15 panics, as ChessMove::write_text does.
void prepare_move_texts(const ChessMove* begin, const ChessMove* end);

// A new reference to the text of a move prepared before.
PyObject* prepared_move_text(ChessMove move);

}  // namespace vemla::py
