// Argument parsing against a Params description, and argument conversion.
#include "py_args.hpp"

#include <climits>
#include <vector>

#include "messages.hpp"
#include "py_ref.hpp"

namespace vemla::py {

namespace {

std::string quoted_list(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) out += names.size() > 2 ? ", " : " ";
        if (i && i + 1 == names.size()) out += "and ";
        out += "'" + names[i] + "'";
    }
    return out;
}

[[noreturn]] void too_many_positional(const Params& params, std::size_t given) {
    std::string message = params.full_name() + " takes ";
    if (params.names.size() == params.required)
        message += std::to_string(params.names.size());
    else
        message += "from " + std::to_string(params.required) + " to " +
                   std::to_string(params.names.size());
    const bool plural = params.always_plural || params.names.size() != 1 || params.required != 1;
    message += plural ? " positional arguments but " : " positional argument but ";
    message += std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    raise(PyExc_TypeError, message);
}

// Places one keyword argument, or raises for a repeated or unknown keyword.
void place_keyword(const Params& params, PyObject* key, PyObject* value, Args& out) {
    if (!PyUnicode_Check(key))
        raise(PyExc_TypeError, params.full_name() + " keywords must be strings");
    for (std::size_t i = 0; i < params.names.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(key, params.names[i]) != 0) continue;
        if (out[i])
            raise(PyExc_TypeError, params.full_name() + " got multiple values for argument '" +
                                       params.names[i] + "'");
        out[i] = value;
        return;
    }
    // %U formats any str, even one that cannot be encoded as UTF-8.
    Ref message = Ref::steal(PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'",
                                                  params.full_name().c_str(), key));
    if (message) PyErr_SetObject(PyExc_TypeError, message.get());
    throw PyErrAlreadySet{};
}

void check_required(const Params& params, const Args& out) {
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < params.required; ++i)
        if (!out[i]) missing.emplace_back(params.names[i]);
    if (missing.empty()) return;
    raise(PyExc_TypeError, params.full_name() + " missing " + std::to_string(missing.size()) +
                               " required positional argument" + (missing.size() == 1 ? "" : "s") +
                               ": " + quoted_list(missing));
}

void place_positional(const Params& params, PyObject* const* args, std::size_t nargs, Args& out) {
    if (nargs > params.names.size()) too_many_positional(params, nargs);
    for (std::size_t i = 0; i < nargs; ++i) out[i] = args[i];
}

}  // namespace

Args parse_fastcall(const Params& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
    Args out{};
    place_positional(params, args, static_cast<std::size_t>(nargs), out);
    if (kwnames) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < count; ++i)
            place_keyword(params, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], out);
    }
    check_required(params, out);
    return out;
}

Args parse_tuple(const Params& params, PyObject* args, PyObject* kwargs) {
    Args out{};
    place_positional(params, &PyTuple_GET_ITEM(args, 0),
                     static_cast<std::size_t>(PyTuple_GET_SIZE(args)), out);
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) place_keyword(params, key, value, out);
    }
    check_required(params, out);
    return out;
}

std::string_view utf8_arg(PyObject* arg, const char* name, StrWording wording) {
    if (!PyUnicode_Check(arg))
        raise_argument_error(name, wording == StrWording::PYSTRING
                                       ? messages::not_a_string(type_name(arg))
                                       : messages::not_a_str(type_name(arg)));
    Py_ssize_t size = 0;
    // Borrowed: the UTF-8 buffer is cached in the str and lives as long as it.
    const char* text = PyUnicode_AsUTF8AndSize(arg, &size);
    if (!text) throw PyErrAlreadySet{};  // e.g. a lone surrogate: the encoding error stands
    return {text, static_cast<std::size_t>(size)};
}

long long int_arg(PyObject* arg, const char* name) {
    if (!PyIndex_Check(arg)) raise_argument_error(name, messages::not_an_integer(type_name(arg)));
    Ref value = Ref::steal(PyNumber_Index(arg));
    if (!value) throw PyErrAlreadySet{};
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (overflow) return overflow > 0 ? LLONG_MAX : LLONG_MIN;
    if (result == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
    return result;
}

bool truth_arg(PyObject* arg) {
    if (!arg) return false;
    const int truth = PyObject_IsTrue(arg);
    if (truth < 0) throw PyErrAlreadySet{};
    return truth != 0;
}

}  // namespace vemla::py
