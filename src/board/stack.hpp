// A growable array for the board's history and undo stacks. Unlike
// std::vector, its growth path is out of line, so push and pop compile to a
// few instructions in make/unmake. Capacity is kept when entries are popped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

namespace vemla {

template <typename T>
class Stack {
public:
    Stack() = default;
    Stack(const Stack& other) : data_(nullptr), size_(other.size_), capacity_(other.size_) {
        if (size_) {
            data_ = std::make_unique_for_overwrite<T[]>(size_);
            std::copy_n(other.data_.get(), size_, data_.get());
        }
    }
    Stack& operator=(const Stack& other) {
        if (this != &other) Stack(other).swap(*this);
        return *this;
    }
    Stack(Stack&& other) noexcept { swap(other); }
    Stack& operator=(Stack&& other) noexcept {
        Stack(std::move(other)).swap(*this);
        return *this;
    }
    void swap(Stack& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

    void push_back(const T& value) {
        if (!try_push(value)) throw std::bad_alloc();
    }
    // Returns false, changing nothing, when the stack is full and cannot grow.
    bool try_push(const T& value) {
        if (size_ == capacity_) [[unlikely]] {
            if (!grow()) return false;
        }
        data_[size_++] = value;
        return true;
    }
    void pop_back() { --size_; }
    T& back() { return data_[size_ - 1]; }
    const T& back() const { return data_[size_ - 1]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    const T* begin() const { return data_.get(); }
    const T* end() const { return data_.get() + size_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    // Drops the entries and gives the storage back.
    void release() { Stack().swap(*this); }

    friend bool operator==(const Stack& a, const Stack& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    [[gnu::noinline]] bool grow() {
        const std::size_t capacity = std::max<std::size_t>(16, 2 * capacity_);
        std::unique_ptr<T[]> data(new (std::nothrow) T[capacity]);
        if (!data) return false;
        std::copy_n(data_.get(), size_, data.get());
        data_ = std::move(data);
        capacity_ = capacity;
        return true;
    }

    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace vemla
