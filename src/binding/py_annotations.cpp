// The annotation attributes of a game from read_pgn, and the annotation
// arguments of generator.pgn().
#include "py_annotations.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "py_args.hpp"
#include "py_error.hpp"
#include "py_ref.hpp"
#include "py_result.hpp"

namespace vemla::py {

// A str from UTF-8 text, or None for empty text; bytes that are not UTF-8
// become U+FFFD.
PyObject* new_text_or_none(const std::string& text) {
    if (text.empty()) return new_none();
    PyObject* str =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!str) throw PyErrAlreadySet{};
    return str;
}

PyObject* new_float(double value) {
    PyObject* number = PyFloat_FromDouble(value);
    if (!number) throw PyErrAlreadySet{};
    return number;
}

namespace {

enum Field { COMMENTS, COMMANDS, NAGS, EVALS, MATES, CLOCKS };


// A tuple of count items made by item(i) (a new reference each).
template <typename Item>
PyObject* new_tuple(std::size_t count, Item&& item) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
    if (!tuple) throw PyErrAlreadySet{};
    for (std::size_t i = 0; i < count; ++i)
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item(i));
    return tuple.release();
}

// The NAGs of each move, one tuple of ints per move.
PyObject* new_nags(const notation::Annotations& notes) {
    std::size_t next = 0;
    return new_tuple(notes.plies(), [&](std::size_t i) {
        const std::size_t ply = i + 1;
        const std::size_t first = next;
        while (next < notes.nags.size() && notes.nags[next].ply == ply) ++next;
        return new_tuple(next - first, [&](std::size_t k) {
            return new_int(static_cast<long>(notes.nags[first + k].value));
        });
    });
}

PyObject* new_field(const notation::Annotations& notes, Field field) {
    switch (field) {
        case COMMENTS:
            return new_tuple(notes.plies() + 1,
                             [&](std::size_t i) { return new_text_or_none(notes.comments[i]); });
        case COMMANDS:
            return new_tuple(notes.plies() + 1,
                             [&](std::size_t i) { return new_text_or_none(notes.commands[i]); });
        case NAGS: return new_nags(notes);
        case EVALS:
            return new_tuple(notes.plies(), [&](std::size_t i) {
                const notation::Eval& eval = notes.evals[i];
                return eval.kind == notation::Eval::PAWNS ? new_float(eval.pawns) : new_none();
            });
        case MATES:
            return new_tuple(notes.plies(), [&](std::size_t i) {
                const notation::Eval& eval = notes.evals[i];
                return eval.kind == notation::Eval::MATE ? new_int(eval.mate) : new_none();
            });
        default:
            return new_tuple(notes.plies(), [&](std::size_t i) {
                const double clock = notes.clocks[i];
                return std::isnan(clock) ? new_none() : new_float(clock);
            });
    }
}

PyObject* note_get(PyObject* self, void* closure) {
    return call([&] {
        GameNotes& notes = notes_of(self);
        const auto field = static_cast<Field>(reinterpret_cast<std::intptr_t>(closure));
        PyObject*& cached = notes.objects[field];
        if (!cached) {
            const notation::Annotations* read = read_notes(notes);
            const notation::Annotations none(read ? 0 : notes.plies);
            cached = new_field(read ? *read : none, field);
        }
        return Py_NewRef(cached);
    });
}

void* field_closure(Field field) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(field));
}

PyObject* array_type = nullptr;  // array.array, kept until the process ends

// array.array(code) holding the bytes of values.
template <typename T>
PyObject* new_array(const char* code, const std::vector<T>& values) {
    if (!array_type) {
        const Ref module = Ref::steal(PyImport_ImportModule("array"));
        if (!module) throw PyErrAlreadySet{};
        array_type = PyObject_GetAttrString(module.get(), "array");
        if (!array_type) throw PyErrAlreadySet{};
    }
    PyObject* array =
        PyObject_CallFunction(array_type, "sy#", code, reinterpret_cast<const char*>(values.data()),
                              static_cast<Py_ssize_t>(values.size() * sizeof(T)));
    if (!array) throw PyErrAlreadySet{};
    return array;
}

// The array of one value per move, each from the move's entries.
template <typename T, typename Value>
PyObject* per_move_array(PyObject* self, const char* code, T absent, Value&& value) {
    return call([&] {
        GameNotes& notes = notes_of(self);
        const notation::Annotations* read = read_notes(notes);
        std::vector<T> values(notes.plies, absent);
        if (read)
            for (std::size_t i = 0; i < notes.plies; ++i) values[i] = value(*read, i);
        return new_array(code, values);
    });
}

