// generator.read_epd(source, errors="keep"): the core EPD reader behind a
// Python iterator of records, one per line that is not blank.
#include "py_epd.hpp"

#include <structmember.h>

#include <memory>

#include "messages.hpp"
#include "move_texts.hpp"
#include "notation/epd.hpp"
#include "py_source.hpp"
#include "py_types.hpp"

namespace vemla::py {

namespace {

// ---------------------------------------------------------------------------
// EpdRecord: one line, its fields plain Python objects made once.

struct PyEpdRecord {
    PyObject_HEAD PyObject* line;  // int
    PyObject* text;                // str
    PyObject* fen;                 // str (six fields) or None
    PyObject* operations;          // dict opcode -> tuple of str, line order
    PyObject* bm;                  // tuple of move texts
    PyObject* am;
    PyObject* pv;
    PyObject* id;     // str or None
    PyObject* error;  // str or None
};

PyTypeObject* record_type_object = nullptr;
PyTypeObject* reader_type_object = nullptr;

// A str from the line's bytes; bytes that are not UTF-8 become U+FFFD rather
// than losing the line.
PyObject* new_text(std::string_view text) {
    PyObject* str =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!str) throw PyErrAlreadySet{};
    return str;
}

PyObject* new_moves(const std::vector<ChessMove>& moves) {
    static PyObject* null_text = nullptr;  // kept until the process ends, like the move texts
    if (!null_text) null_text = PyUnicode_InternFromString("0000");
    if (!null_text) throw PyErrAlreadySet{};
    prepare_move_texts(moves.data(), moves.data() + moves.size());
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(moves.size()));
    if (!tuple) throw PyErrAlreadySet{};
    Py_ssize_t i = 0;
    for (const ChessMove move : moves)
        PyTuple_SET_ITEM(tuple, i++,
                         move == NULL_MOVE_CODE ? Py_NewRef(null_text) : prepared_move_text(move));
    return tuple;
}

// The operations as a dict in line order; a repeated opcode's operands
// follow those of its first operation in the one tuple.
PyObject* new_operations(const epd::EpdRecord& record) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) throw PyErrAlreadySet{};
    for (std::size_t i = 0; i < record.operations.size(); ++i) {
        const epd::EpdOperation& operation = record.operations[i];
        const Ref key = Ref::steal(new_text(record.opcode(i)));
        Ref operands = Ref::steal(PyTuple_New(operation.count));
        if (!operands) throw PyErrAlreadySet{};
        for (std::uint32_t j = 0; j < operation.count; ++j)
            PyTuple_SET_ITEM(operands.get(), j, new_text(record.operand(i, j)));
        if (PyObject* earlier = PyDict_GetItemWithError(dict.get(), key.get())) {
            operands = Ref::steal(PySequence_Concat(earlier, operands.get()));
            if (!operands) throw PyErrAlreadySet{};
        } else if (PyErr_Occurred()) {
            throw PyErrAlreadySet{};
        }
        if (PyDict_SetItem(dict.get(), key.get(), operands.get()) < 0) throw PyErrAlreadySet{};
    }
    return dict.release();
}

PyTypeObject* record_type();

PyObject* new_record(const epd::EpdRecord& record) {
    Ref line = Ref::steal(PyLong_FromUnsignedLongLong(record.line));
    if (!line) throw PyErrAlreadySet{};
    Ref text = Ref::steal(new_text(record.text));
    Ref fen = record.has_board ? Ref::steal(new_text(record.board.full_fen()))
                               : Ref::incref(Py_None);
    Ref operations = Ref::steal(new_operations(record));
    Ref bm = Ref::steal(new_moves(record.best_moves));
    Ref am = Ref::steal(new_moves(record.avoid_moves));
    Ref pv = Ref::steal(new_moves(record.pv));
    const epd::EpdOperation* id_operation = record.find("id");
    Ref id = id_operation && id_operation->count > 0
                 ? Ref::steal(new_text(record.view(record.operands[id_operation->first])))
                 : Ref::incref(Py_None);
    Ref error = record.error.empty() ? Ref::incref(Py_None) : Ref::steal(new_text(record.error));
    PyTypeObject* type = record_type();
    if (!type) throw PyErrAlreadySet{};
    PyObject* object = PyType_GenericAlloc(type, 0);
    if (!object) throw PyErrAlreadySet{};
    auto* item = reinterpret_cast<PyEpdRecord*>(object);
    item->line = line.release();
    item->text = text.release();
    item->fen = fen.release();
    item->operations = operations.release();
    item->bm = bm.release();
    item->am = am.release();
    item->pv = pv.release();
    item->id = id.release();
    item->error = error.release();
    return object;
}

