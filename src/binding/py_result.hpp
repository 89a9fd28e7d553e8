// The Python objects a call returns: ints, bools, str and lists. All throw
// PyErrAlreadySet when the object cannot be made.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>

#include "py_error.hpp"

namespace vemla::py {

inline PyObject* new_none() { Py_RETURN_NONE; }
inline PyObject* new_bool(bool value) { return Py_NewRef(value ? Py_True : Py_False); }
inline PyObject* new_int(long value) {
    PyObject* number = PyLong_FromLong(value);
    if (!number) throw PyErrAlreadySet{};
    return number;
}

inline PyObject* new_uint(std::uint64_t value) {
    PyObject* number = PyLong_FromUnsignedLongLong(value);
    if (!number) throw PyErrAlreadySet{};
    return number;
}

// A new str from ASCII text, written straight into the string's buffer.
inline PyObject* new_ascii(const char* text, std::size_t length) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
    if (!str) throw PyErrAlreadySet{};
    std::memcpy(PyUnicode_1BYTE_DATA(str), text, length);
    return str;
}
inline PyObject* new_ascii(std::string_view text) { return new_ascii(text.data(), text.size()); }

// Every list the module returns is made here: a list of one Python object per
// element of items, to_object(element) giving the reference its slot takes.
// The objects must exist before the list does: to_object only hands out
// (a reference to) one, never creates one, and cannot fail. A list filled while
// its items are still being created would be reachable half-built: creating
// an item can start a collection, and a finaliser can find the list through
// gc.get_objects() and read one of its empty slots. PyList_New may collect,
// but only before the list is tracked; from then on nothing allocates until
// every slot is filled. Items that have to be created go through ListItems.
template <typename Range, typename ToObject>
PyObject* new_list(const Range& items, ToObject&& to_object) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(std::size(items)));
    if (!list) throw PyErrAlreadySet{};
    Py_ssize_t i = 0;
    for (const auto& item : items) PyList_SET_ITEM(list, i++, to_object(item));
    return list;
}

// New objects made ready, one by one, before the list that will hold them.
class ListItems {
public:
    explicit ListItems(std::size_t capacity);
    ~ListItems();
    ListItems(const ListItems&) = delete;
    ListItems& operator=(const ListItems&) = delete;

    // Takes the new reference item; throws PyErrAlreadySet for NULL.
    void add(PyObject* item) {
        if (!item) throw PyErrAlreadySet{};
        items_[size_++] = item;
    }
    // A new list of the items added so far, which it takes over.
    PyObject* into_list();

private:
    static constexpr std::size_t INLINE = 256;
    PyObject* inline_[INLINE];
    std::unique_ptr<PyObject*[]> heap_;
    PyObject** items_;
    std::size_t size_ = 0;
};

}  // namespace vemla::py
