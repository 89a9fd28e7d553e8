// The Python class Board.
#include "encoding/network_planes.hpp"
#include "messages.hpp"
#include "move_generator/queries.hpp"
#include "py_buffer.hpp"
#include "py_types.hpp"

namespace vemla::py {

namespace {

PyTypeObject* board_type_object = nullptr;

constexpr const char* FEN_NAMES[] = {"fen"};
constexpr const char* PUSH_NAMES[] = {"chess_move"};
constexpr Params NEW_PARAMS{"Board", "__new__", FEN_NAMES, 0, true};
constexpr Params PUSH_PARAMS{"Board", "push", PUSH_NAMES, 1, true};
constexpr Params FROM_FEN_PARAMS{"Board", "bitboard_from_fen", FEN_NAMES, 1, true};
constexpr const char* FROM_FULL_FEN_NAMES[] = {"fen", "chess960"};
constexpr Params FROM_FULL_FEN_PARAMS{"Board", "from_full_fen", FROM_FULL_FEN_NAMES, 1};
constexpr const char* FROM_CHESS960_NAMES[] = {"number"};
constexpr Params FROM_CHESS960_PARAMS{"Board", "from_chess960", FROM_CHESS960_NAMES, 1};
constexpr const char* SHREDDER_NAMES[] = {"shredder"};
constexpr Params FULL_FEN_PARAMS{"Board", "full_fen", SHREDDER_NAMES, 0};
constexpr const char* INTO_NAMES[] = {"out"};
constexpr Params BYTES_FROM_FEN_PARAMS{"Board", "bitboard_bytes_from_fen", FEN_NAMES, 1};
constexpr Params INTO_PARAMS{"Board", "bitboard_into", INTO_NAMES, 1};
constexpr const char* SQUARE_NAMES_[] = {"square"};
constexpr Params PIECE_AT_PARAMS{"Board", "piece_at", SQUARE_NAMES_, 1};
constexpr const char* SVG_NAMES[] = {"size", "orientation"};
constexpr const char* DIAGRAM_NAMES[] = {"orientation"};
constexpr Params SVG_PARAMS{"Board", "svg", SVG_NAMES, 0};
constexpr Params DIAGRAM_PARAMS{"Board", "diagram", DIAGRAM_NAMES, 0};
constexpr const char* PLANES_INTO_NAMES[] = {"out", "history", "view"};
constexpr Params PLANES_INTO_PARAMS{"Board", "planes_into", PLANES_INTO_NAMES, 1};

PyBoard* self_board(PyObject* self) { return receiver<Board>(self, board_type_object, "Board"); }

// The position's words, copied under a shared borrow that ends on return, so
// pictures are built without holding the Board.
PositionWords position_words(PyObject* self) {
    return with_shared(self_board(self), [](const Board& board) { return board.bitboards; });
}

Colour orientation_arg(PyObject* arg) {
    return arg ? orientation_from_str(utf8_arg(arg, "orientation")) : WHITE;
}

// Twelve lists of 64 bools, built at their final length. Each plane is filled
// as soon as it exists and the outer list is made last, so no list is ever
// reachable half-built. On failure every reference taken so far is released.
PyObject* planes_from_bitboards(const std::uint64_t* words) {
    Planes cells;
    expand_planes(words, cells);
    ListItems planes(12);
    for (std::size_t p = 0; p < 12; ++p) {
        const std::span<const std::uint8_t, 64> plane_cells(&cells[64 * p], 64);
        PyObject* plane =
            new_list(plane_cells, [](std::uint8_t cell) { return cell ? Py_True : Py_False; });
        // The plane's 64 references to True and False, taken in two steps.
        const auto trues = static_cast<Py_ssize_t>(std::popcount(words[p]));
        add_bool_references(Py_True, trues);
        add_bool_references(Py_False, 64 - trues);
        planes.add(plane);
    }
    return planes.into_list();
}

// The twelve piece bitboards, copied out under a shared borrow that ends
// before any Python object is made or any Python code can run.
std::array<std::uint64_t, 12> piece_words(PyObject* self) {
    return with_shared(self_board(self), [](const Board& board) {
        std::array<std::uint64_t, 12> words;
        std::copy_n(board.bitboards.begin(), 12, words.begin());
        return words;
    });
}

// The 768 plane cells (0 or 1) as one bytes object, in the order of bitboard().
PyObject* plane_bytes(const std::array<std::uint64_t, 12>& words) {
    PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(PLANE_CELLS));
    if (!bytes) throw PyErrAlreadySet{};
    expand_planes(words.data(), reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes)));
    return bytes;
}

