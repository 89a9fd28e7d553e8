// Sequences of board operations.
//
// Input: a FEN line, then a newline, then a program. A FEN that does not read
// is replaced by the starting position. Each program step is one opcode byte
// (taken modulo the number of operations) followed by its argument bytes:
//
//   0 PUSH_LEGAL  i       generate, then push legal move i modulo their count
//   1 PUSH_TEXT   n t...  parse 4 + (n & 1) bytes of move text, push if it parses
//   2 PUSH_CODE   lo hi   push the raw 16-bit move code, any special code included
//   3 POP                 take back the last move (with none left: Panic)
//   4 GENERATE            full check of the move generator, see check_generate
//   5 COPY                continue on a copy of the board
//   6 REFLECT             mirror the board, checking it against the mirror rules
//   7 FEN                 write, read back and compare; check the diagram
//   8 STATE   a b c       flip state word bits (the record ties no rule to them)
//
// After every step: pop restores exactly the board of before the matching
// push (undo records and history included), a push that panics or a pop with
// nothing to take back leaves the board unchanged, and the history stacks
// hold one entry for every undo record that names them.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "board/facts.hpp"
#include "board/mod.hpp"
#include "render/picture.hpp"
#include "chess_move/mod.hpp"
#include "failure.hpp"
#include "fuzz_support.hpp"
#include "move_generator/mod.hpp"
#include "move_generator/perft.hpp"