// The items of a sequence argument (text is not one).
Ref sequence_arg(PyObject* arg, const char* name) {
    if (PyUnicode_Check(arg) || PyBytes_Check(arg))
        raise_argument_error(name, "expected a sequence, got '" + type_name(arg) + "' object");
    Ref items = Ref::steal(PySequence_Fast(arg, ""));
    if (!items) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PyErrAlreadySet{};
        PyErr_Clear();
        raise_argument_error(name, "expected a sequence, got '" + type_name(arg) + "' object");
    }
    return items;
}

// The items of a per-move or per-gap argument, checked for their number.
Ref items_arg(PyObject* arg, const char* name, std::size_t count, const char* what) {
    Ref items = sequence_arg(arg, name);
    const auto given = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(items.get()));
    if (given != count)
        raise(PyExc_ValueError, "argument '" + std::string(name) + "': expected " +
                                    std::to_string(count) + " entries (" + what + "), got " +
                                    std::to_string(given));
    return items;
}

PyObject* item(const Ref& items, std::size_t i) {
    return PySequence_Fast_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i));
}

// A float argument (int or float, anything with __float__ but text), or
// raises TypeError naming the argument.
double number_arg(PyObject* value, const char* name) {
    if (PyUnicode_Check(value) || PyBytes_Check(value) ||
        !(PyFloat_Check(value) || PyLong_Check(value) || PyNumber_Check(value)))
        raise_argument_error(name,
                             "expected a number or None, got '" + type_name(value) + "' object");
    const double number = PyFloat_AsDouble(value);
    if (number == -1.0 && PyErr_Occurred()) throw PyErrAlreadySet{};
    return number;
}

void texts_arg(PyObject* arg, const char* name, std::vector<std::string>& out) {
    const Ref items =
        items_arg(arg, name, out.size(), "one before the first move and one per move");
    for (std::size_t i = 0; i < out.size(); ++i) {
        PyObject* value = item(items, i);
        out[i] = value == Py_None ? std::string() : std::string(utf8_arg(value, name));
    }
}

}  // namespace

void take_notes(GameNotes& notes, const pgn::PgnGame& game, std::size_t plies) {
    notes.plies = plies;
    if (game.comments.empty() && game.nags.empty()) return;
    auto raw = std::make_unique<notation::RawAnnotations>();
    if (raw->take(game, plies)) notes.raw = raw.release();
}

void release_notes(GameNotes& notes) {
    delete notes.raw;
    delete notes.read;
    notes.raw = nullptr;
    notes.read = nullptr;
    for (PyObject*& object : notes.objects) Py_CLEAR(object);
}

const notation::Annotations* read_notes(GameNotes& notes) {
    if (!notes.raw) return nullptr;
    if (!notes.read) notes.read = new notation::Annotations(notes.raw->read());
    return notes.read;
}

