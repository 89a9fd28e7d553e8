// generator.read_pgn(source, keep=None): the core PGN reader behind a Python
// iterator of games. The source is opened here (decompressors are Python file
// objects), its bytes are read with readinto into a bytearray and copied into
// the reader's buffer, and the parse loop is native.
#include "py_pgn.hpp"

#include <structmember.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "messages.hpp"
#include "move_texts.hpp"
#include "notation/pgn_game.hpp"
#include "py_annotations.hpp"
#include "py_source.hpp"
#include "py_tree.hpp"

namespace vemla::py {

namespace {

// ---------------------------------------------------------------------------
// PgnGame: one game, its fields plain Python objects made once.

struct PyPgnGame {
    PyObject_HEAD PyObject* tags;  // dict, file order
    PyObject* moves;               // tuple of move texts
    PyObject* result;              // str
    PyObject* fen;                 // str or None
    PyObject* offset;              // int
    PyObject* error;               // str or None
    GameNotes notes;               // comments, NAGs, evals, clocks: read on first use
    bool chess960;                 // its Variant tag names Chess960
    GameTreeNotes tree;            // the tree of variations, when read with them
};

PyTypeObject* game_type_object = nullptr;
PyTypeObject* reader_type_object = nullptr;

// The text of the null move in a game's moves.
PyObject* null_move_text() {
    static PyObject* text = nullptr;  // kept until the process ends, like the move texts
    if (!text) text = PyUnicode_InternFromString("0000");
    if (!text) throw PyErrAlreadySet{};
    return Py_NewRef(text);
}

constexpr const char* BOARD_NAMES[] = {"ply"};
constexpr Params BOARD_PARAMS{"PgnGame", "board", BOARD_NAMES, 0};

// A ply from 0 to count. A bool is not a ply, and a number out of range is
// named as given, however large.
Py_ssize_t ply_arg(PyObject* arg, Py_ssize_t count) {
    if (PyBool_Check(arg) || !PyIndex_Check(arg))
        raise_argument_error("ply", messages::not_an_integer(type_name(arg)));
    const Ref value = Ref::steal(PyNumber_Index(arg));
    if (!value) throw PyErrAlreadySet{};
    int overflow = 0;
    const long long given = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (given == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
    if (overflow == 0 && given >= 0 && given <= count) return static_cast<Py_ssize_t>(given);
    const Ref text = Ref::steal(PyObject_Str(value.get()));
    if (!text) throw PyErrAlreadySet{};
    const std::string_view digits = utf8_arg(text.get(), "ply");
    raise(PyExc_IndexError, "ply " + std::string(digits) + " is out of range: the game has " +
                                std::to_string(count) + " moves");
}

}  // namespace

Board game_start_board(PyObject* self) {
    auto* game = reinterpret_cast<PyPgnGame*>(self);
    // A FEN tag that does not read is the game's error already: ValueError
    // with its reason, whatever kind of refusal it is.
    Board board;
    const std::string_view fen = game->fen == Py_None ? DEFAULT_FEN : utf8_arg(game->fen, "fen");
    if (const FenRejection rejection = Board::read_full_fen(fen, board, game->chess960);
        rejection != FenRejection::NONE) {
        const std::string_view reason = fen_rejection_message(rejection);
        throw InvalidInput(reason.starts_with(messages::INVALID_FEN)
                               ? std::string(reason)
                               : std::string(messages::INVALID_FEN) + std::string(reason));
    }
    return board;
}

namespace {

// The Board after the first ply moves of the game (all of them by default).
PyObject* game_board(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(BOARD_PARAMS, args, nargs, kwnames);
        auto* game = reinterpret_cast<PyPgnGame*>(self);
        const Py_ssize_t count = PyTuple_GET_SIZE(game->moves);
        const Py_ssize_t ply = argv[0] && argv[0] != Py_None ? ply_arg(argv[0], count) : count;
        Board board = game_start_board(self);
        for (Py_ssize_t i = 0; i < ply; ++i) {
            const std::string_view text = utf8_arg(PyTuple_GET_ITEM(game->moves, i), "moves");
            if (text == "0000")
                board.push_null();
            else
                board.push_move(ChessMove::from_str(text));
        }
        PyTypeObject* type = board_type();
        if (!type) throw PyErrAlreadySet{};
        return new_wrapper(type, std::move(board));
    });
}

PyObject* game_repr(PyObject* self) {
    auto* game = reinterpret_cast<PyPgnGame*>(self);
    return PyUnicode_FromFormat("<PgnGame at byte %S: %zd moves, result %R, error %R>",
                                game->offset, PyTuple_GET_SIZE(game->moves), game->result,
                                game->error);
}

void game_dealloc(PyObject* self) {
    auto* game = reinterpret_cast<PyPgnGame*>(self);
    Py_XDECREF(game->tags);
    Py_XDECREF(game->moves);
    Py_XDECREF(game->result);
    Py_XDECREF(game->fen);
    Py_XDECREF(game->offset);
    Py_XDECREF(game->error);
    release_notes(game->notes);
    release_tree(game->tree);
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

PyMemberDef game_members[] = {
    {"tags", T_OBJECT_EX, offsetof(PyPgnGame, tags), READONLY,
     "The tag pairs, a dict in file order."},
    {"moves", T_OBJECT_EX, offsetof(PyPgnGame, moves), READONLY,
     "The mainline moves as move texts, up to the first fault; a null move is \"0000\"."},
    {"result", T_OBJECT_EX, offsetof(PyPgnGame, result), READONLY,
     "The result token, else the Result tag, else \"*\"."},
    {"fen", T_OBJECT_EX, offsetof(PyPgnGame, fen), READONLY,
     "The FEN tag the game starts from, or None."},
    {"offset", T_OBJECT_EX, offsetof(PyPgnGame, offset), READONLY,
     "The byte offset of the game in the source."},
    {"error", T_OBJECT_EX, offsetof(PyPgnGame, error), READONLY,
     "None, or what stopped the game: the ply, the move and the position."},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef game_methods[] = {
    {"board", as_cfunction(game_board), METH_FASTCALL | METH_KEYWORDS,
     "board($self, ply=None)\n--\n\n"},
    {"eval_array", game_eval_array, METH_NOARGS,
     "eval_array($self)\n--\n\n"
     "evals as an array.array('f') of len(moves) float32, NaN where evals has None:\n"
     "numpy.frombuffer(game.eval_array(), dtype=numpy.float32) needs no Python loop."},
    {"mate_array", game_mate_array, METH_NOARGS,
     "mate_array($self)\n--\n\n"
     "mates as an array.array('i') of len(moves) int32, 0 where mates has None (and for a\n"
     "mate in 0, which only a mated position carries)."},
    {"clock_array", game_clock_array, METH_NOARGS,
     "clock_array($self)\n--\n\n"
     "clocks as an array.array('d') of len(moves) float64 seconds, NaN where clocks has None."},
    {nullptr, nullptr, 0, nullptr},
};

// The annotation attributes, then the tree's, in one table.
PyGetSetDef* game_getters() {
    static std::vector<PyGetSetDef> all = [] {
        std::vector<PyGetSetDef> table;
        for (const PyGetSetDef* def = note_getters; def->name; ++def) table.push_back(*def);
        for (const PyGetSetDef* def = tree_getters; def->name; ++def) table.push_back(*def);
        table.push_back(PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr});
        return table;
    }();
    return all.data();
}

PyType_Slot game_more_slots[] = {
    {Py_tp_repr, reinterpret_cast<void*>(game_repr)},
    {Py_tp_members, game_members},
    {Py_tp_getset, nullptr},  // game_getters()
};

// No constructor: games are made only by the reader, complete.
const ClassDescription game_class{
    .name = "builtins.PgnGame",
    .doc = "A game read by MoveGenerator.read_pgn().",
    .methods = game_methods,
    .more_slots = game_more_slots,
};

PyTypeObject* game_type() {
    game_more_slots[2].pfunc = game_getters();
    return class_type(game_type_object, game_class, sizeof(PyPgnGame), game_dealloc);
}

PyPgnGame* as_game(PyObject* object) {
    return game_type_object && Py_IS_TYPE(object, game_type_object)
               ? reinterpret_cast<PyPgnGame*>(object)
               : nullptr;
}

// ---------------------------------------------------------------------------
// Python objects for the parts of a game.

// A str from UTF-8 text; bytes that are not UTF-8 (files written in Latin-1)
// become U+FFFD rather than losing the game.
PyObject* new_text(std::string_view text) {
    bool ascii = true;
    for (const char c : text) ascii &= static_cast<unsigned char>(c) < 0x80;
    if (ascii) return new_ascii(text);
    PyObject* str =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!str) throw PyErrAlreadySet{};
    return str;
}

// Tag names repeat from game to game: each is made once and shared. The
// cache is bounded, so a file of ever new names cannot grow it without end.
// Games of one file mostly give their tags in the same order, so the entry
// after the last one found is tried first.
class NameCache {
public:
    PyObject* get(std::string_view name) {
        const std::size_t count = entries_.size();
        if (next_ < count && entries_[next_].name == name) return Py_NewRef(entries_[next_++].str);
        for (std::size_t i = 0; i < count; ++i)
            if (entries_[i].name == name) {
                next_ = i + 1;
                return Py_NewRef(entries_[i].str);
            }
        PyObject* str = new_text(name);
        if (count < MAX_ENTRIES) {
            PyUnicode_InternInPlace(&str);
            entries_.push_back(Entry{std::string(name), Py_NewRef(str)});
            next_ = count + 1;
        }
        return str;
    }

private:
    std::size_t next_ = 0;
    static constexpr std::size_t MAX_ENTRIES = 64;
    struct Entry {
        std::string name;
        PyObject* str;  // kept until the process ends, like the move texts
    };
    std::vector<Entry> entries_;
};
NameCache tag_names;
// The four results, and "?", the commonest tag value.
NameCache common_values;

PyObject* new_value(std::string_view value) {
    if ((value.size() == 1 && value[0] == '?') || pgn::is_result(value))
        return common_values.get(value);
    return new_text(value);
}

PyObject* new_tags(const pgn::PgnGame& game) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) throw PyErrAlreadySet{};
    for (std::size_t i = 0; i < game.tags.size(); ++i) {
        const Ref name = Ref::steal(tag_names.get(game.tag_name(i)));
        const Ref value = Ref::steal(new_value(game.tag_value(i)));
        if (PyDict_SetItem(dict.get(), name.get(), value.get()) < 0) throw PyErrAlreadySet{};
    }
    return dict.release();
}

