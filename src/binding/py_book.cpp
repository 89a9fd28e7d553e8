// The Python class PolyglotBook: an opening book read once from its file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

#include "move_texts.hpp"
#include "polyglot/book.hpp"
#include "py_types.hpp"

namespace vemla::py {

namespace {

PyTypeObject* book_type_object = nullptr;

constexpr const char* NEW_NAMES[] = {"path"};
constexpr const char* MOVES_NAMES[] = {"board"};
constexpr Params NEW_PARAMS{"PolyglotBook", "__new__", NEW_NAMES, 1};
constexpr Params MOVES_PARAMS{"PolyglotBook", "moves", MOVES_NAMES, 1};

using PyBook = Wrapper<PolyglotBook>;

// Far beyond any published book (those run to a few hundred MiB).
constexpr std::size_t MAX_BOOK_BYTES = std::size_t{1} << 30;
constexpr const char* BOOK_TOO_LARGE = "Invalid book: larger than 1 GiB";
constexpr const char* BOOK_NOT_A_FILE =
    "Invalid book: not a regular file (a pipe, device or socket cannot hold a book)";

struct FileCloser {
    int fd;
    ~FileCloser() { ::close(fd); }
};

// The whole file at path (str, bytes or os.PathLike). A file that cannot be
// opened or read raises the OSError the system call reported. Only a regular
// file is read, and only up to its size at the start: opening does not wait
// for a FIFO's writer, and a device or a file that keeps growing cannot make
// the read endless.
std::vector<unsigned char> read_file(PyObject* path_arg) {
    PyObject* converted = nullptr;
    if (!PyUnicode_FSConverter(path_arg, &converted)) throw PyErrAlreadySet{};
    const Ref path = Ref::steal(converted);
    const auto fail = [&](int error) {
        errno = error;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path_arg);
        throw PyErrAlreadySet{};
    };
    const int fd = ::open(PyBytes_AS_STRING(path.get()), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fail(errno);
    const FileCloser closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) fail(errno);
    if (S_ISDIR(info.st_mode)) fail(EISDIR);
    if (!S_ISREG(info.st_mode)) throw InvalidInput(BOOK_NOT_A_FILE);
    if (static_cast<std::uintmax_t>(info.st_size) > MAX_BOOK_BYTES)
        throw InvalidInput(BOOK_TOO_LARGE);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            if (PyErr_CheckSignals() < 0) throw PyErrAlreadySet{};
            continue;
        }
        if (n < 0) fail(errno);
        if (n == 0) break;  // shrunk while being read: what is there is the book
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

PyObject* book_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call([&] {
        const Args argv = parse_tuple(NEW_PARAMS, args, kwargs);
        const std::vector<unsigned char> bytes = read_file(argv[0]);
        return new_wrapper(type, PolyglotBook::from_bytes(bytes));
    });
}

struct BookMove {
    ChessMove move;
    std::uint16_t weight;
};

PyObject* book_moves(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call([&] {
        const Args argv = parse_fastcall(MOVES_PARAMS, args, nargs, kwnames);
        PyBook* book_object = receiver<PolyglotBook>(self, book_type_object, "PolyglotBook");
        PyBoard* board_object = board_arg(argv[0]);
        std::vector<BookMove> found;
        with_shared(book_object, [&](const PolyglotBook& book) {
            with_shared(board_object, [&](const Board& board) {
                for (const BookEntry& entry : book.find(board.zobrist()))
                    found.push_back({book_move(board, entry.move), entry.weight});
            });
        });
        std::vector<ChessMove> moves;
        for (const BookMove& m : found) moves.push_back(m.move);
        prepare_move_texts(moves.data(), moves.data() + moves.size());
        ListItems items(found.size());
        for (const BookMove& m : found) {
            const Ref text = Ref::steal(prepared_move_text(m.move));
            const Ref weight = Ref::steal(PyLong_FromLong(m.weight));
            if (!weight) throw PyErrAlreadySet{};
            items.add(PyTuple_Pack(2, text.get(), weight.get()));
        }
        return items.into_list();
    });
}

PyMethodDef book_methods[] = {
    {"moves", as_cfunction(book_moves), METH_FASTCALL | METH_KEYWORDS,
     "moves($self, board)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

const ClassDescription book_class{
    .name = "builtins.PolyglotBook",
    .doc = "PolyglotBook(path)\n--\n\n",
    .construct = book_new,
    .methods = book_methods,
};

}  // namespace

PyTypeObject* book_type() { return class_type<PolyglotBook>(book_type_object, book_class); }

}  // namespace vemla::py
