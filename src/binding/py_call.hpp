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
#include <utility>

#include "borrow_flag.hpp"
#include "failure.hpp"

namespace vemla::py {

// Thrown after a Python exception has been set; call() returns NULL for it.
struct PyErrAlreadySet {};

// A borrow that conflicts with one already held; call() raises RuntimeError
// with the message once every guard of the call has been released.
struct BorrowConflict {
    const char* message;
};

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

// Python object holding a native record and its borrow flag.
template <typename Record>
struct Wrapper {
    PyObject_HEAD
    Record record;
    BorrowFlag borrow;
};

inline constexpr const char SHARED_CONFLICT[] = "Already mutably borrowed";
inline constexpr const char EXCLUSIVE_CONFLICT[] = "Already borrowed";

// Borrow guards: take the flag in the constructor (or throw BorrowConflict),
// give it back in the destructor. They create no Python object, so nothing
// can run Python code while a record is held.
template <typename Record>
class SharedBorrow {
public:
    explicit SharedBorrow(Wrapper<Record>* w) : w_(w) {
        if (!try_borrow_shared(w->borrow)) throw BorrowConflict{SHARED_CONFLICT};
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
        if (!try_borrow_exclusive(w->borrow)) throw BorrowConflict{EXCLUSIVE_CONFLICT};
    }
    ~ExclusiveBorrow() { release_exclusive(w_->borrow); }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    Record& operator*() const { return w_->record; }
    Record* operator->() const { return &w_->record; }

private:
    Wrapper<Record>* w_;
};

// Borrows hold a record only while native code runs. Creating a Python
// object can start a garbage collection, and its finalisers can run any
// Python code, which may use the same record again (or release the
// interpreter lock to another thread that does). So a call takes from the
// record, under the borrow, plain native data for its result, and builds the
// Python objects only after the borrow has ended:
//
//     const std::string text = with_shared(board, [](const Board& b) { return b.fen(); });
//     return new_ascii(text);
//
// fn must not create Python objects; its result is returned by value.
template <typename Record, typename Fn>
decltype(auto) with_shared(Wrapper<Record>* w, Fn&& fn) {
    const SharedBorrow<Record> borrow(w);
    return std::forward<Fn>(fn)(*borrow);
}
template <typename Record, typename Fn>
decltype(auto) with_exclusive(Wrapper<Record>* w, Fn&& fn) {
    const ExclusiveBorrow<Record> borrow(w);
    return std::forward<Fn>(fn)(*borrow);
}

// Fail as taking the borrow would, without taking it. Used before converting
// arguments, which can run Python code: the record is borrowed only after
// that, but a conflicting borrow still fails first, as it would if held.
template <typename Record>
void check_shared(const Wrapper<Record>* w) {
    if (w->borrow.load() >= EXCLUSIVE - 1) throw BorrowConflict{SHARED_CONFLICT};
}
template <typename Record>
void check_exclusive(const Wrapper<Record>* w) {
    if (w->borrow.load() != 0) throw BorrowConflict{EXCLUSIVE_CONFLICT};
}

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
// the reference every heap-type instance holds on its type (taken by
// PyType_GenericAlloc; a heap type's dealloc must drop it since 3.8, so on
// every supported version).
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

// Takes the references that n new list items holding `boolean` (True or
// False) need, for callers that store the items with PyList_SET_ITEM.
//   - 3.12 and later: True and False are immortal. Their count never changes
//     (Py_INCREF and Py_DECREF leave it alone, Py_SET_REFCNT refuses to touch
//     it), so the items need no reference and nothing is done.
//   - 3.10 and 3.11: each item owns a reference. Adding all n to the count in
//     one step gives the same count as n Py_INCREFs without a chain of n
//     dependent increments of one counter.
//   - Debug interpreters (Py_REF_DEBUG) before 3.12 also keep a total of all
//     references, which only Py_INCREF maintains: take them one by one.
inline void add_bool_references([[maybe_unused]] PyObject* boolean, [[maybe_unused]] Py_ssize_t n) {
#if PY_VERSION_HEX >= 0x030C0000
#elif defined(Py_REF_DEBUG)
    for (Py_ssize_t i = 0; i < n; ++i) Py_INCREF(boolean);
#else
    Py_SET_REFCNT(boolean, Py_REFCNT(boolean) + n);
#endif
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
