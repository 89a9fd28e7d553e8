// The module's classes: one description per class, and the one helper that
// turns it into a heap type, created once per process on first need and kept
// until it ends.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

#include "py_borrow.hpp"

namespace vemla::py {

struct ClassDescription {
    const char* name;                // "builtins.<class>"; the type keeps the pointer
    const char* doc;                 // the constructor's signature block, or what it is
    newfunc construct = nullptr;     // tp_new; none: only the module makes instances
    PyMethodDef* methods = nullptr;  // a table that outlives the type
    ternaryfunc call = nullptr;      // tp_call, for instances that are callable
    std::span<const PyType_Slot> more_slots = {};  // any others (tp_repr, tp_iter, ...)
};

// The type of description, whose instances are `basicsize` bytes and are destroyed
// by dealloc, made on the first call and kept in `type`: a borrowed
// reference, or NULL with an exception set if it cannot be made. Every class
// is immutable (nothing can replace its constructor or a method) and final.
PyTypeObject* class_type(PyTypeObject*& type, const ClassDescription& description,
                         Py_ssize_t basicsize, destructor dealloc);

// The same for a class whose instances hold a Record (a Wrapper).
template <typename Record>
PyTypeObject* class_type(PyTypeObject*& type, const ClassDescription& description) {
    return class_type(type, description, sizeof(Wrapper<Record>), dealloc_wrapper<Record>);
}

// METH_FASTCALL functions go through void(*)() to keep -Wcast-function-type quiet.
template <typename F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace vemla::py
