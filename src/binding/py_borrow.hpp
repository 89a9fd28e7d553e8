// The Python objects that hold a native record, and the borrows of that
// record: shared for readers, exclusive for writers, for the length of one
// call. A conflicting borrow fails at once with BorrowConflict.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <utility>

#include "borrow_flag.hpp"
#include "py_error.hpp"

namespace vemla::py {

// Python object holding a native record and its borrow flag.
template <typename Record>
struct Wrapper {
    PyObject_HEAD Record record;
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
// fn must not create Python objects; its result is returned by value. The
// one record held while Python code runs is the PGN reader's, whose position
// in its source must not be read from again before the game is complete.
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

}  // namespace vemla::py
