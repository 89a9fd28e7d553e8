#include "move_texts.hpp"

#include "py_result.hpp"

namespace vemla::py {

namespace {

// One slot per distinct text: the 4096 pairs of from- and to-square times five
// endings (none, n, b, r, q). Special codes 0 to 3 share the plain text. At
// most 20480 strs of 4 or 5 characters, about 1.3 MiB with this table; they
// live until the process ends, like the module's type objects.
constexpr std::size_t ENDINGS = 5;
PyObject* texts[ENDINGS * 4096];

std::size_t slot_of(ChessMove move) {
    const int special = move.special();
    const std::size_t ending =
        special < ChessMove::PROMOTE_KNIGHT ? 0 : static_cast<std::size_t>(special - 3);
    return ending * 4096 + (move.value & 0xFFFu);
}

}  // namespace

void prepare_move_texts(const ChessMove* begin, const ChessMove* end) {
    for (const ChessMove* move = begin; move != end; ++move) {
        char text[5];
        if (move->special() > ChessMove::PROMOTE_QUEEN) move->write_text(text);  // panics
        PyObject*& slot = texts[slot_of(*move)];
        if (slot) [[likely]]
            continue;
        const int length = move->write_text(text);
        slot = new_ascii(text, static_cast<std::size_t>(length));
    }
}

PyObject* prepared_move_text(ChessMove move) {
    PyObject* text = texts[slot_of(move)];
    Py_INCREF(text);
    return text;
}

}  // namespace vemla::py
