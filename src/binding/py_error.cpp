// Setting Python exceptions: messages, the panic type and argument errors.
#include "py_error.hpp"

#include <cstring>

#include "py_ref.hpp"

namespace vemla::py {

void set_error(PyObject* type, const std::string& message) {
    // Messages quote user text, which came in as UTF-8 from a str.
    Ref text = Ref::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
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

}  // namespace

PyObject* panic_type() {
    if (!panic_type_object)
        panic_type_object = PyErr_NewExceptionWithDoc("vemla_chess.PanicException", PANIC_DOC,
                                                      PyExc_BaseException, nullptr);
    return panic_type_object;
}

namespace {

// The message as a str, decoded the way set_error decodes it.
Ref decoded(const std::string& message) {
    return Ref::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
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
    Ref text = Ref::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
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

}  // namespace vemla::py
