// Staging the items of a result list.
#include "py_result.hpp"

#include <span>

namespace vemla::py {

ListItems::ListItems(std::size_t capacity) : items_(inline_) {
    if (capacity > INLINE) {
        heap_.reset(new PyObject*[capacity]);
        items_ = heap_.get();
    }
}

ListItems::~ListItems() {
    for (std::size_t i = 0; i < size_; ++i) Py_DECREF(items_[i]);
}

PyObject* ListItems::into_list() {
    PyObject* list = new_list(std::span(items_, size_), [](PyObject* item) { return item; });
    size_ = 0;
    return list;
}

}  // namespace vemla::py
