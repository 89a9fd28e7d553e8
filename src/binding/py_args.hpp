// The arguments of a Python entry point: checked against a constant Params
// description, which sets the exact TypeError, and converted to native values.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "py_borrow.hpp"
#include "py_error.hpp"

namespace vemla::py {

// A callable's parameters: all positional-or-keyword, the first `required`
// of them mandatory. Class and function name appear in every message.
struct Params {
    const char* class_name;
    const char* function_name;
    std::span<const char* const> names;
    std::size_t required;
    // The first callables of the module word their "takes N positional
    // arguments" message in the plural whatever N is, and callers match that
    // text; every later one writes "argument" for one.
    bool always_plural = false;

    std::string full_name() const { return std::string(class_name) + "." + function_name + "()"; }
};

inline constexpr std::size_t MAX_PARAMS = 9;
using Args = std::array<PyObject*, MAX_PARAMS>;  // borrowed; NULL where not given

// METH_FASTCALL | METH_KEYWORDS arguments.
Args parse_fastcall(const Params& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames);
// tp_new / tp_call arguments (a tuple and an optional dict).
Args parse_tuple(const Params& params, PyObject* args, PyObject* kwargs);

// How a str argument refuses another type. The first callables of the module
// (the Board constructor, push and bitboard_from_fen) say "... cannot be
// converted to 'PyString'", and callers match that text; every later one
// names Python's own type, "... cannot be converted to 'str'".
enum class StrWording { PYSTRING, STR };

// A str argument viewed as UTF-8; valid while the argument lives (the call).
std::string_view utf8_arg(PyObject* arg, const char* name, StrWording wording = StrWording::STR);

// An integer argument (int, or anything with __index__). Values beyond the
// range of long long come back as its limits, so range checks reject them.
long long int_arg(PyObject* arg, const char* name);

// A flag argument by its truth value; false where not given (NULL). May run
// Python code (__bool__), so it is read before any borrow begins.
bool truth_arg(PyObject* arg);

// Checks that obj is an instance of type before it is borrowed.
template <typename Record>
Wrapper<Record>* receiver(PyObject* obj, PyTypeObject* type, const char* class_name) {
    if (!PyObject_TypeCheck(obj, type))
        raise(PyExc_TypeError,
              "'" + type_name(obj) + "' object cannot be converted to '" + class_name + "'");
    return reinterpret_cast<Wrapper<Record>*>(obj);
}

}  // namespace vemla::py
