// The module's classes: one description per class, and the one helper that
// turns it into a heap type, created once per process on first need and kept
// until it ends.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "py_borrow.hpp"

namespace vemla::py {

struct ClassSpec {
    const char* name;        // "builtins.<class>"; the type keeps the pointer
    const char* doc;         // the constructor's signature block
    newfunc construct;       // tp_new
    PyMethodDef* methods;    // a table that outlives the type
    ternaryfunc call = nullptr;  // tp_call, for instances that are callable
};

// Makes the type of spec, whose instances are `basicsize` bytes and are
// destroyed by dealloc. NULL with an exception set on failure.
PyTypeObject* make_class(const ClassSpec& spec, Py_ssize_t basicsize, destructor dealloc);

// The type of a class whose instances hold a Record, made on the first call
// and kept in `type`; a borrowed reference, or NULL with an exception set.
template <typename Record>
PyTypeObject* class_type(PyTypeObject*& type, const ClassSpec& spec) {
    if (!type) type = make_class(spec, sizeof(Wrapper<Record>), dealloc_wrapper<Record>);
    return type;
}

// METH_FASTCALL functions go through void(*)() to keep -Wcast-function-type quiet.
template <typename F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace vemla::py