// A tuple, so that board(ply) replays exactly the moves that were read. Like
// new_list: every text exists before the tuple, which is filled without
// allocating.
PyObject* new_moves(const std::vector<ChessMove>& moves) {
    const ChessMove* begin = moves.data();
    prepare_move_texts(begin, begin + moves.size());
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(moves.size()));
    if (!tuple) throw PyErrAlreadySet{};
    Py_ssize_t i = 0;
    for (const ChessMove move : moves)
        PyTuple_SET_ITEM(tuple, i++,
                         move.value == NULL_MOVE_CODE.value ? null_move_text()
                                                            : prepared_move_text(move));
    return tuple;
}

// The PgnGame object of a game read and played, with its tags dict, and the
// tree of its variations when they were read (moved into the game, with the
// generator object that read it).
PyObject* new_game(const pgn::PgnGame& game, const pgn::PlayedGame& played, Ref tags,
                   pgn::GameTree* tree, PyObject* generator) {
    Ref moves = Ref::steal(new_moves(played.moves));
    bool found = false;
    const std::string_view result_tag = game.find_tag("Result", found);
    Ref result = Ref::steal(new_value(!game.result.empty() ? std::string_view(game.result)
                                      : found              ? result_tag
                                                           : std::string_view("*")));
    Ref fen = played.has_fen ? Ref::steal(new_text(played.fen)) : Ref::incref(Py_None);
    Ref offset = Ref::steal(PyLong_FromUnsignedLongLong(game.offset));
    if (!offset) throw PyErrAlreadySet{};
    Ref error = played.error.empty() ? Ref::incref(Py_None) : Ref::steal(new_text(played.error));
    PyTypeObject* type = game_type();
    if (!type) throw PyErrAlreadySet{};
    PyObject* object = PyType_GenericAlloc(type, 0);
    if (!object) throw PyErrAlreadySet{};
    auto* item = reinterpret_cast<PyPgnGame*>(object);
    item->tags = tags.release();
    item->moves = moves.release();
    item->result = result.release();
    item->fen = fen.release();
    item->offset = offset.release();
    item->error = error.release();
    item->chess960 = played.chess960;
    Ref owned = Ref::steal(object);  // released by its deallocation if copying fails
    take_notes(item->notes, game, played.moves.size());
    if (tree) take_tree(item->tree, *tree, generator);
    return owned.release();
}

