// Making the heap type of a class description.
#include "py_class.hpp"

#include <array>

namespace vemla::py {

PyTypeObject* make_class(const ClassSpec& spec, Py_ssize_t basicsize, destructor dealloc) {
    // The slots and the spec are read only while the type is made; the name
    // and the method table are kept by the type.
    std::array<PyType_Slot, 7> slots{{
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_doc, const_cast<char*>(spec.doc)},
        {Py_tp_new, reinterpret_cast<void*>(spec.construct)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
        {Py_tp_methods, spec.methods},
        {0, nullptr},
        {0, nullptr},
    }};
    if (spec.call) slots[5] = {Py_tp_call, reinterpret_cast<void*>(spec.call)};
    PyType_Spec type_spec = {
        .name = spec.name,
        .basicsize = static_cast<int>(basicsize),
        .itemsize = 0,
        // Immutable: nothing can replace __new__ or a method, so every
        // instance is made by the class's own constructor (or a method such
        // as copy()) and holds a constructed record.
        .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        .slots = slots.data(),
    };
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
}

}  // namespace vemla::py
