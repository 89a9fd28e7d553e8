// Errors on the way out of a Python entry point: the C++ signals the binding
// throws, the helpers that set a Python exception, and call(), which turns
// whatever a method's body throws into exactly one Python exception.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <string>

#include "failure.hpp"

namespace vemla::py {

// The one C++ signal for "a Python exception is set": code that sets one (or
// calls an API function that did) throws this, and call() returns NULL.
struct PyErrAlreadySet {};

// A borrow that conflicts with one already held; call() raises RuntimeError
// with the message once every guard of the call has been released.
struct BorrowConflict {
    const char* message;
};

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

}  // namespace vemla::py
