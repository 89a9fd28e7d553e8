// Acquiring and checking a buffer argument that a method writes into.
#include "py_buffer.hpp"

#include <bit>
#include <cstring>
#include <string>

namespace vemla::py {

namespace {

// "(12, 8, 8)", "(768,)", "()": a shape or strides as Python writes a tuple.
std::string tuple_text(const Py_ssize_t* values, int count) {
    std::string out = "(";
    if (!values) count = 0;
    for (int i = 0; i < count; ++i) {
        if (i) out += ", ";
        out += std::to_string(values[i]);
    }
    return out + (count == 1 ? ",)" : ")");
}

// One-byte item formats: bool, unsigned and signed char, char; a byte-order
// prefix changes nothing for single bytes.
bool one_byte_format(const char* format) {
    if (!format) return true;  // no format means unsigned bytes
    if (*format && std::strchr("@=<>!", *format)) ++format;
    return format[0] && std::strchr("?Bbc", format[0]) && !format[1];
}

// A float in the machine's own byte order: no prefix, a native one, or the
// explicit order that happens to be the machine's.
bool float32_format(const char* format) {
    if (!format) return false;
    const char* native = std::endian::native == std::endian::little ? "@=<" : "@=>!";
    if (*format && std::strchr(native, *format)) ++format;
    return format[0] == 'f' && !format[1];
}

std::string expected_items(std::size_t items, ItemKind kind) {
    return "expected a writable buffer of " + std::to_string(items) +
           (kind == ItemKind::BYTE ? " one-byte items" : " float32 items");
}

[[noreturn]] void value_error(const char* name, const std::string& message) {
    raise(PyExc_ValueError, "argument '" + std::string(name) + "': " + message);
}

// Takes a view of everything obj can describe, read-only included, so that
// each refusal can say what was given; a read-only one is refused here.
// expected() makes the first part of a refusal's message, only when needed.
template <typename Expected>
void get_writable(PyObject* obj, Py_buffer& view, const char* name, Expected&& expected) {
    if (!PyObject_CheckBuffer(obj))
        raise_argument_error(name, expected() + ", got '" + type_name(obj) + "' object");
    if (PyObject_GetBuffer(obj, &view, PyBUF_FULL_RO) < 0) throw PyErrAlreadySet{};
    if (view.readonly) {
        PyBuffer_Release(&view);
        raise_argument_error(name, expected() + ", got read-only '" + type_name(obj) + "' object");
    }
}

[[noreturn]] void wrong_format(const char* name, const std::string& expected,
                               const Py_buffer& view) {
    raise_argument_error(name, expected + ", got items of format '" +
                                   std::string(view.format ? view.format : "B") + "' (" +
                                   std::to_string(view.itemsize) +
                                   (view.itemsize == 1 ? " byte)" : " bytes)"));
}

void check_contiguous(const char* name, const Py_buffer& view) {
    if (!PyBuffer_IsContiguous(&view, 'C'))
        value_error(name, "expected a C-contiguous buffer, got strides " +
                              tuple_text(view.strides, view.ndim) + " for shape " +
                              tuple_text(view.shape, view.ndim));
}

}  // namespace

OutBuffer::OutBuffer(PyObject* obj, const char* name, const Records& records) {
    const auto expected = [&] {
        return "expected a writable buffer of at least " +
               std::to_string(records.count * records.size) + " one-byte items or " +
               std::to_string(records.count) + " " + records.what;
    };
    get_writable(obj, view_, name, expected);
    try {
        bool record_items = false;
        if (static_cast<std::size_t>(view_.itemsize) == records.size && view_.format)
            for (const char* const* format = records.formats; *format && !record_items; ++format)
                record_items = std::strcmp(view_.format, *format) == 0;
        if (!record_items && !(view_.itemsize == 1 && one_byte_format(view_.format)))
            wrong_format(name, expected(), view_);
        const std::size_t unit = record_items ? 1 : records.size;
        const auto count =
            static_cast<std::size_t>(view_.len) / static_cast<std::size_t>(view_.itemsize);
        if (count < records.count * unit)
            value_error(name, expected() + ", got " + std::to_string(count) +
                                  (count == 1 ? " item (shape " : " items (shape ") +
                                  tuple_text(view_.shape, view_.ndim) + ")");
        check_contiguous(name, view_);
    } catch (...) {
        PyBuffer_Release(&view_);
        throw;
    }
}

OutBuffer::OutBuffer(PyObject* obj, const char* name, std::size_t items, ItemKind kind) {
    // The messages are made only on a refusal: accepting costs no string.
    const auto expected = [&] { return expected_items(items, kind); };
    get_writable(obj, view_, name, expected);
    try {
        const std::size_t item_size = kind == ItemKind::BYTE ? 1 : sizeof(float);
        if (static_cast<std::size_t>(view_.itemsize) != item_size ||
            !(kind == ItemKind::BYTE ? one_byte_format(view_.format)
                                     : float32_format(view_.format)))
            wrong_format(name, expected(), view_);
        const auto count = static_cast<std::size_t>(view_.len) / item_size;
        if (count != items)
            value_error(name, expected() + ", got " + std::to_string(count) +
                                  (count == 1 ? " item (shape " : " items (shape ") +
                                  tuple_text(view_.shape, view_.ndim) + ")");
        check_contiguous(name, view_);
        // Float items are written as floats: their address must suit them.
        if (const auto offset = reinterpret_cast<std::uintptr_t>(view_.buf) % item_size)
            value_error(name, "expected a buffer aligned to " + std::to_string(item_size) +
                                  " bytes, got one " + std::to_string(offset) +
                                  (offset == 1 ? " byte" : " bytes") + " past such an address");
    } catch (...) {
        PyBuffer_Release(&view_);
        throw;
    }
}

}  // namespace vemla::py