PyObject* board_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call([&] {
        const Args argv = parse_tuple(NEW_PARAMS, args, kwargs);
        const std::string_view fen =
            argv[0] ? utf8_arg(argv[0], "fen", StrWording::PYSTRING) : DEFAULT_FEN;
        return new_wrapper(type, Board::from_fen(fen));
    });
}

PyObject* board_from_full_fen(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(FROM_FULL_FEN_PARAMS, args, nargs, kwnames);
        PyTypeObject* type = board_type();
        if (!type) throw PyErrAlreadySet{};
        const std::string_view fen = utf8_arg(argv[0], "fen");
        return new_wrapper(type, Board::from_full_fen(fen, truth_arg(argv[1])));
    });
}

PyObject* board_from_chess960(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(FROM_CHESS960_PARAMS, args, nargs, kwnames);
        PyTypeObject* type = board_type();
        if (!type) throw PyErrAlreadySet{};
        return new_wrapper(type, Board::from_chess960(int_arg(argv[0], "number")));
    });
}

PyObject* board_is_chess960(PyObject* self, PyObject*) {
    return call([&] {
        const bool chess960 =
            with_shared(self_board(self), [](const Board& board) { return board.chess960; });
        return new_bool(chess960);
    });
}

PyObject* board_bitboard_from_fen(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(FROM_FEN_PARAMS, args, nargs, kwnames);
        const auto words = pieces_from_fen(utf8_arg(argv[0], "fen", StrWording::PYSTRING));
        return planes_from_bitboards(words.data());
    });
}

PyObject* board_fen(PyObject* self, PyObject*) {
    return call([&] {
        const std::string text =
            with_shared(self_board(self), [](const Board& board) { return board.fen(); });
        return new_ascii(text);
    });
}

PyObject* board_full_fen(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(FULL_FEN_PARAMS, args, nargs, kwnames);
        const bool shredder = truth_arg(argv[0]);
        const std::string text = with_shared(
            self_board(self), [&](const Board& board) { return board.full_fen(shredder); });
        return new_ascii(text);
    });
}

PyObject* board_halfmove_clock(PyObject* self, PyObject*) {
    return call([&] {
        const std::uint64_t value = with_shared(
            self_board(self), [](const Board& board) { return board.halfmove_clock(); });
        return new_uint(value);
    });
}

PyObject* board_fullmove_number(PyObject* self, PyObject*) {
    return call([&] {
        const std::uint64_t value = with_shared(
            self_board(self), [](const Board& board) { return board.fullmove_number(); });
        return new_uint(value);
    });
}

PyObject* board_zobrist(PyObject* self, PyObject*) {
    return call([&] {
        const std::uint64_t value =
            with_shared(self_board(self), [](const Board& board) { return board.zobrist(); });
        return new_uint(value);
    });
}

// A square given as its name ("e4") or its number (0 to 63).
int square_arg(PyObject* arg) {
    if (PyLong_Check(arg)) {
        int overflow = 0;
        const long n = PyLong_AsLongAndOverflow(arg, &overflow);
        if (n == -1 && !overflow && PyErr_Occurred()) throw PyErrAlreadySet{};
        if (overflow || n < 0 || n > 63) throw InvalidInput(messages::INVALID_SQUARE_NUMBER);
        return static_cast<int>(n);
    }
    if (!PyUnicode_Check(arg))
        raise_argument_error("square", messages::not_a_square(type_name(arg)));
    const std::string_view name = utf8_arg(arg, "square");
    if (name.size() != 2 || name[0] < 'a' || name[0] > 'h' || name[1] < '1' || name[1] > '8')
        throw InvalidInput(messages::invalid_square_name(name));
    return (name[0] - 'a') + 8 * (name[1] - '1');
}

PyObject* board_piece_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(PIECE_AT_PARAMS, args, nargs, kwnames);
        PyBoard* board = self_board(self);
        check_shared(board);
        const int square = square_arg(argv[0]);
        const char piece =
            with_shared(board, [&](const Board& b) { return piece_letter_at(b, square); });
        if (!piece) return new_none();
        PyObject* text = PyUnicode_FromStringAndSize(&piece, 1);
        if (!text) throw PyErrAlreadySet{};
        return text;
    });
}

PyObject* board_push(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(PUSH_PARAMS, args, nargs, kwnames);
        PyBoard* board = self_board(self);
        check_exclusive(board);
        const ChessMove move =
            ChessMove::from_str(utf8_arg(argv[0], "chess_move", StrWording::PYSTRING));
        with_exclusive(board, [&](Board& b) { b.push_move(move); });
        return new_none();
    });
}