// A new Board at the record's position, counters included.
PyObject* record_board(PyObject* self, PyObject*) {
    return call([&] {
        auto* record = reinterpret_cast<PyEpdRecord*>(self);
        if (record->fen == Py_None) {
            const std::string_view error = utf8_arg(record->error, "error");
            throw InvalidInput("EPD line " + std::to_string(PyLong_AsUnsignedLongLong(record->line)) +
                               " has no position: " + std::string(error));
        }
        Board board = Board::from_full_fen(utf8_arg(record->fen, "fen"));
        PyTypeObject* type = board_type();
        if (!type) throw PyErrAlreadySet{};
        return new_wrapper(type, std::move(board));
    });
}

PyObject* record_repr(PyObject* self) {
    auto* record = reinterpret_cast<PyEpdRecord*>(self);
    return PyUnicode_FromFormat("<EpdRecord line %S: %R, error %R>", record->line, record->fen,
                                record->error);
}

void record_dealloc(PyObject* self) {
    auto* record = reinterpret_cast<PyEpdRecord*>(self);
    Py_XDECREF(record->line);
    Py_XDECREF(record->text);
    Py_XDECREF(record->fen);
    Py_XDECREF(record->operations);
    Py_XDECREF(record->bm);
    Py_XDECREF(record->am);
    Py_XDECREF(record->pv);
    Py_XDECREF(record->id);
    Py_XDECREF(record->error);
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

PyMemberDef record_members[] = {
    {"line", T_OBJECT_EX, offsetof(PyEpdRecord, line), READONLY,
     "The line's number in the source, from 1."},
    {"text", T_OBJECT_EX, offsetof(PyEpdRecord, text), READONLY,
     "The line as read, without its line end."},
    {"fen", T_OBJECT_EX, offsetof(PyEpdRecord, fen), READONLY,
     "The position as six-field FEN (counters from hmvc and fmvn), or None if it does not read."},
    {"operations", T_OBJECT_EX, offsetof(PyEpdRecord, operations), READONLY,
     "The operations, a dict in line order: opcode -> tuple of operands as text."},
    {"bm", T_OBJECT_EX, offsetof(PyEpdRecord, bm), READONLY,
     "The best moves (bm) as move texts."},
    {"am", T_OBJECT_EX, offsetof(PyEpdRecord, am), READONLY,
     "The moves to avoid (am) as move texts."},
    {"pv", T_OBJECT_EX, offsetof(PyEpdRecord, pv), READONLY,
     "The line of play (pv) as move texts, up to its first fault; a null move is \"0000\"."},
    {"id", T_OBJECT_EX, offsetof(PyEpdRecord, id), READONLY,
     "The first operand of id, or None."},
    {"error", T_OBJECT_EX, offsetof(PyEpdRecord, error), READONLY,
     "None, or the line's first fault."},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef record_methods[] = {
    {"board", record_board, METH_NOARGS, "board($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

const PyType_Slot record_more_slots[] = {
    {Py_tp_repr, reinterpret_cast<void*>(record_repr)},
    {Py_tp_members, record_members},
};

// No constructor: records are made only by the reader, complete.
const ClassDescription record_class{
    .name = "builtins.EpdRecord",
    .doc = "A line read by MoveGenerator.read_epd().",
    .methods = record_methods,
    .more_slots = record_more_slots,
};

PyTypeObject* record_type() {
    return class_type(record_type_object, record_class, sizeof(PyEpdRecord), record_dealloc);
}

// ---------------------------------------------------------------------------
// The iterator.

struct EpdSource {
    Ref generator;  // the MoveGenerator object whose tables resolve the moves
    ByteSource bytes;
    std::unique_ptr<epd::EpdReader> reader;
    epd::EpdRecord record;
    bool raise_faults = false;  // errors="raise"
    bool done = false;
    // Set once the source failed part-way: why every later next() raises.
    std::string broken;
};
using PyEpdReader = Wrapper<EpdSource>;

PyEpdReader* self_reader(PyObject* self) {
    return receiver<EpdSource>(self, reader_type_object, "EpdReader");
}

PyObject* next_record(EpdSource& source, const MoveGenerator& generator) {
    if (source.done) return nullptr;
    if (!source.broken.empty()) raise(PyExc_RuntimeError, source.broken);
    bool more = false;
    try {
        more = source.reader->next(generator, source.record);
    } catch (...) {
        source.broken = "read_epd(): the source failed during an earlier read; no more records";
        throw;
    }
    if (!more) {
        source.done = true;
        close_source(source.bytes);
        return nullptr;
    }
    // The line is read: after the ValueError the next call goes on with the next one.
    if (source.raise_faults && !source.record.error.empty())
        raise(PyExc_ValueError, "read_epd(): line " + std::to_string(source.record.line) + ": " +
                                    source.record.error);
    return new_record(source.record);
}

// The next record, or NULL (no exception) at the end. The reader and its
// generator stay borrowed while the source's readinto runs, so that a next()
// coming back from it fails with the borrow conflict rather than reading on.
PyObject* reader_next(PyObject* self) {
    return call([&] {
        return with_exclusive(self_reader(self), [](EpdSource& source) {
            auto* generator = reinterpret_cast<PyMoveGenerator*>(source.generator.get());
            return with_shared(generator,
                               [&](const MoveGenerator& g) { return next_record(source, g); });
        });
    });
}

const PyType_Slot reader_more_slots[] = {
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(reader_next)},
};

const ClassDescription reader_class{
    .name = "builtins.EpdReader",
    .doc = "The records of an EPD source, from MoveGenerator.read_epd().",
    .more_slots = reader_more_slots,
};

PyTypeObject* reader_type() { return class_type<EpdSource>(reader_type_object, reader_class); }

// A str is EPD text when it is empty, holds a line end, or starts (after
// blanks) with a word written like a FEN placement (piece letters, digits
// and seven "/") followed by a blank; any other str is a path.
bool is_epd_text(std::string_view text) {
    if (text.empty() || text.find_first_of("\n\r") != std::string_view::npos) return true;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    const std::size_t end = text.find_first_of(" \t", start);
    if (end == std::string_view::npos) return false;
    const std::string_view word = text.substr(start, end - start);
    int slashes = 0;
    for (const char c : word) {
        if (c == '/')
            ++slashes;
        else if (std::string_view("pnbrqkPNBRQK12345678").find(c) == std::string_view::npos)
            return false;
    }
    return slashes == 7;
}

// An operand given as str, or int (written in decimal); a bool is neither.
std::string operand_text(PyObject* item) {
    if (PyLong_Check(item) && !PyBool_Check(item)) {
        const Ref text = Ref::steal(PyObject_Str(item));
        if (!text) throw PyErrAlreadySet{};
        return std::string(utf8_arg(text.get(), "operations"));
    }
    if (!PyUnicode_Check(item))
        raise_argument_error("operations", "operands must be str or int, not '" +
                                               type_name(item) + "'");
    return std::string(utf8_arg(item, "operations"));
}

// The operations argument: a mapping of opcode to None (no operand), one
// operand, or an iterable of operands.
std::vector<epd::OperationText> operations_arg(PyObject* mapping) {
    std::vector<epd::OperationText> out;
    if (!mapping || mapping == Py_None) return out;
    if (!PyObject_HasAttrString(mapping, "items"))
        raise_argument_error("operations", "'" + type_name(mapping) +
                                               "' object is not a mapping of opcode to operands");
    const Ref items = Ref::steal(PyMapping_Items(mapping));
    if (!items) throw PyErrAlreadySet{};
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2)
            raise_argument_error("operations", "items() must give (opcode, operands) pairs");
        PyObject* key = PyTuple_GET_ITEM(pair, 0);
        PyObject* value = PyTuple_GET_ITEM(pair, 1);
        if (!PyUnicode_Check(key))
            raise_argument_error("operations",
                                 "opcodes must be str, not '" + type_name(key) + "'");
        epd::OperationText operation{std::string(utf8_arg(key, "operations")), {}};
        if (value == Py_None) {
        } else if (PyUnicode_Check(value) || PyLong_Check(value)) {
            operation.operands.push_back(operand_text(value));
        } else {
            const Ref sequence = Ref::steal(PySequence_Fast(
                value, "argument 'operations': operands must be str, int, None or an iterable"));
            if (!sequence) throw PyErrAlreadySet{};
            for (Py_ssize_t j = 0; j < PySequence_Fast_GET_SIZE(sequence.get()); ++j)
                operation.operands.push_back(
                    operand_text(PySequence_Fast_ITEMS(sequence.get())[j]));
        }
        out.push_back(std::move(operation));
    }
    return out;
}

constexpr const char* EPD_NAMES[] = {"board", "operations"};
constexpr Params EPD_PARAMS{"MoveGenerator", "epd", EPD_NAMES, 1};
constexpr const char* READ_EPD_NAMES[] = {"source", "errors"};
constexpr Params READ_EPD_PARAMS{"MoveGenerator", "read_epd", READ_EPD_NAMES, 1};

}  // namespace

