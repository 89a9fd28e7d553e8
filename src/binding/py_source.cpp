#include "py_source.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include <unistd.h>

#include "py_error.hpp"

namespace vemla::py {

namespace {

PyObject* interned(PyObject*& slot, const char* text) {
    if (!slot) slot = PyUnicode_InternFromString(text);  // kept until the process ends
    if (!slot) throw PyErrAlreadySet{};
    return slot;
}
PyObject* readinto_name = nullptr;
PyObject* release_name = nullptr;

bool ends_with_ignoring_case(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    text.remove_prefix(text.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

// module.open(path, "rb"), or io.open(path, "rb", 0) when unbuffered.
PyObject* open_with(const char* module_name, PyObject* path, bool unbuffered = false) {
    const Ref module = Ref::steal(PyImport_ImportModule(module_name));
    if (!module) throw PyErrAlreadySet{};
    PyObject* file = unbuffered
                         ? PyObject_CallMethod(module.get(), "open", "Osi", path, "rb", 0)
                         : PyObject_CallMethod(module.get(), "open", "Os", path, "rb");
    if (!file) throw PyErrAlreadySet{};
    return file;
}

// Opens a path (str or bytes, from os.fspath) by its suffix: .gz, .bz2 and .xz
// with the standard library, .zst with zstandard where it can be imported,
// anything else as a plain binary file (plain set).
PyObject* open_path(PyObject* path, const char* function, bool& plain) {
    std::string_view name;
    if (PyBytes_Check(path)) {
        name = {PyBytes_AS_STRING(path), static_cast<std::size_t>(PyBytes_GET_SIZE(path))};
    } else {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(path, &size);
        if (!utf8) throw PyErrAlreadySet{};
        name = {utf8, static_cast<std::size_t>(size)};
    }
    if (ends_with_ignoring_case(name, ".gz")) return open_with("gzip", path);
    if (ends_with_ignoring_case(name, ".bz2")) return open_with("bz2", path);
    if (ends_with_ignoring_case(name, ".xz")) return open_with("lzma", path);
    if (ends_with_ignoring_case(name, ".zst")) {
        Ref module = Ref::steal(PyImport_ImportModule("zstandard"));
        if (!module) {
            if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw PyErrAlreadySet{};
            PyObject *type, *value, *traceback;
            PyErr_Fetch(&type, &value, &traceback);
            PyErr_NormalizeException(&type, &value, &traceback);
            Ref cause = Ref::steal(value);
            Py_XDECREF(type);
            Py_XDECREF(traceback);
            const std::string message = std::string(function) +
                                        ": reading a .zst file needs the zstandard module, which "
                                        "cannot be imported";
            PyErr_SetString(PyExc_ImportError, message.c_str());
            PyObject *new_type, *new_value, *new_traceback;
            PyErr_Fetch(&new_type, &new_value, &new_traceback);
            PyErr_NormalizeException(&new_type, &new_value, &new_traceback);
            if (cause) PyException_SetCause(new_value, cause.release());
            PyErr_Restore(new_type, new_value, new_traceback);
            throw PyErrAlreadySet{};
        }
        return open_with("zstandard", path);
    }
    // Unbuffered: read_source reads its descriptor straight into the reader.
    plain = true;
    return open_with("io", path, true);
}

// The descriptor of a plain file opened by open_path (an io.FileIO).
int descriptor_of(PyObject* file) {
    const Ref number = Ref::steal(PyObject_CallMethod(file, "fileno", nullptr));
    if (!number) throw PyErrAlreadySet{};
    const long fd = PyLong_AsLong(number.get());
    if (fd == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
    return static_cast<int>(fd);
}

// read(2) of a file opened here, into the reader's own memory: no Python
// object sees that memory, and the bytes are not copied twice. The lock is
// let go while the read waits (a FIFO, a slow disk), and an interrupted read
// runs the signal handlers, whose exception (KeyboardInterrupt) stops it.
std::size_t read_descriptor(int fd, char* dst, std::size_t capacity) {
    for (;;) {
        PyThreadState* const thread = PyEval_SaveThread();
        const ssize_t n = ::read(fd, dst, capacity);
        const int error = errno;
        PyEval_RestoreThread(thread);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (error != EINTR) {
            errno = error;
            PyErr_SetFromErrno(PyExc_OSError);
            throw PyErrAlreadySet{};
        }
        if (PyErr_CheckSignals() < 0) throw PyErrAlreadySet{};
    }
}

// The bytearray of capacity bytes for the next readinto. It is Python's own
// memory, so whatever views of it the source makes and keeps stay valid for
// as long as they live. One that anything besides the source still holds is
// left to its holders and a new one made.
PyObject* read_buffer(ByteSource& source, std::size_t capacity) {
    const auto size = static_cast<Py_ssize_t>(capacity);
    if (PyObject* buffer = source.buffer.get();
        buffer && Py_REFCNT(buffer) == 1 &&
        reinterpret_cast<PyByteArrayObject*>(buffer)->ob_exports == 0) {
        if (PyByteArray_GET_SIZE(buffer) == size) return buffer;
        if (PyByteArray_Resize(buffer, size) < 0) throw PyErrAlreadySet{};
        return buffer;
    }
    source.buffer = Ref::steal(PyByteArray_FromStringAndSize(nullptr, size));
    if (!source.buffer) throw PyErrAlreadySet{};
    return source.buffer.get();
}

// Releases the view handed to readinto; one the source exported on cannot
// be, and stays valid over its bytearray.
void release_view(PyObject* view) {
    const Ref released =
        Ref::steal(PyObject_CallMethodNoArgs(view, interned(release_name, "release")));
    if (!released) {
        if (!PyErr_ExceptionMatches(PyExc_BufferError)) throw PyErrAlreadySet{};
        PyErr_Clear();
    }
}

// file.readinto(memoryview of a bytearray), then the bytes it reports copied into dst.
std::size_t read_into(ByteSource& source, char* dst, std::size_t capacity) {
    PyObject* buffer = read_buffer(source, capacity);
    const Ref keep_buffer = Ref::incref(buffer);
    const Ref view = Ref::steal(PyMemoryView_FromObject(buffer));
    if (!view) throw PyErrAlreadySet{};
    const Ref count = Ref::steal(PyObject_CallMethodOneArg(
        source.file.get(), interned(readinto_name, "readinto"), view.get()));
    if (!count) {
        // The view is released all the same; the source's error is the one raised.
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        Py_XDECREF(PyObject_CallMethodNoArgs(view.get(), interned(release_name, "release")));
        PyErr_Clear();
        PyErr_Restore(type, value, traceback);
        throw PyErrAlreadySet{};
    }
    release_view(view.get());
    if (count.get() == Py_None)
        raise(PyExc_ValueError, std::string(source.function) +
                                    ": the source's readinto() returned None (a non-blocking "
                                    "stream with no data)");
    const Py_ssize_t n = PyLong_AsSsize_t(count.get());
    if (n == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
    if (n < 0 || static_cast<std::size_t>(n) > capacity)
        raise(PyExc_ValueError, std::string(source.function) +
                                    ": the source's readinto() returned " + std::to_string(n) +
                                    " for a buffer of " + std::to_string(capacity) + " bytes");
    // The view kept the bytearray's size fixed while readinto ran.
    std::memcpy(dst, PyByteArray_AS_STRING(buffer), static_cast<std::size_t>(n));
    return static_cast<std::size_t>(n);
}

}  // namespace

void open_source(ByteSource& source, PyObject* arg, bool (*is_text)(std::string_view),
                 const char* function, const char* expected) {
    source.function = function;
    if (PyUnicode_Check(arg)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(arg, &size);
        if (!utf8) throw PyErrAlreadySet{};
        const std::string_view text(utf8, static_cast<std::size_t>(size));
        if (is_text(text)) {
            source.text = Ref::incref(arg);
            source.data = text;
            return;
        }
    }
    if (!PyUnicode_Check(arg) && PyObject_HasAttrString(arg, "readinto")) {
        source.file = Ref::incref(arg);
        return;
    }
    Ref path = Ref::steal(PyOS_FSPath(arg));
    if (!path) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PyErrAlreadySet{};
        PyErr_Clear();
        raise_argument_error("source", "'" + type_name(arg) + "' object is not " + expected);
    }
    bool plain = false;
    source.file = Ref::steal(open_path(path.get(), function, plain));
    source.owns_file = true;
    if (plain) source.fd = descriptor_of(source.file.get());
}

std::size_t read_source(ByteSource& source, char* dst, std::size_t capacity) {
    if (source.fd >= 0) return read_descriptor(source.fd, dst, capacity);
    if (source.file) return read_into(source, dst, capacity);
    const std::size_t n = std::min(capacity, source.data.size() - source.at);
    std::memcpy(dst, source.data.data() + source.at, n);
    source.at += n;
    return n;
}

void close_source(ByteSource& source) {
    if (!source.owns_file) return;
    source.owns_file = false;
    source.fd = -1;
    const Ref file = std::move(source.file);
    const Ref closed = Ref::steal(PyObject_CallMethod(file.get(), "close", nullptr));
    if (!closed) throw PyErrAlreadySet{};
}

}  // namespace vemla::py