PyObject* board_pop(PyObject* self, PyObject*) {
    return call([&] {
        with_exclusive(self_board(self), [](Board& board) { board.pop_move(); });
        return new_none();
    });
}

PyObject* board_push_null(PyObject* self, PyObject*) {
    return call([&] {
        with_exclusive(self_board(self), [](Board& board) { board.push_null(); });
        return new_none();
    });
}

PyObject* board_bitboard(PyObject* self, PyObject*) {
    return call([&] {
        const auto words =
            with_shared(self_board(self), [](const Board& board) { return board.bitboards; });
        return planes_from_bitboards(words.data());
    });
}

PyObject* board_turn(PyObject* self, PyObject*) {
    return call([&] {
        const bool white =
            with_shared(self_board(self), [](const Board& board) { return board.white_to_move(); });
        return white ? new_ascii("white") : new_ascii("black");
    });
}

PyObject* board_reflect(PyObject* self, PyObject*) {
    return call([&] {
        with_exclusive(self_board(self), [](Board& board) { board.reflect(); });
        return new_none();
    });
}

PyObject* board_copy(PyObject* self, PyObject*) {
    return call([&] {
        Board copy = with_shared(self_board(self), [](const Board& board) { return Board(board); });
        return new_wrapper(board_type_object, std::move(copy));
    });
}

PyObject* board_bitboard_bytes(PyObject* self, PyObject*) {
    return call([&] { return plane_bytes(piece_words(self)); });
}

PyObject* board_bitboard_bytes_from_fen(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(BYTES_FROM_FEN_PARAMS, args, nargs, kwnames);
        return plane_bytes(pieces_from_fen(utf8_arg(argv[0], "fen")));
    });
}

PyObject* board_bitboard_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(INTO_PARAMS, args, nargs, kwnames);
        self_board(self);
        // Acquiring the buffer may run Python code (__buffer__) that changes
        // the board: the words are read after it.
        const OutBuffer out(argv[0], "out", PLANE_CELLS);
        const auto words = piece_words(self);
        expand_planes(words.data(), out.data());
        return new_none();
    });
}

// history and view are converted, then the buffer (its size follows from
// history) is acquired: each may run Python code that changes the board,
// which is read only after them, under a shared borrow, straight into out.
PyObject* board_planes_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(PLANES_INTO_PARAMS, args, nargs, kwnames);
        PyBoard* board = self_board(self);
        const long long history = argv[1] ? int_arg(argv[1], "history") : 1;
        check_plane_history(history);
        const PlaneView view =
            argv[2] ? plane_view_from_str(utf8_arg(argv[2], "view")) : PlaneView::MOVER;
        const auto steps = static_cast<std::size_t>(history);
        const OutBuffer out(argv[0], "out", input_plane_count(steps) * 64, ItemKind::FLOAT32);
        with_shared(board,
                    [&](const Board& b) { write_input_planes(b, steps, view, out.floats()); });
        return new_none();
    });
}

PyObject* board_repetitions(PyObject* self, PyObject*) {
    return call([&] {
        const int repetitions =
            with_shared(self_board(self), [](const Board& board) { return board.repetitions(); });
        return new_int(repetitions);
    });
}

PyObject* board_ply(PyObject* self, PyObject*) {
    return call([&] {
        const std::size_t ply =
            with_shared(self_board(self), [](const Board& board) { return board.ply(); });
        return new_int(static_cast<long>(ply));
    });
}

PyObject* board_svg(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(SVG_PARAMS, args, nargs, kwnames);
        self_board(self);
        // The arguments first: converting size may run Python code (__index__)
        // that changes the board, and the picture is of the board as it is then.
        const long long size = argv[0] ? int_arg(argv[0], "size") : SVG_DEFAULT_SIZE;
        const Colour orientation = orientation_arg(argv[1]);
        return new_ascii(svg(position_words(self), size, orientation));
    });
}

PyObject* board_repr_svg(PyObject* self, PyObject*) {
    return call([&] { return new_ascii(svg(position_words(self), SVG_DEFAULT_SIZE, WHITE)); });
}

PyObject* board_diagram(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(DIAGRAM_PARAMS, args, nargs, kwnames);
        self_board(self);
        const Colour orientation = orientation_arg(argv[0]);
        return new_ascii(diagram(position_words(self), orientation));
    });
}

