// The one C++ signal for "a Python exception is set": code that sets one (or
// calls an API function that did) throws this, and call() returns NULL.
#pragma once

namespace vemla::py {

struct PyErrAlreadySet {};

}  // namespace vemla::py