namespace vemla::fuzz {
namespace {

constexpr std::size_t MAX_STEPS = 200;

const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::string_view bytes(std::size_t n) {
        n = std::min(n, size_ - std::min(pos_, size_));
        const std::string_view out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

void check_stacks(const Board& board) {
    std::array<std::size_t, 12> named{};
    for (const UndoRecord& r : board.undo_stack) {
        CHECK((r.pushed_mask & 0xF000) == 0, "undo record names a bitboard above 11");
        const int count = std::popcount(static_cast<unsigned>(r.pushed_mask));
        CHECK(count >= 1 && count <= 3,
              "undo record saved " + std::to_string(count) + " bitboards");
        for (std::size_t i = 0; i < 12; ++i) named[i] += (r.pushed_mask >> i) & 1;
    }
    for (std::size_t i = 0; i < 12; ++i)
        CHECK(board.history[i].size() == named[i],
              "history " + std::to_string(i) + " holds " + std::to_string(board.history[i].size()) +
                  " entries for " + std::to_string(named[i]) + " undo records\n" + describe(board));
}

// An exact record of a board (words, history and undo stacks) in storage
// that is kept from input to input, so that taking one allocates nothing once
// the run has warmed up.
struct Snapshot {
    std::array<std::uint64_t, 13> bitboards{};
    std::array<std::vector<std::uint64_t>, 12> history;
    std::vector<UndoRecord> undo_stack;

    void reserve(std::size_t entries) {
        for (auto& h : history) h.reserve(entries);
        undo_stack.reserve(entries);
    }
    void take(const Board& board) {
        bitboards = board.bitboards;
        for (std::size_t i = 0; i < 12; ++i)
            history[i].assign(board.history[i].begin(), board.history[i].end());
        undo_stack.assign(board.undo_stack.begin(), board.undo_stack.end());
    }
    bool matches(const Board& board) const {
        if (bitboards != board.bitboards) return false;
        for (std::size_t i = 0; i < 12; ++i)
            if (!std::equal(history[i].begin(), history[i].end(), board.history[i].begin(),
                            board.history[i].end()))
                return false;
        return std::equal(undo_stack.begin(), undo_stack.end(), board.undo_stack.begin(),
                          board.undo_stack.end());
    }
    // The words, the stack sizes and the top entries: all that a push and
    // its pop may touch. A full match is still required afterwards.
    bool matches_top(const Board& board) const {
        if (bitboards != board.bitboards || undo_stack.size() != board.undo_stack.size())
            return false;
        if (!undo_stack.empty() && !(undo_stack.back() == board.undo_stack.back())) return false;
        for (std::size_t i = 0; i < 12; ++i) {
            const auto& mine = history[i];
            const auto& theirs = board.history[i];
            if (mine.size() != theirs.size() || (!mine.empty() && mine.back() != theirs.back()))
                return false;
        }
        return true;
    }
    // The board again, for failure messages.
    Board board() const {
        Board out;
        out.bitboards = bitboards;
        for (std::size_t i = 0; i < 12; ++i)
            for (const std::uint64_t word : history[i]) out.history[i].push_back(word);
        for (const UndoRecord& record : undo_stack) out.undo_stack.push_back(record);
        return out;
    }
};

void check_same_as(const Snapshot& before, const Board& after, const char* what) {
    if (!before.matches(after)) check_same(before.board(), after, what);
}

struct Machine {
    Board board;
    // The board as it was before each push that has not been taken back: the
    // first `pushed` entries; the rest are storage kept for reuse.
    std::vector<Snapshot> before_push;
    std::size_t pushed = 0;
    Snapshot before;                                    // scratch for the checks of one step
    Snapshot reflected_from;                            // the board before a reflection
    std::vector<std::uint16_t> mirrored_a, mirrored_b;  // legal moves compared by reflect()

    // All storage is taken up front: an input that allocates more than it
    // frees makes libFuzzer repeat it under a full leak check.
    Machine() {
        // Each push adds at most one entry to each stack.
        before_push.resize(MAX_STEPS + 1);
        for (Snapshot& snapshot : before_push) snapshot.reserve(MAX_STEPS + 1);
        before.reserve(MAX_STEPS + 1);
        reflected_from.reserve(MAX_STEPS + 1);
        mirrored_a.reserve(MAX_CANDIDATES);
        mirrored_b.reserve(MAX_CANDIDATES);
    }

    void reset(Board start) {
        board = std::move(start);
        pushed = 0;
    }
    // Gives the board's storage back at the end of an input.
    void finish() { board = Board(); }

    void push(ChessMove move) {
        if (pushed == before_push.size()) before_push.emplace_back();
        Snapshot& saved = before_push[pushed];
        saved.take(board);
        try {
            board.push_move(move);
        } catch (const Panic&) {
            check_same_as(saved, board, "a push that panicked changed the board");
            const Bitboard from = square_bb(move.from());
            bool occupied = false;
            for (std::size_t i = 0; i < 12; ++i) occupied |= (board.bitboards[i] & from) != 0;
            CHECK(!occupied, "push of " + std::to_string(move.value) +
                                 " panicked with a piece on its from-square");
            return;
        }
        CHECK(board.undo_stack.size() == saved.undo_stack.size() + 1,
              "push did not add one undo record");
        CHECK((board.bitboards[STATE] ^ saved.bitboards[STATE]) & StateWord::WHITE_TO_MOVE,
              "push did not flip the side to move");
        CHECK((board.bitboards[STATE] & StateWord::HIGH_BITS) ==
                  (saved.bitboards[STATE] & StateWord::HIGH_BITS),
              "push changed state bits above 20");
        ++pushed;
    }

    void pop() {
        if (pushed == 0) {
            before.take(board);
            bool panicked = false;
            try {
                board.pop_move();
            } catch (const Panic&) {
                panicked = true;
            }
            CHECK(panicked, "pop with nothing to take back did not panic");
            check_same_as(before, board, "a pop that panicked changed the board");
            return;
        }
        board.pop_move();
        check_same_as(before_push[pushed - 1], board,
                      "pop did not restore the board of before the push");
        --pushed;
    }

    void generate_legal(MoveList& list) {
        before.take(board);
        generator().generate(board, list);
        check_same_as(before, board, "generate changed the board");
        CHECK(list.size >= 0 && list.size <= MAX_CANDIDATES, "move list size out of range");
    }

    // The generator keeps exactly the candidates after which the mover's
    // (lowest) king is not attacked, in candidate order, and every one of
    // them can be pushed and popped.
    void check_generate() {
        MoveList legal;
        generate_legal(legal);
        MoveList candidates;
        generator().candidates(board, candidates);
        CHECK(candidates.size <= MAX_CANDIDATES, "too many candidates");
        const Colour side = board.side_to_move();
        const auto king = static_cast<std::size_t>(piece_of(side, KING));
        int kept = 0;
        before.take(board);
        for (const ChessMove move : candidates) {
            CHECK(move.special() < 8, "candidate with special code 8-15");
            CHECK(move.from() != move.to(), "candidate that does not move");
            board.push_move(move);
            const Bitboard kings = board.bitboards[king];
            const bool attacked = kings && generator().square_in_check(board, lsb(kings), side);
            board.pop_move();
            // Per candidate the cheap part; the whole board after the loop.
            if (!before.matches_top(board))
                check_same(before.board(), board,
                           ("push and pop of " + move.to_string() + " changed the board").c_str());
            if (attacked) continue;
            CHECK(kept < legal.size && legal.moves[static_cast<std::size_t>(kept)] == move,
                  "legal move list differs from the filtered candidates at " +
                      std::to_string(kept) + ": " + move.to_string() + "\n" + describe(board));
            ++kept;
        }
        check_same_as(before, board, "push and pop of the candidates changed the board");
        CHECK(kept == legal.size, "legal move list has moves that are not candidates");
        CHECK(perft(generator(), board, 1) == static_cast<std::uint64_t>(legal.size),
              "perft 1 differs from generate");
        // Deciding legality from the position and by making every candidate agree.
        MoveList reference;
        generator().generate_reference(board, reference);
        check_same_as(before, board, "generate_reference changed the board");
        CHECK(std::equal(legal.begin(), legal.end(), reference.begin(), reference.end()) &&
                  legal.group_end == reference.group_end,
              "generate and generate_reference differ\n" + describe(board));
    }

    // Mirror rules: reflecting twice restores the words; pieces move to the
    // mirrored square with the other colour. Where no square holds pieces of
    // both colours and the mover has at most one king, the position is the
    // same game seen from the other side, so its legal moves are the mirrored
    // moves (their order may differ).
    void reflect() {
        MoveList original;
        bool symmetric = true;
        {
            Bitboard white = 0, black = 0;
            for (std::size_t i = 0; i < 6; ++i)
                white |= board.bitboards[i], black |= board.bitboards[i + 6];
            const Bitboard kings = board.bitboards[board.white_to_move() ? WHITE_KING : BLACK_KING];
            symmetric = !(white & black) && std::popcount(kings) <= 1;
        }
        if (symmetric) generate_legal(original);

        reflected_from.take(board);
        board.reflect();
        CHECK(board.undo_stack.empty(), "reflect kept undo records");
        for (const auto& h : board.history)
            CHECK(h.empty() && h.capacity() == 0, "reflect kept history storage");
        pushed = 0;
        for (std::size_t i = 0; i < 12; ++i)
            CHECK(board.bitboards[i] == __builtin_bswap64(reflected_from.bitboards[(i + 6) % 12]),
                  "reflect misplaced a piece");
        Board twice = board;
        twice.reflect();
        CHECK(twice.bitboards == reflected_from.bitboards,
              "reflecting twice did not restore the words\n before: " +
                  describe(reflected_from.board()) + "\n after: " + describe(twice));

        if (!symmetric) return;
        MoveList mirrored;
        generate_legal(mirrored);
        std::vector<std::uint16_t>& a = mirrored_a;
        std::vector<std::uint16_t>& b = mirrored_b;
        a.clear();
        b.clear();
        for (const ChessMove m : original)
            a.push_back(static_cast<std::uint16_t>(m.value ^ (56 | 56 << 6)));
        for (const ChessMove m : mirrored) b.push_back(m.value);
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        CHECK(a == b, "legal moves of the mirrored position are not the mirrored moves (" +
                          std::to_string(a.size()) + " vs " + std::to_string(b.size()) +
                          ")\n before: " + describe(reflected_from.board()) +
                          "\n after: " + describe(board));
    }

    // Whether the Chess960 reader accepts the board's rights: each set right
    // has its colour's only king on the home rank at its file and a rook on its
    // rook's square. Moves pushed for the wrong side (the fuzzer's pushes
    // need not be legal) can leave a right without its pieces.
    bool chess960_rights_hold() const {
        // Pieces on one square (an unchecked push can capture its own kind
        // of piece) make a king seen by the rights that fen() never writes.
        if (!no_square_held_twice(board)) return false;
        const StateWord state = board.state();
        for (const Colour colour : {WHITE, BLACK})
            for (const CastlingSide side : {KING_SIDE, QUEEN_SIDE}) {
                if (!state.may_castle(colour, side)) continue;
                const Chess960Geometry g = chess960_geometry(board.castling_files, colour, side);
                const Bitboard rank = RANK_1 << home_rank_base(colour);
                if ((board.pieces(colour, KING) & rank) != square_bb(g.king_from) ||
                    !(board.pieces(colour, ROOK) & square_bb(g.rook_from)))
                    return false;
            }
        return true;
    }

    void fen_round_trip() {
        const std::string written = board.fen();
        Board reread;
        if (board.chess960) {
            // Both castling forms read back to the same placement and rights.
            if (!chess960_rights_hold()) return;
            for (const bool shredder : {false, true}) {
                const std::string text = board.fen(shredder);
                CHECK(Board::read_full_fen(text, reread, true) == FenRejection::NONE,
                      "Chess960 fen() text " + quoted(text) + " does not read back");
                CHECK(reread.fen(shredder) == text,
                      "Chess960 fen() text " + quoted(text) + " reads back as " +
                          quoted(reread.fen(shredder)));
            }
            check_pictures(written);
            return;
        }
        try {
            reread = Board::from_fen(written);
        } catch (const std::exception& e) {
            fail("fen() text " + quoted(written) + " does not read back: " + e.what());
        }
        CHECK(reread.fen() == written,
              "fen() text " + quoted(written) + " reads back as " + quoted(reread.fen()));
        check_pictures(written);
    }

    // The diagram shows the squares that fen() writes, either way up.
    void check_pictures(const std::string& written) {
        std::array<char, 64> squares{};  // rank 8 first, files a to h
        std::size_t count = 0;
        const auto put = [&](char c) {
            if (count < squares.size()) squares[count] = c;
            ++count;
        };
        for (const char c : std::string_view(written).substr(0, written.find(' '))) {
            if (c >= '1' && c <= '8')
                for (int k = 0; k < c - '0'; ++k) put('.');
            else if (c != '/')
                put(c);
        }
        CHECK(count == squares.size(),
              "fen() text " + quoted(written) + " does not describe 64 squares");
        for (const Colour orientation : {WHITE, BLACK}) {
            const std::string text = diagram(board.bitboards, orientation);
            for (std::size_t i = 0; i < 64; ++i) {
                const char expected = orientation == WHITE ? squares[i] : squares[63 - i];
                CHECK(text[i / 8 * 18 + 2 + 2 * (i % 8)] == expected,
                      "diagram disagrees with fen() text " + quoted(written) + ":\n" + text);
            }
        }
    }

    void step(Reader& in) {
        switch (in.byte() % 9) {
            case 0: {
                MoveList legal;
                generate_legal(legal);
                const std::uint8_t index = in.byte();
                if (legal.size > 0) push(legal.moves[static_cast<std::size_t>(index % legal.size)]);
                break;
            }
            case 1: {
                const std::string_view text = in.bytes(4 + (in.byte() & 1u));
                // Text that is not a move (wrong length, promotion letter or
                // squares) pushes nothing.
                ChessMove move;
                if (ChessMove::parse(text, move) == ChessMove::Rejection::NONE) push(move);
                break;
            }
            case 2: {
                const std::uint8_t lo = in.byte();
                push(ChessMove{static_cast<std::uint16_t>(lo | in.byte() << 8)});
                break;
            }
            case 3: pop(); break;
            case 4: check_generate(); break;
            case 5: {
                Board copy = board;
                check_same(board, copy, "a copy differs from its source");
                board = std::move(copy);
                break;
            }
            case 6: reflect(); break;
            case 7: fen_round_trip(); break;
            case 8: {
                std::uint64_t flip = in.byte();
                flip |= std::uint64_t{in.byte()} << 8;
                flip |= std::uint64_t{in.byte()} << 16;
                // Bits 0-20 and, from the top bits of the third byte, some of 21-63.
                board.bitboards[STATE] ^= (flip & ~StateWord::HIGH_BITS) | ((flip >> 21) << 61);
                break;
            }
        }
        check_stacks(board);
        CHECK(board.undo_stack.size() == pushed, "undo stack and pushes out of step");
    }
};

}  // namespace
}  // namespace vemla::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vemla;
    using namespace vemla::fuzz;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string_view fen = input.substr(0, std::min(newline, input.size()));
    if (fen.size() > 256) return -1;

    static Machine machine;  // kept, so its snapshots keep their storage
    static const Board default_board = Board::from_fen(DEFAULT_FEN);
    // A first line starting "960 " is read as a Chess960 position.
    Board read;
    const bool chess960 = fen.starts_with("960 ");
    const FenRejection rejection = chess960 ? Board::read_full_fen(fen.substr(4), read, true)
                                            : Board::read_fen(fen, read);
    machine.reset(rejection == FenRejection::NONE ? std::move(read) : default_board);
    const std::size_t start = newline == std::string_view::npos ? size : newline + 1;
    Reader program(data + start, size - start);
    for (std::size_t steps = 0; steps < MAX_STEPS && !program.empty(); ++steps)
        machine.step(program);
    // Unwind everything that is left: each pop must restore its board.
    while (machine.pushed != 0) machine.pop();
    machine.finish();
    return 0;
}
