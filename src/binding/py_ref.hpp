// Owning reference to a Python object: released on every path, handed on
// with release().
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace vemla::py {

class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* o) { return Ref(o); }
    static Ref incref(PyObject* o) {
        Py_XINCREF(o);
        return Ref(o);
    }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

private:
    explicit Ref(PyObject* o) : p_(o) {}
    PyObject* p_ = nullptr;
};

}  // namespace vemla::py
