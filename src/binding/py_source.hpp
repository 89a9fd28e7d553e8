// A byte source for the text readers: a path (opened here, decompressed by
// its suffix), a binary file object read with readinto, or a str of text.
// Bytes from Python reach the native reader only as copies: no native memory
// is ever handed to Python code.
#pragma once

#include <cstddef>
#include <string_view>

#include "py_ref.hpp"

namespace vemla::py {

struct ByteSource {
    Ref file;                // a binary file object read with readinto, or NULL
    bool owns_file = false;  // opened here: closed by close_source
    int fd = -1;             // a plain file opened here: its descriptor, read directly
    Ref text;                // a str source, kept alive while its UTF-8 is read
    std::string_view data;
    std::size_t at = 0;
    Ref buffer;  // the bytearray that readinto fills
    const char* function = "";  // "read_epd()": the prefix of the messages
};

// Sets source from the argument: a str for which is_text is true is the
// text itself; any other str, bytes or os.PathLike is a path; an object with
// readinto is a file. TypeError names `expected` for anything else.
void open_source(ByteSource& source, PyObject* arg, bool (*is_text)(std::string_view),
                 const char* function, const char* expected);

// Up to capacity bytes of the source into dst; 0 at its end.
std::size_t read_source(ByteSource& source, char* dst, std::size_t capacity);

// Closes a file that open_source opened; nothing otherwise.
void close_source(ByteSource& source);

}  // namespace vemla::py
