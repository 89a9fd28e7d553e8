// Move text on arbitrary bytes.
//
// The whole input goes to ChessMove::parse, whose outcome (move, or the kind
// and message of its rejection) is predicted by a reference parser that
// follows the documented steps; so is that of the throwing
// ChessMove::from_str. A parsed move writes back as the same text
// with the promotion letter in lower case, and that text parses to the same
// value. The first bytes also serve as a raw move code for write_text and as
// arguments for the checked factory ChessMove::make.
#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "chess_move/mod.hpp"
#include "failure.hpp"
#include "fuzz_support.hpp"

namespace vemla::fuzz {
namespace {

struct Outcome {
    enum Kind { MOVE, REJECTED, PANIC } kind;
    std::string message;
    std::uint16_t value = 0;
};

const std::string NOTATION =
    "Invalid chess move: Unsupported move notation. Must be 4 or 5 (promotion) characters. Found: ";

Outcome reference_parse(std::string_view text) {
    std::uint16_t special = 0;
    if (text.size() != 4 && text.size() != 5)
        return {Outcome::REJECTED, NOTATION + std::string(text)};
    static std::vector<Char> chars;  // reused from input to input
    decode_into(text, chars);
    if (text.size() == 5) {
        switch (chars.back().value) {
            case 'n':
            case 'N': special = 4; break;
            case 'b':
            case 'B': special = 5; break;
            case 'r':
            case 'R': special = 6; break;
            case 'q':
            case 'Q': special = 7; break;
            default: return {Outcome::REJECTED, "Invalid chess move: Unsupported promotion type"};
        }
    }
    const std::string n = std::to_string(chars.size());
    const Outcome short_text{Outcome::PANIC,
                             "index out of bounds: the len is " + n + " but the index is " + n};
    // Each character counts by the low byte of its code point, in 8-bit arithmetic.
    const auto coordinate = [&](std::size_t i, char base) {
        return static_cast<std::uint8_t>(static_cast<std::uint8_t>(chars[i].value) -
                                         static_cast<std::uint8_t>(base));
    };
    if (chars.size() < 2) return short_text;
    const unsigned from_file = coordinate(0, 'a');
    if (from_file > 7) return {Outcome::PANIC, "assertion failed: from_file <= 7"};
    const unsigned from_rank = coordinate(1, '1');
    if (from_rank > 7) return {Outcome::PANIC, "assertion failed: from_rank <= 7"};
    if (chars.size() < 4) return short_text;
    const unsigned to_file = coordinate(2, 'a');
    if (to_file > 7) return {Outcome::PANIC, "assertion failed: to_file <= 7"};
    const unsigned to_rank = coordinate(3, '1');
    if (to_rank > 7) return {Outcome::PANIC, "assertion failed: to_rank <= 7"};
    const unsigned value =
        (from_file + 8 * from_rank) | ((to_file + 8 * to_rank) << 6) | (unsigned{special} << 12);
    return {Outcome::MOVE, "", static_cast<std::uint16_t>(value)};
}

// from_str without exceptions: parse, and the message of its rejection.
Outcome parse(std::string_view text) {
    ChessMove move{0xFFFF};
    const ChessMove::Rejection rejection = ChessMove::parse(text, move);
    if (rejection == ChessMove::Rejection::NONE) return {Outcome::MOVE, "", move.value};
    CHECK(move.value == 0xFFFF, "parse changed the move of a rejected text " + quoted(text));
    return {ChessMove::is_panic(rejection) ? Outcome::PANIC : Outcome::REJECTED,
            ChessMove::rejection_message(rejection, text)};
}

Outcome parse_throwing(std::string_view text) {
    try {
        return {Outcome::MOVE, "", ChessMove::from_str(text).value};
    } catch (const InvalidInput& e) {
        return {Outcome::REJECTED, e.message()};
    } catch (const Panic& e) {
        return {Outcome::PANIC, e.what()};
    }
}

// from_str is parse plus a throw chosen by the rejection, with the text as
// its only other input. A throw under the sanitizers costs more than
// everything else an input does, so from_str is compared on every text that
// parses and, for each kind of rejection and text length, on the first text
// that meets it.
bool first_rejection(const Outcome& outcome, std::string_view text) {
    if (outcome.kind == Outcome::MOVE) return true;
    static std::bitset<3 * 64> seen;
    const std::size_t slot =
        static_cast<std::size_t>(outcome.kind) * 64 + std::min<std::size_t>(text.size(), 63);
    if (seen[slot]) return false;
    seen[slot] = true;
    return true;
}

std::string outcome_text(const Outcome& o) {
    if (o.kind == Outcome::MOVE) return "move " + std::to_string(o.value);
    return (o.kind == Outcome::PANIC ? "Panic \"" : "rejected \"") + o.message + "\"";
}

void check_text(std::string_view text) {
    const Outcome expected = reference_parse(text);
    const Outcome actual = parse(text);
    CHECK(actual.kind == expected.kind && actual.message == expected.message &&
              actual.value == expected.value,
          "parse(" + quoted(text) + "): " + outcome_text(actual) + ", expected " +
              outcome_text(expected));
    if (first_rejection(actual, text)) {
        const Outcome thrown = parse_throwing(text);
        CHECK(thrown.kind == expected.kind && thrown.message == expected.message &&
                  thrown.value == expected.value,
              "from_str(" + quoted(text) + "): " + outcome_text(thrown) + ", expected " +
                  outcome_text(expected));
    }
    if (actual.kind != Outcome::MOVE) return;

    // Only ASCII text yields a move, so the written text differs from the
    // input at most in the case of the promotion letter.
    const ChessMove move{actual.value};
    const std::string written = move.to_string();
    std::string lowered(text);
    if (lowered.size() == 5 && lowered[4] >= 'A' && lowered[4] <= 'Z')
        lowered[4] = static_cast<char>(lowered[4] - 'A' + 'a');
    CHECK(written == lowered, "move from " + quoted(text) + " writes as " + quoted(written));
    const Outcome again = parse(written);
    CHECK(again.kind == Outcome::MOVE && again.value == move.value,
          "written text " + quoted(written) + " parses to " + outcome_text(again));
}

// Writing any 16-bit code: codes 8-15 cannot be written; the others write
// text that parses back to the code, with codes 1-3 becoming 0.
void check_code(std::uint16_t value) {
    const ChessMove move{value};
    char text[8];
    std::memset(text, 0, sizeof text);
    int length = 0;
    try {
        length = move.write_text(text);
    } catch (const Panic& e) {
        CHECK(move.special() >= 8,
              "write_text panicked on code " + std::to_string(value) + ": " + e.what());
        CHECK(std::string_view(e.what()) == "explicit panic",
              std::string("write_text message: ") + e.what());
        return;
    }
    CHECK(move.special() < 8,
          "write_text wrote code " + std::to_string(value) + " with special 8-15");
    CHECK(length == (move.special() >= 4 ? 5 : 4), "write_text length " + std::to_string(length));
    CHECK(text[length] == 0, "write_text wrote past its length");
    CHECK(move.to_string() == std::string_view(text, static_cast<std::size_t>(length)),
          "to_string differs from write_text");
    const Outcome back = parse(std::string_view(text, static_cast<std::size_t>(length)));
    const std::uint16_t expected =
        move.special() < 4 ? static_cast<std::uint16_t>(value & 0x0FFF) : value;
    CHECK(back.kind == Outcome::MOVE && back.value == expected,
          "code " + std::to_string(value) + " wrote " + quoted(text) + ", which parses to " +
              outcome_text(back));
}

// The checked factory: arguments tested in the order from, to, special.
void check_make(std::uint16_t from, std::uint16_t to, std::uint16_t special) {
    const char* expected = from >= 64      ? "Invalid FROM int"
                           : to >= 64      ? "Invalid TO int"
                           : special >= 16 ? "Invalid SPECIAL int"
                                           : nullptr;
    try {
        const ChessMove move = ChessMove::make(from, to, special);
        CHECK(expected == nullptr, std::string("make accepted arguments that must fail with ") +
                                       (expected ? expected : ""));
        CHECK(move.from() == from && move.to() == to && move.special() == special,
              "make packed the fields wrongly");
    } catch (const Panic& e) {
        CHECK(expected != nullptr && std::string_view(e.what()) == expected,
              "make(" + std::to_string(from) + ", " + std::to_string(to) + ", " +
                  std::to_string(special) + ") failed with " + e.what());
    }
}

// write_text and make are pure functions of a few small integers, and most
// arguments make them throw, which is slow under the sanitizers. Each distinct
// argument is checked once per process: a repeat could only give the same
// result again.
bool first_code(std::uint16_t value) {
    static std::bitset<1u << 16> seen;
    if (seen[value]) return false;
    seen[value] = true;
    return true;
}

bool first_make(std::uint16_t from, std::uint16_t to, std::uint16_t special) {
    // A direct-mapped table of the argument triples seen: a triple that lost
    // its slot to another is simply checked again.
    static std::array<std::uint64_t, 1u << 16> slots{};
    const std::uint64_t key =
        (std::uint64_t{from} | std::uint64_t{to} << 16 | std::uint64_t{special} << 32) + 1;
    std::uint64_t& slot = slots[(key * 0x9E3779B97F4A7C15ull) >> 48];
    if (slot == key) return false;
    slot = key;
    return true;
}

void check_make_once(std::uint16_t from, std::uint16_t to, std::uint16_t special) {
    if (first_make(from, to, special)) check_make(from, to, special);
}

}  // namespace
}  // namespace vemla::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 256) return -1;
    using namespace vemla::fuzz;
    check_text(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto u16 = [&](std::size_t i) {
        return static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8));
    };
    if (size >= 2 && first_code(u16(0))) check_code(u16(0));
    // Small values are the interesting ones: take one byte per argument,
    // stretched so that 64 and 16 sit near the middle of the range.
    if (size >= 3)
        check_make_once(static_cast<std::uint16_t>(data[0] / 2),
                        static_cast<std::uint16_t>(data[1] / 2),
                        static_cast<std::uint16_t>(data[2] / 8));
    if (size >= 6) check_make_once(u16(0), u16(2), u16(4));
    return 0;
}