// ---------------------------------------------------------------------------
// The iterator.

struct PgnSource {
    Ref generator;           // the MoveGenerator object whose tables the reader uses
    Ref keep;                // callable or NULL
    ByteSource bytes;        // where the text comes from
    std::unique_ptr<pgn::GameReader> reader;
    pgn::PgnGame game;
    pgn::PlayedGame played;
    bool variations = false;  // each game's tree is built
    bool done = false;
    // Set once a call failed part-way (a read, the keep filter): why every
    // later next() raises rather than going on or ending as if complete.
    std::string broken;
};
using PyPgnReader = Wrapper<PgnSource>;

PyPgnReader* self_reader(PyObject* self) {
    return receiver<PgnSource>(self, reader_type_object, "PgnReader");
}

// Reads on to the next game the keep filter accepts; NULL (no exception) at the end.
//
// An exception on the way (from the source's readinto, from keep, or making
// the game's objects) reaches the caller, and the reader is then broken: the
// game it stopped is gone from the source, so every later call raises
// RuntimeError saying so, rather than going on at the next game or ending as
// if the source were complete.
PyObject* next_game(PgnSource& source) {
    if (source.done) return nullptr;
    if (!source.broken.empty()) raise(PyExc_RuntimeError, source.broken);
    pgn::GameReader& reader = *source.reader;
    pgn::PgnGame& game = source.game;
    pgn::PlayedGame& played = source.played;
    // Exceptions from the source leave the reader in the middle of a token.
    const auto guarded = [&](auto&& step) {
        try {
            return step();
        } catch (...) {
            source.broken = "read_pgn(): the source failed during an earlier read; no more games";
            throw;
        }
    };
    for (;;) {
        if (!guarded([&] { return reader.next_tags(game); })) {
            source.done = true;
            close_source(source.bytes);
            return nullptr;
        }
        const char* stage = "keep raised for";
        try {
            Ref tags = Ref::steal(new_tags(game));
            bool keep = true;
            if (source.keep) {
                const Ref answer = Ref::steal(PyObject_CallOneArg(source.keep.get(), tags.get()));
                if (!answer) throw PyErrAlreadySet{};
                const int truth = PyObject_IsTrue(answer.get());
                if (truth < 0) throw PyErrAlreadySet{};
                keep = truth != 0;
            }
            guarded([&] { reader.finish(game, played, keep); });
            if (!keep) continue;
            stage = "an error stopped";
            return new_game(game, played, std::move(tags),
                            source.variations ? &reader.tree() : nullptr,
                            source.generator.get());
        } catch (...) {
            if (source.broken.empty())
                source.broken = std::string("read_pgn(): ") + stage + " the game at byte " +
                                std::to_string(game.offset) + "; no more games";
            throw;
        }
    }
}

