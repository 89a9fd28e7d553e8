// The one call path shared by every Python entry point:
//   parse -> borrow -> convert -> run -> release -> translate.
// parse_* check the arguments against a constant Params description and set
// the exact TypeError; the borrow guards release on every path by RAII; call()
// turns whatever the body throws into exactly one Python exception.
#pragma once

#include "py_ref.hpp"

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "borrow_flag.hpp"
#include "failure.hpp"

namespace vemla::py {

// Thrown after a Python exception has been set; call() returns NULL for it.
struct PyErrAlreadySet {};

// A callable's parameters: all positional-or-keyword, the first `required`
// of them mandatory. Class and function name appear in every message.
struct Params {
    const char* class_name;
    const char* function_name;
    std::span<const char* const> names;
    std::size_t required;

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
// Sets PanicException(message), creating the type on first need.
void set_panic(const std::string& message);
// The type's __name__, as used in conversion messages.
std::string type_name(PyObject* obj);
// TypeError "argument '<name>': <message>" whose cause is TypeError(message).
[[noreturn]] void raise_argument_error(const char* name, const std::string& message);

// A str argument viewed as UTF-8; valid while the argument lives (the call).
std::string_view utf8_arg(PyObject* arg, const char* name);

// An integer argument (int, or anything with __index__). Values beyond the
// range of long long come back as its limits, so range checks reject them.
long long int_arg(PyObject* arg, const char* name);

// Python object holding a native record and its borrow flag.
template <typename Record>
struct Wrapper {
    PyObject_HEAD
    Record record;
    BorrowFlag borrow;
};

// Borrow guards: take the flag in the constructor (or raise RuntimeError),
// give it back in the destructor.
template <typename Record>
class SharedBorrow {
public:
    explicit SharedBorrow(Wrapper<Record>* w) : w_(w) {
        if (!try_borrow_shared(w->borrow)) raise(PyExc_RuntimeError, "Already mutably borrowed");
    }
    ~SharedBorrow() { release_shared(w_->borrow); }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    const Record& operator*() const { return w_->record; }
    const Record* operator->() const { return &w_->record; }

private:
    Wrapper<Record>* w_;
};

template <typename Record>
class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(Wrapper<Record>* w) : w_(w) {
        if (!try_borrow_exclusive(w->borrow)) raise(PyExc_RuntimeError, "Already borrowed");
    }
    ~ExclusiveBorrow() { release_exclusive(w_->borrow); }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    Record& operator*() const { return w_->record; }
    Record* operator->() const { return &w_->record; }

private:
    Wrapper<Record>* w_;
};

// Checks that obj is an instance of type before it is borrowed.
template <typename Record>
Wrapper<Record>* receiver(PyObject* obj, PyTypeObject* type, const char* class_name) {
    if (!PyObject_TypeCheck(obj, type))
        raise(PyExc_TypeError, "'" + type_name(obj) + "' object cannot be converted to '" + class_name + "'");
    return reinterpret_cast<Wrapper<Record>*>(obj);
}

// Allocates an instance of type and moves the record into it.
template <typename Record>
PyObject* new_wrapper(PyTypeObject* type, Record&& record) {
    auto* alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = (alloc ? alloc : PyType_GenericAlloc)(type, 0);
    if (!obj) throw PyErrAlreadySet{};
    auto* w = reinterpret_cast<Wrapper<Record>*>(obj);
    std::construct_at(&w->record, std::move(record));
    std::construct_at(&w->borrow, 0);
    return obj;
}

// tp_dealloc of both classes: destroy the record, free the object, and drop
// the reference every heap-type instance holds on its type.
template <typename Record>
void dealloc_wrapper(PyObject* obj) {
    auto* w = reinterpret_cast<Wrapper<Record>*>(obj);
    std::destroy_at(&w->record);
    std::destroy_at(&w->borrow);
    PyTypeObject* type = Py_TYPE(obj);
    auto* free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(obj);
    Py_DECREF(type);
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
    } catch (const InvalidInput& e) {
        set_error(PyExc_ValueError, e.message());
        return nullptr;
    } catch (const Panic& e) {
        set_panic(e.message());
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

inline PyObject* new_none() { Py_RETURN_NONE; }

// A new str from ASCII text, written straight into the string's buffer.
inline PyObject* new_ascii(const char* text, std::size_t length) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
    if (!str) throw PyErrAlreadySet{};
    std::memcpy(PyUnicode_1BYTE_DATA(str), text, length);
    return str;
}
inline PyObject* new_ascii(std::string_view text) { return new_ascii(text.data(), text.size()); }

}  // namespace vemla::py
