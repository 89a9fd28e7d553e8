// Making the heap type of a class description.
#include "py_class.hpp"

#include <new>
#include <vector>

namespace vemla::py {

namespace {

PyTypeObject* make_class(const ClassDescription& description, Py_ssize_t basicsize,
                         destructor dealloc) {
    // The slots and the description are read only while the type is made; the name
    // and the tables the slots point to are kept by the type.
    std::vector<PyType_Slot> slots{
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_doc, const_cast<char*>(description.doc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    };
    if (description.construct)
        slots.push_back({Py_tp_new, reinterpret_cast<void*>(description.construct)});
    if (description.methods) slots.push_back({Py_tp_methods, description.methods});
    if (description.call) slots.push_back({Py_tp_call, reinterpret_cast<void*>(description.call)});
    slots.insert(slots.end(), description.more_slots.begin(), description.more_slots.end());
    slots.push_back({0, nullptr});
    PyType_Spec type_spec = {
        .name = description.name,
        .basicsize = static_cast<int>(basicsize),
        .itemsize = 0,
        // Immutable: every instance is made by the class's own constructor
        // (or by the module) and holds a constructed record. Without a
        // constructor, Python code cannot make one at all.
        .flags = static_cast<unsigned int>(
            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE |
            (description.construct ? 0UL : Py_TPFLAGS_DISALLOW_INSTANTIATION)),
        .slots = slots.data(),
    };
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
}

}  // namespace

PyTypeObject* class_type(PyTypeObject*& type, const ClassDescription& description,
                         Py_ssize_t basicsize, destructor dealloc) {
    if (!type) {
        try {
            type = make_class(description, basicsize, dealloc);
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        }
    }
    return type;
}

}  // namespace vemla::py
