// Minimal UTF-8 decoding for the text readers. Input from Python is always
// valid UTF-8; for other callers every byte that does not start a well-formed
// sequence is read as one character U+FFFD, so no input can fail or overrun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vemla::utf8 {

inline constexpr char32_t REPLACEMENT = 0xFFFD;

// Decodes the character starting at text[pos] and advances pos past it.
inline char32_t next(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1Fu, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0Fu, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07u, min = 0x10000;
    } else {
        ++pos;
        return REPLACEMENT;
    }
    if (pos + length > text.size()) {
        ++pos;
        return REPLACEMENT;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t b = byte(pos + i);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return REPLACEMENT;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return REPLACEMENT;
    }
    pos += length;
    return cp;
}

// The characters with the Unicode White_Space property.
constexpr bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Splits text into fields at runs of white space, like Python's str.split().
// next_field() yields each field in turn as a byte range of the text.
class Fields {
public:
    explicit Fields(std::string_view text) : text_(text) {}

    // Returns false when no field is left.
    bool next_field(std::string_view& field) {
        std::size_t pos = pos_;
        std::size_t start = pos;
        // Skip leading white space.
        while (pos < text_.size()) {
            start = pos;
            if (!is_white_space(next(text_, pos))) break;
            start = pos;
        }
        if (start >= text_.size()) {
            pos_ = text_.size();
            return false;
        }
        std::size_t end = pos;
        while (pos < text_.size()) {
            std::size_t before = pos;
            if (is_white_space(next(text_, pos))) {
                end = before;
                break;
            }
            end = pos;
        }
        field = text_.substr(start, end - start);
        pos_ = pos;
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace vemla::utf8
