// The module vemla_chess: its definition and its init function, the only
// exported symbol.
#include "py_types.hpp"

namespace vemla::py {

namespace {

bool module_created = false;

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "vemla_chess",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// Appends name to the module's __all__ (creating it if absent), then sets
// the attribute. Returns false with an exception set on failure.
bool add_type(PyObject* module, const char* name, PyTypeObject* type) {
    if (!type) return false;
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) return false;
    return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

}  // namespace

}  // namespace vemla::py

PyMODINIT_FUNC PyInit_vemla_chess() {
    using namespace vemla::py;
    // The types and the panic exception are process-wide; a second module
    // object would share them, so a second initialisation is refused.
    if (module_created) {
        PyErr_SetString(PyExc_ImportError,
                        "vemla_chess may be initialised only once per interpreter process");
        return nullptr;
    }
    Ref module = Ref::steal(PyModule_Create2(&module_def, 1013));
    if (!module) return nullptr;
    if (!add_type(module.get(), "Board", board_type())) return nullptr;
    if (!add_type(module.get(), "MoveGenerator", move_generator_type())) return nullptr;
    // Reachable by name for `except vemla_chess.PanicException:`, but not
    // listed in __all__.
    PyObject* panic = panic_type();
    if (!panic || PyModule_AddObjectRef(module.get(), "PanicException", panic) < 0) return nullptr;
    module_created = true;
    return module.release();
}