// The next game, or NULL (no exception) at the end. Unlike the other
// methods, the reader and its generator stay borrowed while Python code runs
// (the source's readinto, the keep filter, the objects of the game): the
// reader stands in the middle of its source until the game is complete, so a
// next() that comes back to it from that code fails with the borrow conflict
// rather than reading on.
PyObject* reader_next(PyObject* self) {
    return call([&] {
        return with_exclusive(self_reader(self), [](PgnSource& source) {
            auto* generator = reinterpret_cast<PyMoveGenerator*>(source.generator.get());
            return with_shared(generator, [&](const MoveGenerator&) { return next_game(source); });
        });
    });
}

const PyType_Slot reader_more_slots[] = {
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(reader_next)},
};

// No constructor: readers are made only by read_pgn().
const ClassDescription reader_class{
    .name = "builtins.PgnReader",
    .doc = "The games of a PGN source, from MoveGenerator.read_pgn().",
    .more_slots = reader_more_slots,
};

PyTypeObject* reader_type() { return class_type<PgnSource>(reader_type_object, reader_class); }

// ---------------------------------------------------------------------------
// Opening the source.

// A str is PGN text when it is empty, holds a line feed, or starts (after
// blanks and a byte-order mark) with a tag pair; any other str is a path.
bool is_pgn_text(std::string_view text) {
    if (text.empty() || text.find('\n') != std::string_view::npos) return true;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const std::size_t first = text.find_first_not_of(" \t\r");
    return first != std::string_view::npos && text[first] == '[';
}

}  // namespace