PyGetSetDef note_getters[] = {
    {"comments", note_get, nullptr,
     "The comments: a tuple of len(moves) + 1 entries, the comment before the first move and\n"
     "then the one after each move, as str with the [%...] commands taken out and the blanks\n"
     "around trimmed, or None. Several comments in one place are joined by a space.",
     field_closure(COMMENTS)},
    {"commands", note_get, nullptr,
     "The [%...] commands of the comments other than the [%eval] and [%clk] read into evals,\n"
     "mates and clocks, as written (\"[%emt 0:00:05] [%cal Ge2e4]\"), placed as comments are;\n"
     "None where there are none.",
     field_closure(COMMANDS)},
    {"nags", note_get, nullptr,
     "The NAGs of each move: a tuple of len(moves) tuples of ints, empty where there are none.\n"
     "$n gives n; the glyphs !, ?, !!, ??, !?, ?! give 1 to 6.",
     field_closure(NAGS)},
    {"evals", note_get, nullptr,
     "The [%eval] of each move in pawns from White's view: a tuple of len(moves) floats, None\n"
     "where the move has none or its eval is a mate (see mates). eval_array() gives them as\n"
     "float32.",
     field_closure(EVALS)},
    {"mates", note_get, nullptr,
     "The mate evals ([%eval #-3]) of each move: a tuple of len(moves) ints, the moves to mate\n"
     "from White's view (3: White mates in 3, -3: Black does), None where the move has none.",
     field_closure(MATES)},
    {"clocks", note_get, nullptr,
     "The [%clk] of each move, the mover's clock after it in seconds: a tuple of len(moves)\n"
     "floats, None where the move has none. clock_array() gives them as float64.",
     field_closure(CLOCKS)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* game_eval_array(PyObject* self, PyObject*) {
    return per_move_array<float>(self, "f", std::numeric_limits<float>::quiet_NaN(),
                                 [](const notation::Annotations& notes, std::size_t i) {
                                     const notation::Eval& eval = notes.evals[i];
                                     return eval.kind == notation::Eval::PAWNS
                                                ? static_cast<float>(eval.pawns)
                                                : std::numeric_limits<float>::quiet_NaN();
                                 });
}

PyObject* game_mate_array(PyObject* self, PyObject*) {
    return per_move_array<std::int32_t>(
        self, "i", 0, [](const notation::Annotations& notes, std::size_t i) {
            const notation::Eval& eval = notes.evals[i];
            return eval.kind == notation::Eval::MATE ? eval.mate : 0;
        });
}

PyObject* game_clock_array(PyObject* self, PyObject*) {
    return per_move_array<double>(
        self, "d", std::numeric_limits<double>::quiet_NaN(),
        [](const notation::Annotations& notes, std::size_t i) { return notes.clocks[i]; });
}

notation::Annotations notes_from_args(std::size_t plies, const notation::Annotations* base,
                                      PyObject* comments, PyObject* nags, PyObject* evals,
                                      PyObject* clocks, PyObject* commands) {
    notation::Annotations notes = base ? *base : notation::Annotations(plies);
    const auto given = [](PyObject* arg) { return arg && arg != Py_None; };
    if (given(comments)) texts_arg(comments, "comments", notes.comments);
    if (given(commands)) texts_arg(commands, "commands", notes.commands);
    if (given(nags)) {
        const Ref items = items_arg(nags, "nags", plies, "one per move");
        notes.nags.clear();
        for (std::size_t i = 0; i < plies; ++i) {
            PyObject* value = item(items, i);
            if (value == Py_None) continue;
            const auto add = [&](PyObject* nag) {
                const long long number = int_arg(nag, "nags");
                if (number < 0 || number > 255)
                    raise(PyExc_ValueError, "argument 'nags': " + std::to_string(number) +
                                                " is not a NAG (0 to 255)");
                notes.nags.push_back(pgn::PgnNag{static_cast<std::uint32_t>(i + 1),
                                                 static_cast<std::uint32_t>(number)});
            };
            if (PyIndex_Check(value)) {
                add(value);
                continue;
            }
            const Ref move_nags = sequence_arg(value, "nags");
            for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(move_nags.get()); ++k)
                add(PySequence_Fast_GET_ITEM(move_nags.get(), k));
        }
    }
    if (given(evals)) {
        const Ref items = items_arg(evals, "evals", plies, "one per move");
        for (std::size_t i = 0; i < plies; ++i) {
            PyObject* value = item(items, i);
            notation::Eval& eval = notes.evals[i];
            eval = notation::Eval{};
            if (value == Py_None) continue;
            if (PyUnicode_Check(value)) {
                const std::string_view text = utf8_arg(value, "evals");
                if (!notation::read_eval(text, eval))
                    raise(PyExc_ValueError, "argument 'evals': \"" + std::string(text) +
                                                "\" is not an eval (\"0.17\", \"#-3\")");
                continue;
            }
            const double pawns = number_arg(value, "evals");
            if (std::isnan(pawns)) continue;
            if (!std::isfinite(pawns))
                raise(PyExc_ValueError, "argument 'evals': the eval of move " +
                                            std::to_string(i + 1) + " is not finite");
            eval.kind = notation::Eval::PAWNS;
            eval.pawns = pawns;
        }
    }
    if (given(clocks)) {
        const Ref items = items_arg(clocks, "clocks", plies, "one per move");
        for (std::size_t i = 0; i < plies; ++i) {
            PyObject* value = item(items, i);
            double& clock = notes.clocks[i];
            clock = std::numeric_limits<double>::quiet_NaN();
            if (value == Py_None) continue;
            const double seconds = number_arg(value, "clocks");
            if (std::isnan(seconds)) continue;
            if (!(seconds >= 0 && seconds < 1e12))
                raise(PyExc_ValueError, "argument 'clocks': the clock of move " +
                                            std::to_string(i + 1) +
                                            " is not a number of seconds from 0 to 10^12");
            clock = seconds;
        }
    }
    return notes;
}

}  // namespace vemla::py
