// Reference counts taken in bulk, for result lists whose items are stored
// with PyList_SET_ITEM.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vemla::py {

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

}  // namespace vemla::py
