// The Python class MoveGenerator: built once, called with a Board.
#include "move_texts.hpp"
#include "py_types.hpp"

namespace vemla::py {

namespace {

PyTypeObject* move_generator_type_object = nullptr;

constexpr const char* CALL_NAMES[] = {"board"};
constexpr Params NEW_PARAMS{"MoveGenerator", "__new__", {}, 0};
constexpr Params CALL_PARAMS{"MoveGenerator", "__call__", CALL_NAMES, 1};

PyBoard* board_arg(PyObject* arg) {
    PyTypeObject* type = board_type();
    if (!type) throw PyErrAlreadySet{};
    if (!PyObject_TypeCheck(arg, type))
        raise_argument_error("board", "'" + type_name(arg) + "' object cannot be converted to 'Board'");
    return reinterpret_cast<PyBoard*>(arg);
}

PyObject* move_generator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call([&] {
        parse_tuple(NEW_PARAMS, args, kwargs);
        return new_wrapper(type, MoveGenerator());
    });
}

PyObject* move_generator_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    return call([&] {
        const Args argv = parse_tuple(CALL_PARAMS, args, kwargs);
        MoveList moves;
        {
            const SharedBorrow<MoveGenerator> generator(
                receiver<MoveGenerator>(self, move_generator_type_object, "MoveGenerator"));
            const ExclusiveBorrow<Board> board(board_arg(argv[0]));
            generator->generate(*board, moves);
        }
        // Texts not seen before are made first; once the list exists nothing
        // allocates until it is full.
        prepare_move_texts(moves.begin(), moves.end());
        PyObject* list = PyList_New(moves.size);
        if (!list) throw PyErrAlreadySet{};
        Py_ssize_t i = 0;
        for (const ChessMove move : moves) PyList_SET_ITEM(list, i++, prepared_move_text(move));
        return list;
    });
}

void move_generator_dealloc(PyObject* self) { dealloc_wrapper<MoveGenerator>(self); }

PyType_Slot move_generator_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>("MoveGenerator()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(move_generator_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(move_generator_dealloc)},
    {Py_tp_call, reinterpret_cast<void*>(move_generator_call)},
    {0, nullptr},
};

PyType_Spec move_generator_spec = {
    .name = "builtins.MoveGenerator",
    .basicsize = sizeof(PyMoveGenerator),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = move_generator_slots,
};

}  // namespace

PyTypeObject* move_generator_type() {
    if (!move_generator_type_object)
        move_generator_type_object =
            reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&move_generator_spec));
    return move_generator_type_object;
}

}  // namespace vemla::py
