// The Python class Board.
#include "py_types.hpp"

namespace vemla::py {

namespace {

PyTypeObject* board_type_object = nullptr;

constexpr const char* FEN_NAMES[] = {"fen"};
constexpr const char* PUSH_NAMES[] = {"chess_move"};
constexpr Params NEW_PARAMS{"Board", "__new__", FEN_NAMES, 0};
constexpr Params PUSH_PARAMS{"Board", "push", PUSH_NAMES, 1};
constexpr Params FROM_FEN_PARAMS{"Board", "bitboard_from_fen", FEN_NAMES, 1};
constexpr const char* SVG_NAMES[] = {"size", "orientation"};
constexpr const char* DIAGRAM_NAMES[] = {"orientation"};
constexpr Params SVG_PARAMS{"Board", "svg", SVG_NAMES, 0};
constexpr Params DIAGRAM_PARAMS{"Board", "diagram", DIAGRAM_NAMES, 0};

PyBoard* self_board(PyObject* self) { return receiver<Board>(self, board_type_object, "Board"); }

// The position's words, copied under a shared borrow that ends on return, so
// pictures are built without holding the Board.
PositionWords position_words(PyObject* self) {
    const SharedBorrow<Board> board(self_board(self));
    return board->bitboards;
}

Colour orientation_arg(PyObject* arg) {
    return arg ? orientation_from_str(utf8_arg(arg, "orientation")) : WHITE;
}

// Twelve lists of 64 bools, built at their final length. On failure every
// reference taken so far is released with `planes`.
PyObject* planes_from_bitboards(const std::uint64_t* words) {
    Planes cells;
    expand_planes(words, cells);
    Ref planes = Ref::steal(PyList_New(12));
    if (!planes) throw PyErrAlreadySet{};
    for (std::size_t p = 0; p < 12; ++p) {
        PyObject* plane = PyList_New(64);
        if (!plane) throw PyErrAlreadySet{};
        PyList_SET_ITEM(planes.get(), static_cast<Py_ssize_t>(p), plane);  // steals plane
#ifdef Py_REF_DEBUG
        for (std::size_t k = 0; k < 64; ++k)
            PyList_SET_ITEM(plane, static_cast<Py_ssize_t>(k), Py_NewRef(cells[64 * p + k] ? Py_True : Py_False));
#else
        for (std::size_t k = 0; k < 64; ++k)
            PyList_SET_ITEM(plane, static_cast<Py_ssize_t>(k), cells[64 * p + k] ? Py_True : Py_False);
        // The plane's 64 references to True and False, taken in two steps
        // rather than 64 dependent increments of the same two counters.
        const auto trues = static_cast<Py_ssize_t>(std::popcount(words[p]));
        Py_SET_REFCNT(Py_True, Py_REFCNT(Py_True) + trues);
        Py_SET_REFCNT(Py_False, Py_REFCNT(Py_False) + 64 - trues);
#endif
    }
    return planes.release();
}

PyObject* board_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call([&] {
        const Args argv = parse_tuple(NEW_PARAMS, args, kwargs);
        const std::string_view fen = argv[0] ? utf8_arg(argv[0], "fen") : DEFAULT_FEN;
        return new_wrapper(type, Board::from_fen(fen));
    });
}

PyObject* board_bitboard_from_fen(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(FROM_FEN_PARAMS, args, nargs, kwnames);
        const auto words = pieces_from_fen(utf8_arg(argv[0], "fen"));
        return planes_from_bitboards(words.data());
    });
}

PyObject* board_fen(PyObject* self, PyObject*) {
    return call([&] {
        const SharedBorrow<Board> board(self_board(self));
        return new_ascii(board->fen());
    });
}

PyObject* board_push(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(PUSH_PARAMS, args, nargs, kwnames);
        const ExclusiveBorrow<Board> board(self_board(self));
        board->push_move(ChessMove::from_str(utf8_arg(argv[0], "chess_move")));
        return new_none();
    });
}

