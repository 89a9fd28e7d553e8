// Argument parsing, conversion messages and the panic exception type.
#include "py_call.hpp"

#include "messages.hpp"

#include <climits>
#include <cstring>
#include <vector>

namespace vemla::py {

void set_error(PyObject* type, const std::string& message) {
    // Messages quote user text, which came in as UTF-8 from a str.
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

void raise(PyObject* type, const std::string& message) {
    set_error(type, message);
    throw PyErrAlreadySet{};
}

namespace {

PyObject* panic_type_object = nullptr;  // created once, kept until the process ends

constexpr const char PANIC_DOC[] =
    "Raised when the native code of vemla_chess fails internally.\n\n"
    "Like SystemExit, it derives from BaseException, so it passes through\n"
    "ordinary `except Exception` handlers.";

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
        message += "from " + std::to_string(params.required) + " to " + std::to_string(params.names.size());
    const bool plural = params.always_plural || params.names.size() != 1 || params.required != 1;
    message += plural ? " positional arguments but " : " positional argument but ";
    message += std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    raise(PyExc_TypeError, message);
}

// Places one keyword argument, or raises for a repeated or unknown keyword.
void place_keyword(const Params& params, PyObject* key, PyObject* value, Args& out) {
    if (!PyUnicode_Check(key)) raise(PyExc_TypeError, params.full_name() + " keywords must be strings");
    for (std::size_t i = 0; i < params.names.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(key, params.names[i]) != 0) continue;
        if (out[i]) raise(PyExc_TypeError, params.full_name() + " got multiple values for argument '" + params.names[i] + "'");
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

Args parse_fastcall(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
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
    place_positional(params, &PyTuple_GET_ITEM(args, 0), static_cast<std::size_t>(PyTuple_GET_SIZE(args)), out);
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) place_keyword(params, key, value, out);
    }
    check_required(params, out);
    return out;
}

PyObject* panic_type() {
    if (!panic_type_object)
        panic_type_object = PyErr_NewExceptionWithDoc("vemla_chess.PanicException", PANIC_DOC,
                                                      PyExc_BaseException, nullptr);
    return panic_type_object;
}

namespace {

// The message as a str, decoded the way set_error decodes it.
Ref decoded(const std::string& message) {
    return Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
}

// Adds a note to an exception instance; false with an exception set if that fails.
bool add_note(PyObject* error, const std::string& note) {
    Ref text = decoded(note);
    if (!text) return false;
#if PY_VERSION_HEX >= 0x030B0000
    Ref done = Ref::steal(PyObject_CallMethod(error, "add_note", "O", text.get()));
    return static_cast<bool>(done);
#else
    Ref notes = Ref::steal(PyList_New(0));
    return notes && PyList_Append(notes.get(), text.get()) == 0 &&
           PyObject_SetAttrString(error, "__notes__", notes.get()) == 0;
#endif
}

}  // namespace

void set_panic(const std::string& message, const std::string& note) {
    PyObject* type = panic_type();
    if (!type) return;  // the creation error stays set
    if (note.empty()) return set_error(type, message);
    Ref text = decoded(message);
    Ref error = text ? Ref::steal(PyObject_CallOneArg(type, text.get())) : Ref{};
    if (!error) return;
    // The note only helps to read the failure: the exception stands without it.
    if (!add_note(error.get(), note)) PyErr_Clear();
    PyErr_SetObject(type, error.get());
}

namespace {

// The type's __name__ as a new reference. PyType_GetName is new in 3.11; on
// 3.10 the same value is read the way the interpreter's own type.__name__
// getter reads it: the heap type's name object, or the static type's tp_name
// after its last dot.
PyObject* type_name_object(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030B0000
    return PyType_GetName(type);
#else
    if (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE))
        return Py_NewRef(reinterpret_cast<PyHeapTypeObject*>(type)->ht_name);
    const char* dot = std::strrchr(type->tp_name, '.');
    return PyUnicode_FromString(dot ? dot + 1 : type->tp_name);
#endif
}

}  // namespace

std::string type_name(PyObject* obj) {
    Ref name = Ref::steal(type_name_object(Py_TYPE(obj)));
    Py_ssize_t size = 0;
    const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
    if (!text) {
        PyErr_Clear();
        return Py_TYPE(obj)->tp_name;
    }
    return {text, static_cast<std::size_t>(size)};
}

namespace {

Ref new_type_error(const std::string& message) {
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) throw PyErrAlreadySet{};
    Ref error = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (!error) throw PyErrAlreadySet{};
    return error;
}

}  // namespace

void raise_argument_error(const char* name, const std::string& message) {
    Ref cause = new_type_error(message);
    Ref error = new_type_error("argument '" + std::string(name) + "': " + message);
    PyException_SetCause(error.get(), cause.release());  // steals the cause
    PyErr_SetObject(PyExc_TypeError, error.get());
    throw PyErrAlreadySet{};
}

ListItems::ListItems(std::size_t capacity) : items_(inline_) {
    if (capacity > INLINE) {
        heap_.reset(new PyObject*[capacity]);
        items_ = heap_.get();
    }
}

ListItems::~ListItems() {
    for (std::size_t i = 0; i < size_; ++i) Py_DECREF(items_[i]);
}

PyObject* ListItems::into_list() {
    // PyList_New may collect, but only before the list is tracked; from then
    // on nothing allocates until every slot is filled.
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(size_));
    if (!list) throw PyErrAlreadySet{};
    for (std::size_t i = 0; i < size_; ++i) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), items_[i]);
    size_ = 0;
    return list;
}

std::string_view utf8_arg(PyObject* arg, const char* name) {
    if (!PyUnicode_Check(arg))
        raise_argument_error(name, messages::not_a_string(type_name(arg)));
    Py_ssize_t size = 0;
    // Borrowed: the UTF-8 buffer is cached in the str and lives as long as it.
    const char* text = PyUnicode_AsUTF8AndSize(arg, &size);
    if (!text) throw PyErrAlreadySet{};  // e.g. a lone surrogate: the encoding error stands
    return {text, static_cast<std::size_t>(size)};
}

long long int_arg(PyObject* arg, const char* name) {
    if (!PyIndex_Check(arg))
        raise_argument_error(name, messages::not_an_integer(type_name(arg)));
    Ref value = Ref::steal(PyNumber_Index(arg));
    if (!value) throw PyErrAlreadySet{};
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (overflow) return overflow > 0 ? LLONG_MAX : LLONG_MIN;
    if (result == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
    return result;
}

}  // namespace vemla::py