PyObject* move_generator_epd(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(EPD_PARAMS, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        check_shared(generator);
        PyBoard* board = board_arg(argv[0]);
        check_exclusive(board);
        // Converted before anything is borrowed: reading a mapping can run Python code.
        const std::vector<epd::OperationText> operations = operations_arg(argv[1]);
        const std::string line = with_shared(generator, [&](const MoveGenerator& g) {
            return with_exclusive(board,
                                  [&](Board& b) { return epd::write_line(g, b, operations); });
        });
        return new_text(line);
    });
}

PyObject* move_generator_read_epd(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(READ_EPD_PARAMS, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        check_shared(generator);
        bool raise_faults = false;
        if (argv[1]) {
            const std::string_view mode = utf8_arg(argv[1], "errors");
            if (mode == "raise")
                raise_faults = true;
            else if (mode != "keep")
                raise(PyExc_ValueError, "read_epd(): errors must be \"keep\" or \"raise\", not \"" +
                                            std::string(mode) + "\"");
        }
        EpdSource source;
        source.generator = Ref::incref(self);
        source.raise_faults = raise_faults;
        open_source(source.bytes, argv[0], is_epd_text, "read_epd()",
                    "a path, a binary file object or EPD text");

        PyTypeObject* type = reader_type();
        if (!type) throw PyErrAlreadySet{};
        Ref object = Ref::steal(new_wrapper(type, std::move(source)));
        // The read function refers to the record inside the object, whose
        // address is now fixed.
        EpdSource& record = reinterpret_cast<PyEpdReader*>(object.get())->record;
        record.reader = std::make_unique<epd::EpdReader>(
            [&bytes = record.bytes](char* dst, std::size_t capacity) {
                return read_source(bytes, dst, capacity);
            });
        return object.release();
    });
}

}  // namespace vemla::py
