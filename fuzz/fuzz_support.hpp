// Helpers shared by the fuzz targets: a hard failure that libFuzzer records
// as a crash, a board description for its message, and a reference UTF-8
// reader used to predict what the text parsers must do.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "board/mod.hpp"

namespace vemla::fuzz {

inline std::string describe(const Board& board) {
    std::string out = board.fen();
    char buffer[64];
    for (std::size_t i = 0; i < board.bitboards.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%016llx", i ? " " : "\n  words ",
                      static_cast<unsigned long long>(board.bitboards[i]));
        out += buffer;
    }
    out += "\n  undo " + std::to_string(board.undo_stack.size()) + ", history";
    for (const auto& h : board.history) out += " " + std::to_string(h.size());
    return out;
}

// A broken invariant: print what was expected and stop the run, so libFuzzer
// saves the input as a crash.
[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "\n*** invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// The message is an expression evaluated only when the check fails.
#define CHECK(condition, message)         \
    do {                                  \
        if (!(condition)) [[unlikely]]    \
            ::vemla::fuzz::fail(message); \
    } while (false)

inline void check_same(const Board& before, const Board& after, const char* what) {
    if (!(before == after))
        fail(std::string(what) + "\n before: " + describe(before) +
             "\n after:  " + describe(after));
}

// Printable form of fuzzer bytes for failure messages.
inline std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            out += buffer;
        }
    }
    return out + "\"";
}

// Reference decoder written from the Unicode well-formedness table: at each
// position a well-formed sequence gives its scalar value, anything else gives
// one U+FFFD for one byte. Each character keeps its byte offset.
struct Char {
    char32_t value;
    std::size_t offset;
};

// Decodes into out, cleared first; a buffer reused across inputs keeps the
// search free of allocations that only the harness makes.
inline void decode_into(std::string_view text, std::vector<Char>& out) {
    out.clear();
    const auto at = [&](std::size_t i) -> unsigned {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0x100u;
    };
    const auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned b0 = at(i), b1 = at(i + 1), b2 = at(i + 2), b3 = at(i + 3);
        std::size_t length = 0;
        if (b0 < 0x80) {
            length = 1;
        } else if (in(b0, 0xC2, 0xDF) && in(b1, 0x80, 0xBF)) {
            length = 2;
        } else if (((b0 == 0xE0 && in(b1, 0xA0, 0xBF)) ||
                    (in(b0, 0xE1, 0xEC) && in(b1, 0x80, 0xBF)) ||
                    (b0 == 0xED && in(b1, 0x80, 0x9F)) ||
                    (in(b0, 0xEE, 0xEF) && in(b1, 0x80, 0xBF))) &&
                   in(b2, 0x80, 0xBF)) {
            length = 3;
        } else if (((b0 == 0xF0 && in(b1, 0x90, 0xBF)) ||
                    (in(b0, 0xF1, 0xF3) && in(b1, 0x80, 0xBF)) ||
                    (b0 == 0xF4 && in(b1, 0x80, 0x8F))) &&
                   in(b2, 0x80, 0xBF) && in(b3, 0x80, 0xBF)) {
            length = 4;
        }
        if (length == 0) {
            out.push_back({0xFFFD, i});
            ++i;
            continue;
        }
        char32_t value = length == 1   ? b0
                         : length == 2 ? (b0 & 0x1Fu)
                         : length == 3 ? (b0 & 0x0Fu)
                                       : (b0 & 0x07u);
        for (std::size_t k = 1; k < length; ++k) value = (value << 6) | (at(i + k) & 0x3Fu);
        out.push_back({value, i});
        i += length;
    }
}

inline std::vector<Char> decode(std::string_view text) {
    std::vector<Char> out;
    decode_into(text, out);
    return out;
}

// The characters with the Unicode White_Space property, listed one by one.
inline bool is_space(char32_t c) {
    static constexpr char32_t SPACES[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                          0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                          0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                          0x2029, 0x202F, 0x205F, 0x3000};
    for (const char32_t s : SPACES)
        if (c == s) return true;
    return false;
}

// Python's str.split(): the fields between runs of white space, as byte
// ranges, into fields (cleared first).
inline void split_fields(std::string_view text, std::vector<std::string_view>& fields) {
    fields.clear();
    static thread_local std::vector<Char> chars;
    decode_into(text, chars);
    std::size_t start = std::string_view::npos;
    for (const Char& c : chars) {
        if (is_space(c.value)) {
            if (start != std::string_view::npos)
                fields.push_back(text.substr(start, c.offset - start));
            start = std::string_view::npos;
        } else if (start == std::string_view::npos) {
            start = c.offset;
        }
    }
    if (start != std::string_view::npos) fields.push_back(text.substr(start));
}

}  // namespace vemla::fuzz