PyMethodDef board_methods[] = {
    {"bitboard_from_fen", as_cfunction(board_bitboard_from_fen),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, "bitboard_from_fen(fen)\n--\n\n"},
    {"fen", board_fen, METH_NOARGS, "fen($self)\n--\n\n"},
    {"push", as_cfunction(board_push), METH_FASTCALL | METH_KEYWORDS,
     "push($self, chess_move)\n--\n\n"},
    {"pop", board_pop, METH_NOARGS, "pop($self)\n--\n\n"},
    {"push_null", board_push_null, METH_NOARGS,
     "push_null($self)\n--\n\n"
     "The side to move passes (the null move \"0000\" of game files): no piece moves, the\n"
     "en-passant square clears and the other side is to move. pop() takes it back."},
    {"bitboard", board_bitboard, METH_NOARGS, "bitboard($self)\n--\n\n"},
    {"turn", board_turn, METH_NOARGS, "turn($self)\n--\n\n"},
    {"reflect", board_reflect, METH_NOARGS, "reflect($self)\n--\n\n"},
    {"copy", board_copy, METH_NOARGS, "copy($self)\n--\n\n"},
    {"bitboard_bytes", board_bitboard_bytes, METH_NOARGS, "bitboard_bytes($self)\n--\n\n"},
    {"bitboard_bytes_from_fen", as_cfunction(board_bitboard_bytes_from_fen),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, "bitboard_bytes_from_fen(fen)\n--\n\n"},
    {"bitboard_into", as_cfunction(board_bitboard_into), METH_FASTCALL | METH_KEYWORDS,
     "bitboard_into($self, out)\n--\n\n"},
    {"planes_into", as_cfunction(board_planes_into), METH_FASTCALL | METH_KEYWORDS,
     "planes_into($self, out, history=1, view=\"mover\")\n--\n\n"
     "Writes the input planes of the position and of the history - 1 positions before it into\n"
     "out, a writable buffer of (12 * history + 8) * 64 float32 items: the pieces of each\n"
     "position (zero before the start of the line), then side to move, castling rights,\n"
     "en-passant square, half-move clock / 100 and repetitions. view is \"mover\" or \"board\"."},
    {"repetitions", board_repetitions, METH_NOARGS, "repetitions($self)\n--\n\n"},
    {"ply", board_ply, METH_NOARGS, "ply($self)\n--\n\n"},
    {"from_full_fen", as_cfunction(board_from_full_fen),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "from_full_fen(fen, chess960=False)\n--\n\n"
     "With chess960 the board is a Chess960 board: its castling field is read as X-FEN or\n"
     "Shredder-FEN and castling is the king's move onto its own rook (e1h1)."},
    {"from_chess960", as_cfunction(board_from_chess960),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "from_chess960(number)\n--\n\n"
     "The Chess960 start position of the given number, 0 to 959 (518 is the standard start)."},
    {"is_chess960", board_is_chess960, METH_NOARGS,
     "is_chess960($self)\n--\n\n"
     "Whether the board follows the Chess960 castling rules."},
    {"full_fen", as_cfunction(board_full_fen), METH_FASTCALL | METH_KEYWORDS,
     "full_fen($self, shredder=False)\n--\n\n"
     "A Chess960 board writes X-FEN castling rights, or Shredder-FEN with shredder."},
    {"halfmove_clock", board_halfmove_clock, METH_NOARGS, "halfmove_clock($self)\n--\n\n"},
    {"fullmove_number", board_fullmove_number, METH_NOARGS, "fullmove_number($self)\n--\n\n"},
    {"piece_at", as_cfunction(board_piece_at), METH_FASTCALL | METH_KEYWORDS,
     "piece_at($self, square)\n--\n\n"},
    {"zobrist", board_zobrist, METH_NOARGS, "zobrist($self)\n--\n\n"},
    {"svg", as_cfunction(board_svg), METH_FASTCALL | METH_KEYWORDS,
     "svg($self, size=360, orientation=\"white\")\n--\n\n"},
    {"_repr_svg_", board_repr_svg, METH_NOARGS, "_repr_svg_($self)\n--\n\n"},
    {"diagram", as_cfunction(board_diagram), METH_FASTCALL | METH_KEYWORDS,
     "diagram($self, orientation=\"white\")\n--\n\n"},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

const ClassDescription board_class{
    .name = "builtins.Board",
    .doc = "Board(fen=\"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -\")\n--\n\n",
    .construct = board_new,
    .methods = board_methods,
};

}  // namespace

PyBoard* board_arg(PyObject* arg) {
    PyTypeObject* type = board_type();
    if (!type) throw PyErrAlreadySet{};
    if (!PyObject_TypeCheck(arg, type))
        raise_argument_error("board",
                             "'" + type_name(arg) + "' object cannot be converted to 'Board'");
    return reinterpret_cast<PyBoard*>(arg);
}

PyTypeObject* board_type() { return class_type<Board>(board_type_object, board_class); }

}  // namespace vemla::py
