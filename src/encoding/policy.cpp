#include "encoding/policy.hpp"

#include <array>
#include <cstdlib>

#include "board/castling_geometry.hpp"
#include "board/facts.hpp"
#include "messages.hpp"

namespace vemla {

namespace {

constexpr int abs_of(int x) { return x < 0 ? -x : x; }

constexpr bool queen_reach(int from, int to) {
    const int df = file_of(to) - file_of(from), dr = rank_of(to) - rank_of(from);
    return from != to && (df == 0 || dr == 0 || abs_of(df) == abs_of(dr));
}

constexpr bool knight_reach(int from, int to) {
    const int df = abs_of(file_of(to) - file_of(from)), dr = abs_of(rank_of(to) - rank_of(from));
    return (df == 1 && dr == 2) || (df == 2 && dr == 1);
}

// LC0's promotion letters in entry order, and the kinds they stand for.
constexpr Kind LC0_PROMOTIONS[3] = {QUEEN, ROOK, BISHOP};
constexpr int LC0_PLAIN_ENTRIES = 1792;

struct Lc0Tables {
    // Entry of a plain from-to move, -1 where neither a queen nor a knight
    // reaches to from from.
    std::array<std::array<std::int16_t, 64>, 64> plain{};
    // Entry of the queen promotion from file f to file f + step (step + 1
    // indexes); rook and bishop follow it. -1 off the board.
    std::array<std::array<std::int16_t, 3>, 8> promotion{};
    // Every entry's move, from White's view.
    std::array<PolicyMove, LC0_POLICY_SIZE> moves{};
};

constexpr Lc0Tables make_lc0_tables() {
    Lc0Tables t;
    int index = 0;
    for (int from = 0; from < 64; ++from)
        for (int to = 0; to < 64; ++to) {
            t.plain[static_cast<std::size_t>(from)][static_cast<std::size_t>(to)] = -1;
            if (queen_reach(from, to) || knight_reach(from, to)) {
                t.plain[static_cast<std::size_t>(from)][static_cast<std::size_t>(to)] =
                    static_cast<std::int16_t>(index);
                t.moves[static_cast<std::size_t>(index++)] = PolicyMove{from, to, PAWN, false};
            }
        }
    for (int file = 0; file < 8; ++file)
        for (int step = -1; step <= 1; ++step) {
            auto& entry =
                t.promotion[static_cast<std::size_t>(file)][static_cast<std::size_t>(step + 1)];
            entry = -1;
            if (file + step < 0 || file + step > 7) continue;
            entry = static_cast<std::int16_t>(index);
            for (const Kind kind : LC0_PROMOTIONS)
                t.moves[static_cast<std::size_t>(index++)] =
                    PolicyMove{48 + file, 56 + file + step, kind, false};
        }
    return t;
}

constexpr Lc0Tables LC0 = make_lc0_tables();
static_assert(LC0.plain[63][62] == LC0_PLAIN_ENTRIES - 1, "h8g8 is the last plain entry");
static_assert(LC0.promotion[7][1] == LC0_POLICY_SIZE - 3,
              "h7h8q starts the last promotion entries");

// AlphaZero's direction number of a (file step, rank step) pair, each -1..1,
// not both 0: the eight pairs in lexicographic order.
constexpr int queen_direction(int file_sign, int rank_sign) {
    const int d = (file_sign + 1) * 3 + (rank_sign + 1);
    return d > 4 ? d - 1 : d;
}

constexpr int KNIGHT_STEPS[8][2] = {{-2, -1}, {-2, 1}, {-1, -2}, {-1, 2},
                                    {1, -2},  {1, 2},  {2, -1},  {2, 1}};
constexpr int QUEEN_STEPS[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                                   {0, 1},   {1, -1}, {1, 0},  {1, 1}};
constexpr int AZ_PLANES = 73;
constexpr int AZ_KNIGHT_PLANE = 56;
constexpr int AZ_UNDERPROMOTION_PLANE = 64;

constexpr int sign_of(int x) { return (x > 0) - (x < 0); }

constexpr int lc0_index(const PolicyMove& m) {
    int to = m.to;
    if (m.castling)
        to = (m.to & 56) |
             file_of(castling_geometry(WHITE, castling_side_toward(m.from, m.to)).rook_from);
    if (m.promotion == PAWN || m.promotion == KNIGHT)
        return LC0.plain[static_cast<std::size_t>(m.from)][static_cast<std::size_t>(to)];
    const int step = file_of(to) - file_of(m.from);
    if (rank_of(m.from) != 6 || rank_of(to) != 7 || abs_of(step) > 1) return -1;
    const int base = LC0.promotion[static_cast<std::size_t>(file_of(m.from))]
                                  [static_cast<std::size_t>(step + 1)];
    return base + (m.promotion == QUEEN ? 0 : m.promotion == ROOK ? 1 : 2);
}

constexpr int alphazero_index(const PolicyMove& m) {
    int to = m.to;
    // The king taking its own rook is castling written the other way.
    if (m.castling) to = m.from + castling_king_step(castling_side_toward(m.from, m.to));
    const int df = file_of(to) - file_of(m.from), dr = rank_of(to) - rank_of(m.from);
    const int base = (file_of(m.from) * 8 + rank_of(m.from)) * AZ_PLANES;
    if (m.promotion == KNIGHT || m.promotion == BISHOP || m.promotion == ROOK) {
        if (rank_of(m.from) != 6 || dr != 1 || abs_of(df) > 1) return -1;
        const int piece = m.promotion == KNIGHT ? 0 : m.promotion == BISHOP ? 1 : 2;
        return base + AZ_UNDERPROMOTION_PLANE + 3 * (df + 1) + piece;
    }
    if (m.from != to && (df == 0 || dr == 0 || abs_of(df) == abs_of(dr))) {
        const int distance = abs_of(df) > abs_of(dr) ? abs_of(df) : abs_of(dr);
        return base + (distance - 1) * 8 + queen_direction(sign_of(df), sign_of(dr));
    }
    if (m.promotion == PAWN)
        for (int k = 0; k < 8; ++k)
            if (KNIGHT_STEPS[k][0] == df && KNIGHT_STEPS[k][1] == dr)
                return base + AZ_KNIGHT_PLANE + k;
    return -1;
}

constexpr int index_of(const PolicyMove& m, PolicyScheme scheme) {
    return scheme == PolicyScheme::LC0 ? lc0_index(m) : alphazero_index(m);
}

constexpr PolicyTable make_policy_table(PolicyScheme scheme) {
    PolicyTable t{};
    t.scheme = scheme;
    for (int from = 0; from < 64; ++from)
        for (int to = 0; to < 64; ++to)
            t.plain[static_cast<std::size_t>(from | to << 6)] =
                static_cast<std::int16_t>(index_of(PolicyMove{from, to, PAWN, false}, scheme));
    return t;
}

constexpr PolicyTable LC0_TABLE = make_policy_table(PolicyScheme::LC0);
constexpr PolicyTable ALPHAZERO_TABLE = make_policy_table(PolicyScheme::ALPHAZERO);
static_assert(LC0_TABLE.plain[12 | 28 << 6] == 322, "e2e4");
static_assert(ALPHAZERO_TABLE.plain[4 | 6 << 6] == (4 * 8 + 0) * AZ_PLANES + 8 + 6, "e1g1");

constexpr Kind promotion_kind(int special) {
    return special >= ChessMove::PROMOTE_KNIGHT && special <= ChessMove::PROMOTE_QUEEN
               ? static_cast<Kind>(special - ChessMove::PROMOTE_KNIGHT + KNIGHT)
               : PAWN;
}

// Squares seen from the mover: Black's are mirrored by rank.
constexpr int view(int sq, Colour mover) { return mover == WHITE ? sq : sq ^ 56; }

}  // namespace

void check_policy_index(long long index, PolicyScheme scheme) {
    if (index < 0 || index >= policy_size(scheme))
        throw InvalidInput("Invalid policy index: " + std::to_string(index) + " is not in 0 to " +
                           std::to_string(policy_size(scheme) - 1) + " (" +
                           std::string(name(scheme)) + ")");
}

PolicyScheme policy_scheme_from_str(std::string_view text) {
    if (text == "lc0") return PolicyScheme::LC0;
    if (text == "alphazero") return PolicyScheme::ALPHAZERO;
    throw InvalidInput("Invalid policy scheme: expected \"lc0\" or \"alphazero\", got \"" +
                       std::string(text) + "\"");
}

std::string_view name(PolicyScheme scheme) {
    return scheme == PolicyScheme::LC0 ? "lc0" : "alphazero";
}

const PolicyTable& policy_table(PolicyScheme scheme) {
    return scheme == PolicyScheme::LC0 ? LC0_TABLE : ALPHAZERO_TABLE;
}

int policy_index(ChessMove move, Colour mover, PolicyScheme scheme, bool chess960) {
    // A Chess960 castling move is already the king's move onto its rook.
    const PolicyMove m{view(move.from(), mover), view(move.to(), mover),
                       promotion_kind(move.special()),
                       move.special() == ChessMove::CASTLING && !chess960};
    return index_of(m, scheme);
}

int policy_index_of_text(const Board& board, std::string_view text, PolicyScheme scheme) {
    const ChessMove move = ChessMove::from_checked_str(text);
    const Colour mover = board.side_to_move();
    const int from = move.from(), to = move.to();
    // A king moving two files along its rank, or onto its own rook, castles.
    const bool castling =
        !board.chess960 && holds(board, mover, KING, from) && rank_of(from) == rank_of(to) &&
        (file_of(to) - file_of(from) == castling_king_step(castling_side_toward(from, to)) ||
         holds(board, mover, ROOK, to));
    const PolicyMove m{view(from, mover), view(to, mover), promotion_kind(move.special()),
                       castling};
    const int index = index_of(m, scheme);
    if (index < 0)
        throw InvalidInput(std::string(messages::INVALID_MOVE) + std::string(text) +
                           " has no index in the " + std::string(name(scheme)) + " encoding");
    return index;
}

PolicyMove policy_move(int index, PolicyScheme scheme) {
    check_policy_index(index, scheme);
    if (scheme == PolicyScheme::LC0) return LC0.moves[static_cast<std::size_t>(index)];
    const int square = index / AZ_PLANES, plane = index % AZ_PLANES;
    const int file = square / 8, rank = square % 8;
    int df = 0, dr = 0;
    Kind promotion = PAWN;
    if (plane < AZ_KNIGHT_PLANE) {
        const int distance = plane / 8 + 1;
        df = QUEEN_STEPS[plane % 8][0] * distance;
        dr = QUEEN_STEPS[plane % 8][1] * distance;
    } else if (plane < AZ_UNDERPROMOTION_PLANE) {
        df = KNIGHT_STEPS[plane - AZ_KNIGHT_PLANE][0];
        dr = KNIGHT_STEPS[plane - AZ_KNIGHT_PLANE][1];
    } else {
        const int p = plane - AZ_UNDERPROMOTION_PLANE;
        df = p / 3 - 1;
        dr = 1;
        promotion = p % 3 == 0 ? KNIGHT : p % 3 == 1 ? BISHOP : ROOK;
    }
    const int to_file = file + df, to_rank = rank + dr;
    // Under-promotions start on the seventh rank only.
    const bool off_rank = promotion != PAWN && rank != 6;
    if (off_rank || to_file < 0 || to_file > 7 || to_rank < 0 || to_rank > 7)
        throw InvalidInput("Invalid policy index: " + std::to_string(index) +
                           " names no move on the board (alphazero)");
    return PolicyMove{rank * 8 + file, to_rank * 8 + to_file, promotion, false};
}

std::string policy_text(const Board& board, int index, PolicyScheme scheme) {
    PolicyMove m = policy_move(index, scheme);
    const Colour mover = board.side_to_move();
    const int from = view(m.from, mover);
    int to = view(m.to, mover);
    if (!board.chess960 && holds(board, mover, KING, from) && scheme == PolicyScheme::LC0 &&
        holds(board, mover, ROOK, to) && rank_of(from) == rank_of(to))
        to = from + castling_king_step(castling_side_toward(from, to));
    if (m.promotion == PAWN && holds(board, mover, PAWN, from) && rank_of(m.from) == 6 &&
        rank_of(m.to) == 7)
        m.promotion = scheme == PolicyScheme::LC0 ? KNIGHT : QUEEN;
    const int special =
        m.promotion == PAWN ? 0 : ChessMove::PROMOTE_KNIGHT + (m.promotion - KNIGHT);
    return ChessMove::pack(from, to, special).to_string();
}

}  // namespace vemla
