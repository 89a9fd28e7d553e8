// A buffer argument that a method writes into: held for the call through the
// buffer protocol, checked before anything is written.
#pragma once

#include "py_error.hpp"

#include <cstdint>

namespace vemla::py {

// What the items of a buffer argument must be.
enum class ItemKind {
    BYTE,     // format '?', 'B', 'b' or 'c'
    FLOAT32,  // format 'f' in the machine's byte order, aligned to 4 bytes
};

// A writable, C-contiguous buffer of exactly `items` items of one kind: for
// BYTE a bytearray or a numpy bool_/uint8/int8 array of any shape with that
// many items, for FLOAT32 a numpy float32 array or array.array('f'). Anything
// else raises TypeError (no buffer, read-only, items of another kind) or
// ValueError (another number of items, not C-contiguous, misaligned), saying
// what was expected and what was given; the buffer is then left untouched.
// Released when the holder goes.
class OutBuffer {
public:
    OutBuffer(PyObject* obj, const char* name, std::size_t items, ItemKind kind = ItemKind::BYTE);

    // Fixed-size records of raw bytes written into a buffer that may be
    // larger than needed.
    struct Records {
        std::size_t count;  // records to be written
        std::size_t size;   // bytes per record
        const char* what;   // their name in messages, plural ("position records")
        // The struct formats under which an exporter may describe one record
        // (numpy's structured dtype); the list ends with nullptr.
        const char* const* formats;
    };
    // A writable, C-contiguous buffer with room for at least records.count
    // records: one-byte items (at least count * size of them), or items of
    // exactly one record in one of the record's formats (at least count of
    // them). Refusals as above; only the first count * size bytes are written.
    OutBuffer(PyObject* obj, const char* name, const Records& records);
    ~OutBuffer() { PyBuffer_Release(&view_); }
    OutBuffer(const OutBuffer&) = delete;
    OutBuffer& operator=(const OutBuffer&) = delete;

    std::uint8_t* data() const { return static_cast<std::uint8_t*>(view_.buf); }
    float* floats() const { return static_cast<float*>(view_.buf); }

private:
    Py_buffer view_;
};

}  // namespace vemla::py