GameNotes& notes_of(PyObject* game) { return reinterpret_cast<PyPgnGame*>(game)->notes; }
GameTreeNotes& tree_of(PyObject* game) { return reinterpret_cast<PyPgnGame*>(game)->tree; }

bool pgn_game_parts(PyObject* object, PgnGameParts& parts) {
    PyPgnGame* game = as_game(object);
    if (!game) return false;
    parts = PgnGameParts{game->tags, game->moves, game->fen, game->result, &game->notes,
                         &game->tree};
    return true;
}

constexpr const char* READ_PGN_NAMES[] = {"source", "keep", "variations"};
constexpr Params READ_PGN_PARAMS{"MoveGenerator", "read_pgn", READ_PGN_NAMES, 1};

PyObject* move_generator_read_pgn(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(READ_PGN_PARAMS, args, nargs, kwnames);
        PyMoveGenerator* generator = self_generator(self);
        check_shared(generator);
        PyObject* keep = argv[1] && argv[1] != Py_None ? argv[1] : nullptr;
        if (keep && !PyCallable_Check(keep))
            raise_argument_error("keep", "'" + type_name(keep) + "' object is not callable");
        bool variations = false;
        if (argv[2]) {
            const int truth = PyObject_IsTrue(argv[2]);
            if (truth < 0) throw PyErrAlreadySet{};
            variations = truth != 0;
        }

        PgnSource source;
        source.generator = Ref::incref(self);
        source.keep = Ref::incref(keep);
        source.variations = variations;
        open_source(source.bytes, argv[0], is_pgn_text, "read_pgn()",
                    "a path, a binary file object or PGN text");

        PyTypeObject* type = reader_type();
        if (!type) throw PyErrAlreadySet{};
        Ref object = Ref::steal(new_wrapper(type, std::move(source)));
        // The read function refers to the record inside the object, whose
        // address is now fixed.
        PgnSource& record = reinterpret_cast<PyPgnReader*>(object.get())->record;
        pgn::ReadFn read = [&record](char* dst, std::size_t capacity) {
            return read_source(record.bytes, dst, capacity);
        };
        record.reader = std::make_unique<pgn::GameReader>(generator->record, std::move(read));
        if (record.variations) record.reader->read_variations(true);
        return object.release();
    });
}

}  // namespace vemla::py
