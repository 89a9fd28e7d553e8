// The annotations of a game read by read_pgn (comments, NAGs, evals, clocks,
// commands): kept as the reader found them, read on first use and turned into
// Python objects once; and the same annotations taken from Python arguments
// for generator.pgn().
#pragma once

#include "notation/annotations.hpp"
#include "py_types.hpp"

namespace vemla::py {

inline constexpr int NOTE_FIELDS = 6;  // comments, commands, nags, evals, mates, clocks

// Part of each game object, zero-filled with it: allocation sets nothing.
struct GameNotes {
    std::size_t plies;
    notation::RawAnnotations* raw;   // owned; null when the game has none
    notation::Annotations* read;     // owned; made from raw on first use
    PyObject* objects[NOTE_FIELDS];  // each field's tuple, made on first use
};

// Copies the annotations of the first plies moves of game into notes.
// A str from UTF-8 text, or None for empty text; bytes that are not UTF-8
// become U+FFFD.
PyObject* new_text_or_none(const std::string& text);
// A float; throws PyErrAlreadySet if Python cannot make one.
PyObject* new_float(double value);

void take_notes(GameNotes& notes, const pgn::PgnGame& game, std::size_t plies);
void release_notes(GameNotes& notes);
// The annotations read, or null when the game has none.
const notation::Annotations* read_notes(GameNotes& notes);

// The game object's annotation attributes and methods; the game type gives
// the notes of an object with notes_of.
extern PyGetSetDef note_getters[];
PyObject* game_eval_array(PyObject* self, PyObject*);
PyObject* game_mate_array(PyObject* self, PyObject*);
PyObject* game_clock_array(PyObject* self, PyObject*);
GameNotes& notes_of(PyObject* game);

// The annotations of a game of plies moves for the writer: those of base
// (may be null), replaced field by field by each argument that is given (not
// NULL and not None). Throws TypeError / ValueError naming the argument.
notation::Annotations notes_from_args(std::size_t plies, const notation::Annotations* base,
                                      PyObject* comments, PyObject* nags, PyObject* evals,
                                      PyObject* clocks, PyObject* commands);

}  // namespace vemla::py
