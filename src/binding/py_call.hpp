// The one call path shared by every Python entry point:
//   parse -> borrow -> convert -> run -> release -> translate.
// parse_* check the arguments against a constant Params description and set
// the exact TypeError; the borrow guards (py_borrow.hpp) release on every path
// by RAII; call() turns whatever the body throws into exactly one Python
// exception. Results are made by the new_* helpers and ListItems, and the
// reference-count shortcut they rely on is in py_refcount.hpp.
#pragma once

#include "py_ref.hpp"

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "failure.hpp"
#include "py_borrow.hpp"
#include "py_error.hpp"
#include "py_refcount.hpp"

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

    std::string full_name() const {
        return std::string(class_name) + "." + function_name + "()";
    }
};

inline constexpr std::size_t MAX_PARAMS = 4;
using Args = std::array<PyObject*, MAX_PARAMS>;  // borrowed; NULL where not given

// METH_FASTCALL | METH_KEYWORDS arguments.
Args parse_fastcall(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// tp_new / tp_call arguments (a tuple and an optional dict).
Args parse_tuple(const Params& params, PyObject* args, PyObject* kwargs);

[[noreturn]] void raise(PyObject* type, const std::string& message);
// Sets an exception of type with the whole message (embedded NULs kept).
void set_error(PyObject* type, const std::string& message);
// Sets PanicException(message), creating the type on first need; a note, if
// not empty, is added to the exception (add_note; __notes__ before 3.11).
void set_panic(const std::string& message, const std::string& note = {});
// The PanicException type, created on first need and kept until the process
// ends (a borrowed reference); NULL with an exception set if it cannot be made.
PyObject* panic_type();
// The type's __name__, as used in conversion messages.
std::string type_name(PyObject* obj);
// TypeError "argument '<name>': <message>" whose cause is TypeError(message).
[[noreturn]] void raise_argument_error(const char* name, const std::string& message);

// A str argument viewed as UTF-8; valid while the argument lives (the call).
std::string_view utf8_arg(PyObject* arg, const char* name);

// An integer argument (int, or anything with __index__). Values beyond the
// range of long long come back as its limits, so range checks reject them.
long long int_arg(PyObject* arg, const char* name);

// Checks that obj is an instance of type before it is borrowed.
template <typename Record>
Wrapper<Record>* receiver(PyObject* obj, PyTypeObject* type, const char* class_name) {
    if (!PyObject_TypeCheck(obj, type))
        raise(PyExc_TypeError, "'" + type_name(obj) + "' object cannot be converted to '" + class_name + "'");
    return reinterpret_cast<Wrapper<Record>*>(obj);
}

// Runs body and translates its outcome: a new reference, or NULL with exactly
// one exception set. Native memory exhaustion becomes MemoryError: every
// operation either completes or leaves its objects as they were (make/unmake
// reserves stack room before changing anything). Any other exception ends the
// process: it must never unwind through the interpreter's frames.
template <typename Body>
PyObject* call(Body&& body) noexcept {
    try {
        return body();
    } catch (const PyErrAlreadySet&) {
        return nullptr;
    } catch (const BorrowConflict& e) {
        PyErr_SetString(PyExc_RuntimeError, e.message);
        return nullptr;
    } catch (const InvalidInput& e) {
        set_error(PyExc_ValueError, e.message());
        return nullptr;
    } catch (const Panic& e) {
        set_panic(e.message(), e.note());
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

inline PyObject* new_none() { Py_RETURN_NONE; }
inline PyObject* new_bool(bool value) { return Py_NewRef(value ? Py_True : Py_False); }
inline PyObject* new_int(long value) {
    PyObject* number = PyLong_FromLong(value);
    if (!number) throw PyErrAlreadySet{};
    return number;
}

inline PyObject* new_uint(std::uint64_t value) {
    PyObject* number = PyLong_FromUnsignedLongLong(value);
    if (!number) throw PyErrAlreadySet{};
    return number;
}

// METH_FASTCALL functions go through void(*)() to keep -Wcast-function-type quiet.
template <typename F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// A new str from ASCII text, written straight into the string's buffer.
inline PyObject* new_ascii(const char* text, std::size_t length) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
    if (!str) throw PyErrAlreadySet{};
    std::memcpy(PyUnicode_1BYTE_DATA(str), text, length);
    return str;
}
inline PyObject* new_ascii(std::string_view text) { return new_ascii(text.data(), text.size()); }

// Items made ready before the list that will hold them, so that the list is
// complete from the moment it exists. A list created first and filled while
// its items are being created would be reachable half-built: creating an item
// can start a collection, and a finaliser can find the list through
// gc.get_objects() and read one of its empty slots.
class ListItems {
public:
    explicit ListItems(std::size_t capacity);
    ~ListItems();
    ListItems(const ListItems&) = delete;
    ListItems& operator=(const ListItems&) = delete;

    // Takes the new reference item; throws PyErrAlreadySet for NULL.
    void add(PyObject* item) {
        if (!item) throw PyErrAlreadySet{};
        items_[size_++] = item;
    }
    // A new list of the items added so far, which it takes over.
    PyObject* into_list();

private:
    static constexpr std::size_t INLINE = 256;
    PyObject* inline_[INLINE];
    std::unique_ptr<PyObject*[]> heap_;
    PyObject** items_;
    std::size_t size_ = 0;
};

}  // namespace vemla::py
