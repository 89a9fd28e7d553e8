// Searches magic multipliers for rook and bishop attack lookup and prints
// src/move_generator/magics.hpp. The seed is fixed, so every run prints the
// same file:
//   g++ -std=c++20 -O2 -o find_magics tools/find_magics.cpp
//   ./find_magics > src/move_generator/magics.hpp
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using u64 = std::uint64_t;

enum Kind { ROOK, BISHOP };

constexpr std::array<int, 4> ROOK_STEPS = {8, -8, 1, -1};
constexpr std::array<int, 4> BISHOP_STEPS = {9, -9, 7, -7};

const std::array<int, 4>& steps(Kind kind) { return kind == ROOK ? ROOK_STEPS : BISHOP_STEPS; }

int file_of(int s) { return s % 8; }
int rank_of(int s) { return s / 8; }

// A step leaves the board either past a1/h8 or by wrapping around a side
// edge, which shows up as a file jump of more than one.
bool on_board(int from, int to) {
    return to >= 0 && to < 64 && std::abs(file_of(to) - file_of(from)) <= 1;
}

u64 attacks(Kind kind, int s, u64 occ) {
    u64 result = 0;
    for (int step : steps(kind)) {
        for (int p = s, t = s + step; on_board(p, t); p = t, t += step) {
            result |= u64{1} << t;
            if (occ >> t & 1) break;
        }
    }
    return result;
}

// Edge squares never block anything beyond themselves, so they stay out of
// the mask; that keeps the tables small.
u64 mask(Kind kind, int s) {
    if (kind == ROOK) {
        u64 m = (0x0001010101010100ULL << file_of(s)) | (0x7EULL << (8 * rank_of(s)));
        return m & ~(u64{1} << s);
    }
    u64 m = 0;
    for (int step : BISHOP_STEPS) {
        for (int p = s, t = s + step; on_board(p, t); p = t, t += step) {
            if (rank_of(t) == 0 || rank_of(t) == 7 || file_of(t) == 0 || file_of(t) == 7) break;
            m |= u64{1} << t;
        }
    }
    return m;
}

int shift(Kind kind, int s) { return 64 - std::popcount(mask(kind, s)); }

// Every occupancy of the mask's squares together with the attack set it gives.
struct Subsets {
    std::vector<u64> occ, att;
};

Subsets subsets(Kind kind, int s) {
    Subsets r;
    const u64 m = mask(kind, s);
    u64 sub = 0;
    do {  // walks all subsets of m, starting and ending at the empty set
        r.occ.push_back(sub);
        r.att.push_back(attacks(kind, s, sub));
        sub = (sub - m) & m;
    } while (sub != 0);
    return r;
}

// Two occupancies may share an index only if they give the same attacks.
bool valid(Kind kind, int s, u64 magic, const Subsets& subs) {
    const int sh = shift(kind, s);
    std::vector<u64> table(std::size_t{1} << (64 - sh));
    std::vector<bool> used(table.size());
    for (std::size_t i = 0; i < subs.occ.size(); ++i) {
        const u64 idx = (subs.occ[i] * magic) >> sh;
        if (!used[idx]) {
            used[idx] = true;
            table[idx] = subs.att[i];
        } else if (table[idx] != subs.att[i]) {
            return false;
        }
    }
    return true;
}

struct SplitMix64 {
    u64 state;
    u64 next() {
        u64 z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Good multipliers tend to have few bits set.
    u64 sparse() { return next() & next() & next(); }
};

struct Fixed {
    int square;
    u64 magic;
};

// Multipliers chosen earlier and kept as they are.
constexpr std::array<Fixed, 4> ROOK_FIXED = {{{0, 0x0A8002C000108020ULL},
                                              {7, 0x2880002041000080ULL},
                                              {27, 0x0D14880480100080ULL},
                                              {63, 0x0026002114058042ULL}}};
constexpr std::array<Fixed, 4> BISHOP_FIXED = {{{0, 0x89A1121896040240ULL},
                                                {7, 0x0028808801216001ULL},
                                                {27, 0x000400C00C010142ULL},
                                                {63, 0x40102000A0A60140ULL}}};

const char* name(Kind kind) { return kind == ROOK ? "rook" : "bishop"; }

// Returns false if a fixed multiplier is invalid or the final check fails.
bool build(Kind kind, SplitMix64& rng, std::array<u64, 64>& magics) {
    const auto& fixed = kind == ROOK ? ROOK_FIXED : BISHOP_FIXED;
    bool ok = true;
    for (int s = 0; s < 64; ++s) {
        const Subsets subs = subsets(kind, s);
        const Fixed* f = nullptr;
        for (const Fixed& candidate : fixed)
            if (candidate.square == s) f = &candidate;
        if (f != nullptr) {
            magics[static_cast<std::size_t>(s)] = f->magic;
            if (!valid(kind, s, f->magic, subs)) {
                std::fprintf(stderr, "ERROR: fixed %s multiplier for square %d is invalid\n",
                             name(kind), s);
                ok = false;
            }
            continue;
        }
        const u64 m = mask(kind, s);
        // The popcount test is a cheap pre-filter: a multiplier that moves few
        // mask bits into the index bits rarely spreads the subsets well.
        u64 magic;
        do {
            magic = rng.sparse();
        } while (std::popcount((m * magic) & 0xFF00000000000000ULL) < 6 ||
                 !valid(kind, s, magic, subs));
        magics[static_cast<std::size_t>(s)] = magic;
    }
    // Independent final pass over the whole table, fixed entries included.
    for (int s = 0; s < 64; ++s) {
        if (!valid(kind, s, magics[static_cast<std::size_t>(s)], subsets(kind, s))) {
            std::fprintf(stderr, "ERROR: %s multiplier for square %d is invalid\n", name(kind), s);
            ok = false;
        }
    }
    return ok;
}

void print_table(const char* table_name, const std::array<u64, 64>& magics) {
    std::printf("inline constexpr std::array<std::uint64_t, 64> %s = {\n", table_name);
    for (int rank = 0; rank < 8; ++rank) {
        std::printf("   ");
        for (int file = 0; file < 8; ++file)
            std::printf(" 0x%016llX,", static_cast<unsigned long long>(
                                           magics[static_cast<std::size_t>(8 * rank + file)]));
        std::printf("\n");
    }
    std::printf("};\n");
}

}  // namespace

int main() {
    SplitMix64 rng{0x5EED'CAFE'F00D'1234ULL};
    std::array<u64, 64> rook{}, bishop{};
    const bool rook_ok = build(ROOK, rng, rook);
    const bool bishop_ok = build(BISHOP, rng, bishop);
    if (!rook_ok || !bishop_ok) return 1;

    std::printf(
        "// Generated by tools/find_magics.cpp; do not edit by hand.\n"
        "// To regenerate, build that program and run it with its output redirected\n"
        "// to this file.\n"
        "#pragma once\n"
        "\n"
        "#include <array>\n"
        "#include <cstdint>\n"
        "\n"
        "namespace vemla {\n"
        "\n"
        "// Indexed by square (a1 = 0, h8 = 63): one rank per line, rank 1 first,\n"
        "// files a to h from left to right.\n");
    print_table("ROOK_MAGICS", rook);
    std::printf("\n");
    print_table("BISHOP_MAGICS", bishop);
    std::printf("\n}  // namespace vemla\n");
    return 0;
}