PyObject* board_pop(PyObject* self, PyObject*) {
    return call([&] {
        const ExclusiveBorrow<Board> board(self_board(self));
        board->pop_move();
        return new_none();
    });
}

PyObject* board_bitboard(PyObject* self, PyObject*) {
    return call([&] {
        const SharedBorrow<Board> board(self_board(self));
        return planes_from_bitboards(board->bitboards.data());
    });
}

PyObject* board_turn(PyObject* self, PyObject*) {
    return call([&] {
        const SharedBorrow<Board> board(self_board(self));
        return board->white_to_move() ? new_ascii("white") : new_ascii("black");
    });
}

PyObject* board_reflect(PyObject* self, PyObject*) {
    return call([&] {
        const ExclusiveBorrow<Board> board(self_board(self));
        board->reflect();
        return new_none();
    });
}

PyObject* board_copy(PyObject* self, PyObject*) {
    return call([&] {
        const SharedBorrow<Board> board(self_board(self));
        return new_wrapper(board_type_object, Board(*board));
    });
}

PyObject* board_svg(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(SVG_PARAMS, args, nargs, kwnames);
        const PositionWords words = position_words(self);
        const long long size = argv[0] ? int_arg(argv[0], "size") : SVG_DEFAULT_SIZE;
        return new_ascii(svg(words, size, orientation_arg(argv[1])));
    });
}

PyObject* board_repr_svg(PyObject* self, PyObject*) {
    return call([&] { return new_ascii(svg(position_words(self), SVG_DEFAULT_SIZE, WHITE)); });
}

PyObject* board_diagram(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(DIAGRAM_PARAMS, args, nargs, kwnames);
        const PositionWords words = position_words(self);
        return new_ascii(diagram(words, orientation_arg(argv[0])));
    });
}

void board_dealloc(PyObject* self) { dealloc_wrapper<Board>(self); }

// METH_FASTCALL functions go through void(*)() to keep -Wcast-function-type quiet.
template <typename F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef board_methods[] = {
    {"bitboard_from_fen", as_cfunction(board_bitboard_from_fen), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "bitboard_from_fen(fen)\n--\n\n"},
    {"fen", board_fen, METH_NOARGS, "fen($self)\n--\n\n"},
    {"push", as_cfunction(board_push), METH_FASTCALL | METH_KEYWORDS, "push($self, chess_move)\n--\n\n"},
    {"pop", board_pop, METH_NOARGS, "pop($self)\n--\n\n"},
    {"bitboard", board_bitboard, METH_NOARGS, "bitboard($self)\n--\n\n"},
    {"turn", board_turn, METH_NOARGS, "turn($self)\n--\n\n"},
    {"reflect", board_reflect, METH_NOARGS, "reflect($self)\n--\n\n"},
    {"copy", board_copy, METH_NOARGS, "copy($self)\n--\n\n"},
    {"svg", as_cfunction(board_svg), METH_FASTCALL | METH_KEYWORDS,
     "svg($self, size=360, orientation=\"white\")\n--\n\n"},
    {"_repr_svg_", board_repr_svg, METH_NOARGS, "_repr_svg_($self)\n--\n\n"},
    {"diagram", as_cfunction(board_diagram), METH_FASTCALL | METH_KEYWORDS,
     "diagram($self, orientation=\"white\")\n--\n\n"},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyType_Slot board_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>(
        "Board(fen=\"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -\")\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(board_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(board_dealloc)},
    {Py_tp_methods, board_methods},
    {0, nullptr},
};

PyType_Spec board_spec = {
    .name = "builtins.Board",
    .basicsize = sizeof(PyBoard),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = board_slots,
};

}  // namespace

PyTypeObject* board_type() {
    if (!board_type_object)
        board_type_object = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&board_spec));
    return board_type_object;
}

}  // namespace vemla::py
