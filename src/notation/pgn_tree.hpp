// A game with its side variations: a tree of moves kept in one flat array,
// built from the tokenizer's events and walked without recursion, however
// deep the variations nest.
//
// Node 0 is the root, the game's start position; every other node is a move
// played from its parent's position. A node's children are the moves tried
// there, the one its own line goes on with first (the mainline's children
// are the mainline). A variation is the alternative to the move before it:
// "1. e4 (1. d4 d5) 1... e5" gives the root the children e4 and d4.
//
// The annotations are kept as the tokenizer found them, with the node's
// index in place of the ply (comments[0] is the one before the first move,
// evals[i - 1] that of node i): notation::RawAnnotations reads them like a
// mainline's. A comment at the start of a variation, before its first move,
// is that move's starting comment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/mod.hpp"
#include "chess_move/mod.hpp"
#include "move_generator/mod.hpp"
#include "notation/annotations.hpp"
#include "notation/pgn_game.hpp"
#include "notation/pgn_reader.hpp"

namespace vemla::pgn {

inline constexpr std::uint32_t NO_NODE = ~std::uint32_t{0};

struct TreeNode {
    ChessMove move{};  // NULL_MOVE_CODE for a null move; unused at the root
    std::uint32_t parent = NO_NODE;
    std::uint32_t first_child = NO_NODE;
    std::uint32_t last_child = NO_NODE;
    std::uint32_t next_sibling = NO_NODE;
    std::uint32_t ply = 0;  // moves from the start position
    // The move's SAN as append_san writes it ("--" for a null move), once
    // write_sans has run.
    char san[8] = {};
    std::uint8_t san_length = 0;

    std::string_view san_text() const { return {san, san_length}; }
};

// A comment before the first move of a variation: the text, trimmed (several
// joined by a space), of the node that move is.
struct StartingComment {
    std::uint32_t node;
    std::string text;
};

struct GameTree {
    std::vector<TreeNode> nodes;              // nodes[0] is the root
    notation::RawAnnotations notes;           // by node index; plies = nodes.size() - 1
    std::vector<StartingComment> starting;    // ordered by node
    // The faults that cut a variation short: "ply 7 in a variation: <why>".
    std::vector<std::string> errors;
    bool sans_written = false;  // write_sans has filled the nodes' SANs

    void clear();
    std::size_t size() const { return nodes.size(); }
    // The number of children of node i.
    std::size_t child_count(std::uint32_t i) const;
    // Appends a node for move as the last child of parent.
    std::uint32_t add_child(std::uint32_t parent, ChessMove move);
    // The starting comment of node i, or null.
    const std::string* starting_comment(std::uint32_t i) const;
};

// Builds the tree of a game from game.events: the mainline is played.moves
// (the moves the game kept, up to its fault), each variation is played on
// board from where it branches and cut at its first move that is not legal
// (the rest of that variation, the ones nested in it included, is dropped and
// the fault recorded in tree.errors). board stands at the game's start
// position and is left there.
void build_tree(const MoveGenerator& generator, const PgnGame& game, const PlayedGame& played,
                Board& board, GameTree& tree);

// Fills every node's SAN, once: they are not written while the tree is
// built, which would cost as much as the rest of the reading. board stands
// at the game's start position and is left there.
void write_sans(const MoveGenerator& generator, GameTree& tree, Board& board);

// Moves board, which stands at node from, to node to, taking back and making
// the moves between them: a walk over the tree in order costs each move
// twice at most.
// path is the scratch room for the moves to make.
void walk_to(const GameTree& tree, Board& board, std::uint32_t from, std::uint32_t to,
             std::vector<std::uint32_t>& path);

}  // namespace vemla::pgn
