// The tokenizer's view of bytes, and the two scans its fast path makes over
// the buffer: the end of a word and the end of a brace comment. Each scan
// has a byte-by-byte form, the reference, and one that looks at sixteen bytes
// at a time where the machine has SSE2 (every x86-64), which spares the loop
// its unpredictable exit on every token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vemla::pgn::scan {

constexpr bool is_space(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\v';
}

// Bytes that end a word: spaces and the characters with a meaning of their own.
constexpr bool ends_word(char c) {
    return is_space(c) || c == '{' || c == '}' || c == '(' || c == ')' || c == '[' || c == ']' ||
           c == ';' || c == '$' || c == '"';
}

// What each byte is to the tokenizer.
enum CharClass : std::uint8_t { WORD, SPACE, LINE_FEED, SPECIAL };
struct CharTable {
    CharClass of[256];
    constexpr CharTable() : of() {
        for (int i = 0; i < 256; ++i) {
            const char c = static_cast<char>(i);
            of[i] = c == '\n' ? LINE_FEED : is_space(c) ? SPACE : ends_word(c) ? SPECIAL : WORD;
        }
    }
};
constexpr CharTable CHARS;
inline CharClass class_of(char c) { return CHARS.of[static_cast<unsigned char>(c)]; }
inline bool is_word(char c) { return class_of(c) == WORD; }

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The first index from pos on, below end, whose byte does not belong to a
// word (end if there is none). Sixteen bytes at a time where the machine has
// the instructions and that many are left, which spares the loop its
// unpredictable exit on every word; the byte loop is the reference.
inline std::size_t word_end_bytewise(const char* data, std::size_t pos, std::size_t end) {
    while (pos < end && is_word(data[pos])) ++pos;
    return pos;
}
inline std::size_t word_end(const char* data, std::size_t pos, std::size_t end) {
#if defined(__SSE2__)
    while (end - pos >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
        // ' ', and '\t' to '\r' (9 to 13: v - 9 at most 4 as an unsigned byte).
        const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(9));
        __m128i ends =
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
                         _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(4)), shifted));
        // '{' and '}' fold onto '[' and ']' with bit 5 cleared; '(' and ')' onto ')' with bit 0 set.
        const __m128i folded = _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xDF)));
        ends = _mm_or_si128(ends, _mm_cmpeq_epi8(folded, _mm_set1_epi8('[')));
        ends = _mm_or_si128(ends, _mm_cmpeq_epi8(folded, _mm_set1_epi8(']')));
        ends = _mm_or_si128(ends,
                            _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(1)), _mm_set1_epi8(')')));
        ends = _mm_or_si128(ends, _mm_cmpeq_epi8(v, _mm_set1_epi8(';')));
        ends = _mm_or_si128(ends, _mm_cmpeq_epi8(v, _mm_set1_epi8('$')));
        ends = _mm_or_si128(ends, _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
        if (const int mask = _mm_movemask_epi8(ends))
            return pos + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        pos += 16;
    }
#endif
    return word_end_bytewise(data, pos, end);
}

// The first '}' from pos on, below end, or nullptr: memchr, but sixteen bytes
// at a time inline, since most comments are a few dozen bytes and the call
// and its set-up cost as much as the search.
inline const char* find_close_bytewise(const char* data, std::size_t pos, std::size_t end) {
    return static_cast<const char*>(std::memchr(data + pos, '}', end - pos));
}
inline const char* find_close(const char* data, std::size_t pos, std::size_t end) {
#if defined(__SSE2__)
    const __m128i close = _mm_set1_epi8('}');
    while (end - pos >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, close)))
            return data + pos + __builtin_ctz(static_cast<unsigned>(mask));
        pos += 16;
    }
#endif
    return find_close_bytewise(data, pos, end);
}

}  // namespace vemla::pgn::scan
