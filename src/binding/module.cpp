// The module vemla_chess: its definition and its init function, the only
// exported symbol.
#include "py_types.hpp"

#include <array>

namespace vemla::py {

namespace {

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

// The module's public classes, in the order of __all__. Each type is named
// "builtins.<class>" in its type description, so its __module__ reads "builtins" and its
// repr "<class 'builtins.Board'>": the classes have always presented
// themselves that way and code that prints or compares those names depends on
// it. They are reached as module attributes all the same (vemla_chess.Board).
// One consequence: pickle looks the classes up in builtins and refuses them.
struct PublicType {
    const char* name;
    PyTypeObject* (*get)();
};
constexpr std::array<PublicType, 2> PUBLIC_TYPES{{
    {"Board", board_type},
    {"MoveGenerator", move_generator_type},
}};

void add_object(PyObject* module, const char* name, PyObject* value) {
    if (!value || PyModule_AddObjectRef(module, name, value) < 0) throw PyErrAlreadySet{};
}

// Adds each class and then __all__; throws PyErrAlreadySet at the first
// failure, and later classes are then not created.
void add_types(PyObject* module) {
    ListItems all(PUBLIC_TYPES.size());
    for (const PublicType& entry : PUBLIC_TYPES) {
        add_object(module, entry.name, reinterpret_cast<PyObject*>(entry.get()));
        all.add(PyUnicode_FromString(entry.name));
    }
    const Ref all_list = Ref::steal(all.into_list());
    add_object(module, "__all__", all_list.get());
    // The version of pyproject.toml, passed in by the build.
    if (PyModule_AddStringConstant(module, "__version__", VEMLA_VERSION) < 0)
        throw PyErrAlreadySet{};
    // Reachable by name, but not listed in __all__: the opening-book reader,
    // and the exception type for `except vemla_chess.PanicException:`.
    add_object(module, "PolyglotBook", reinterpret_cast<PyObject*>(book_type()));
    add_object(module, "PanicException", panic_type());
}

}  // namespace

}  // namespace vemla::py

PyMODINIT_FUNC PyInit_vemla_chess() {
    using namespace vemla::py;
    // The types and the panic exception are created once per process and
    // belong to the main interpreter. A subinterpreter is refused before
    // anything is created, so that a refused import there leaves nothing
    // behind (no type owned by an interpreter that is about to be destroyed).
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError,
                        "vemla_chess can be imported only in the main interpreter");
        return nullptr;
    }
    // A second initialisation in the main interpreter (after
    // `del sys.modules["vemla_chess"]`, or a reload) builds a new module
    // object around the same type objects.
    // PyModule_Create passes the API version of the headers the module is
    // compiled against.
    return call([] {
        Ref module = Ref::steal(PyModule_Create(&module_def));
        if (!module) throw PyErrAlreadySet{};
        add_types(module.get());
        return module.release();
    });
}
