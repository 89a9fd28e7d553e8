// The core's two failure types. The core never sees Python: the binding turns
// InvalidInput into ValueError and Panic into the module's PanicException.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace vemla {

// Input rejected by the chess logic. The message is the complete user-facing
// text, prefix included ("Invalid fen: ...", "Invalid chess move: ...").
class InvalidInput : public std::runtime_error {
public:
    explicit InvalidInput(const std::string& message)
        : std::runtime_error(message), message_(message) {}
    // The whole message; what() would stop at an embedded NUL from the input.
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

// A violated expectation: a malformed FEN placement, a missing field, popping
// with nothing to take back. Reaches Python as PanicException(message). The
// message is fixed per kind of failure; a note, where there is one, says which
// input failed and how (it reaches Python as the exception's note).
class Panic : public std::runtime_error {
public:
    explicit Panic(const std::string& message, std::string note = {})
        : std::runtime_error(message), message_(message), note_(std::move(note)) {}
    const std::string& message() const { return message_; }
    const std::string& note() const { return note_; }

private:
    std::string message_;
    std::string note_;
};

[[noreturn]] inline void panic(const std::string& message) { throw Panic(message); }

// Always on, unlike assert: guards everything that input can reach.
inline void expect(bool condition, const char* message) {
    if (!condition) [[unlikely]]
        throw Panic(message);
}

}  // namespace vemla
