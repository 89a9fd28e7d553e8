// Helpers shared by the core tests: squares, move text, failure capture, one
// shared MoveGenerator and the reader of the perft data files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "board/mod.hpp"
#include "failure.hpp"
#include "move_generator/mod.hpp"
#include "move_generator/perft.hpp"

namespace vemla::test {

constexpr int sq(std::string_view name) { return (name[0] - 'a') + 8 * (name[1] - '1'); }

inline Bitboard squares(std::initializer_list<std::string_view> names) {
    Bitboard b = 0;
    for (const auto name : names) b |= square_bb(sq(name));
    return b;
}

// Move text known to be well formed.
inline ChessMove mv(std::string_view text) { return ChessMove::from_str(text); }

// Runs f, which must throw exactly E; returns the message.
template <typename E, typename F>
std::string failure_of(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("<wrong failure type> ") + e.what();
    }
    return "<no failure>";
}

// VEMLA_DIFFERENTIAL_SCALE (percent, default 100) shrinks the random parts
// of the differential tests for slow runs such as memcheck.
inline int scaled(int count) {
    const char* value = std::getenv("VEMLA_DIFFERENTIAL_SCALE");
    const int percent = value && *value ? std::atoi(value) : 100;
    return std::max(1, count * std::clamp(percent, 1, 100) / 100);
}

// Building the tables costs 4 MiB and some milliseconds: share one.
inline const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

inline std::vector<std::string> legal_moves(Board& board) {
    MoveList list;
    generator().generate(board, list);
    std::vector<std::string> out;
    for (const ChessMove m : list) out.push_back(m.to_string());
    return out;
}

inline std::string describe(const Board& board) {
    std::ostringstream out;
    out << board.fen() << "  state 0x" << std::hex << board.bitboards[STATE] << std::dec
        << "  undo " << board.undo_stack.size() << "  history";
    for (const auto& h : board.history) out << ' ' << h.size();
    return out.str();
}

inline std::string data_path(const char* name) { return std::string(VEMLA_TEST_DATA) + "/" + name; }

// Whether a missing data file fails the test instead of skipping it: set
// (VEMLA_REQUIRE_DATA=1) by ./test.sh and so in CI, where every file must be
// there and a suite that found nothing to check would pass vacuously.
inline bool data_required() {
    const char* value = std::getenv("VEMLA_REQUIRE_DATA");
    return value && *value && std::string_view(value) != "0";
}

// Skips the test for want of a data file, or fails it where data is required.
#define VEMLA_MISSING_DATA(message)                                                             \
    do {                                                                                        \
        if (::vemla::test::data_required()) GTEST_FAIL() << message << " (VEMLA_REQUIRE_DATA)"; \
        GTEST_SKIP() << message;                                                                \
    } while (false)

// One line "FEN ;D1 n ;D2 n ..." of an EPD file. A missing file gives one
// entry with an empty fen, so that its tests skip instead of vanishing.
struct EpdEntry {
    std::string file;
    int line = 0;
    std::string group;  // the last '#' comment before the line
    std::string fen;
    std::vector<std::pair<int, std::uint64_t>> counts;  // (depth, nodes), ascending depth
};

inline std::vector<EpdEntry> read_epd(const char* name) {
    std::ifstream in(data_path(name));
    if (!in) return {EpdEntry{name, 0, "", "", {}}};
    std::vector<EpdEntry> entries;
    std::string text, group;
    for (int line = 1; std::getline(in, text); ++line) {
        if (text.empty()) continue;
        if (text[0] == '#') {
            group = text.substr(std::min(text.size(), text.find_first_not_of("# ")));
            continue;
        }
        std::istringstream fields(text);
        EpdEntry entry{name, line, group, "", {}};
        std::getline(fields, entry.fen, ';');
        entry.fen.erase(entry.fen.find_last_not_of(' ') + 1);
        for (std::string item; std::getline(fields, item, ';');) {
            std::istringstream words(item);
            std::string tag;
            std::uint64_t nodes = 0;
            if (words >> tag >> nodes && tag.size() > 1 && tag[0] == 'D')
                entry.counts.emplace_back(std::stoi(tag.substr(1)), nodes);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

// A test name made from the text a case is about: ASCII letters and digits
// stay, every other run of ASCII becomes one '_', other characters are named
// by their code point (U00E9). Text without an ASCII letter or digit (white
// space) is named by all its code points; empty text is "empty".
inline std::string identifier(std::string_view text) {
    if (text.empty()) return "empty";
    std::string out, code_points;
    bool any_alnum = false;
    for (std::size_t i = 0; i < text.size();) {
        // Decode one character; the texts of the tests are valid UTF-8.
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t cp = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        i += length;
        char name[12];
        std::snprintf(name, sizeof name, "U%04X", static_cast<unsigned>(cp));
        code_points += (code_points.empty() ? "" : "_") + std::string(name);
        if (cp < 0x80 && std::isalnum(static_cast<int>(cp)))
            out += static_cast<char>(cp), any_alnum = true;
        else
            out += cp < 0x80 ? std::string("_") : "_" + std::string(name) + "_";
    }
    std::string collapsed;
    for (const char c : out)
        if (c != '_' || (!collapsed.empty() && collapsed.back() != '_')) collapsed += c;
    while (!collapsed.empty() && collapsed.back() == '_') collapsed.pop_back();
    return any_alnum ? collapsed : code_points;
}

// Name generator for value-parametrised suites: the case's text (a string
// parameter) or what PrintTo prints for it, as an identifier. A name already
// given in the same instantiation gets "_2", "_3", ... (GoogleTest names the
// cases of one instantiation in order, starting at index 0).
struct ParamName {
    template <typename T>
    std::string operator()(const testing::TestParamInfo<T>& info) const {
        static std::set<std::string> taken;
        if (info.index == 0) taken.clear();
        std::string name;
        if constexpr (std::is_convertible_v<const T&, std::string_view>)
            name = identifier(info.param);
        else
            name = identifier(testing::PrintToString(info.param));
        std::string unique = name;
        for (int n = 2; !taken.insert(unique).second; ++n) unique = name + "_" + std::to_string(n);
        return unique;
    }
};

// An EPD case is named after the '#' comment that groups it, and its line.
inline std::string epd_name(const testing::TestParamInfo<EpdEntry>& info) {
    if (info.param.fen.empty()) return "missing_file";
    const std::string line = "line_" + std::to_string(info.param.line);
    return info.param.group.empty() ? line : identifier(info.param.group) + "_" + line;
}

inline void PrintTo(const EpdEntry& entry, std::ostream* os) {
    *os << entry.file << ':' << entry.line << ' ' << entry.fen << " (" << entry.group << ')';
}

}  // namespace vemla::test

namespace vemla {
inline void PrintTo(const Board& board, std::ostream* os) { *os << test::describe(board); }
}  // namespace vemla
