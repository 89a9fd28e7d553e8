#include "notation/pgn_tree.hpp"

#include <algorithm>

#include "notation/san.hpp"

namespace vemla::pgn {

namespace {

constexpr bool is_blank(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

void make(Board& board, ChessMove move) {
    if (move == NULL_MOVE_CODE)
        board.push_null();
    else
        board.push_move(move);
}

// One line being read: the mainline or a variation.
struct Line {
    std::uint32_t start;  // the node it branches from
    std::uint32_t node;   // the node of its last move; start while it has none
    // The last child start had when the line opened: the line's first move
    // goes right after it, before the moves of variations opened meanwhile.
    std::uint32_t mark;
    std::uint32_t pending;  // index of its starting comment in the pending texts, or NO_NODE
};

}  // namespace

void GameTree::clear() {
    nodes.clear();
    notes.text.clear();
    notes.comments.clear();
    notes.nags.clear();
    notes.plies = 0;
    starting.clear();
    errors.clear();
    sans_written = false;
}

void write_sans(const MoveGenerator& generator, GameTree& tree, Board& board) {
    if (tree.sans_written) return;
    std::vector<std::uint32_t> path;
    std::string san;
    std::uint32_t at = 0;
    // Nodes come after their parents, mostly right after: in index order
    // the walk costs each move a few times at most.
    for (std::uint32_t i = 1; i < tree.nodes.size(); ++i) {
        TreeNode& node = tree.nodes[i];
        walk_to(tree, board, at, node.parent, path);
        san.clear();
        if (node.move == NULL_MOVE_CODE)
            san = "--";
        else
            append_san(generator, board, node.move, san);
        node.san_length = static_cast<std::uint8_t>(std::min(san.size(), sizeof node.san));
        std::copy_n(san.data(), node.san_length, node.san);
        make(board, node.move);
        at = i;
    }
    walk_to(tree, board, at, 0, path);
    tree.sans_written = true;
}

std::size_t GameTree::child_count(std::uint32_t i) const {
    std::size_t count = 0;
    for (std::uint32_t c = nodes[i].first_child; c != NO_NODE; c = nodes[c].next_sibling) ++count;
    return count;
}

std::uint32_t GameTree::add_child(std::uint32_t parent, ChessMove move) {
    const auto index = static_cast<std::uint32_t>(nodes.size());
    TreeNode node;
    node.move = move;
    node.parent = parent;
    node.ply = nodes[parent].ply + 1;
    nodes.push_back(node);
    TreeNode& up = nodes[parent];
    if (up.last_child == NO_NODE)
        up.first_child = index;
    else
        nodes[up.last_child].next_sibling = index;
    up.last_child = index;
    return index;
}

const std::string* GameTree::starting_comment(std::uint32_t i) const {
    const auto found = std::lower_bound(
        starting.begin(), starting.end(), i,
        [](const StartingComment& comment, std::uint32_t node) { return comment.node < node; });
    return found != starting.end() && found->node == i ? &found->text : nullptr;
}

void walk_to(const GameTree& tree, Board& board, std::uint32_t from, std::uint32_t to,
             std::vector<std::uint32_t>& path) {
    path.clear();
    const auto& nodes = tree.nodes;
    while (nodes[to].ply > nodes[from].ply) {
        path.push_back(to);
        to = nodes[to].parent;
    }
    while (nodes[from].ply > nodes[to].ply) {
        board.pop_move();
        from = nodes[from].parent;
    }
    while (from != to) {
        board.pop_move();
        from = nodes[from].parent;
        path.push_back(to);
        to = nodes[to].parent;
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) make(board, nodes[*it].move);
}

void build_tree(const MoveGenerator& generator, const PgnGame& game, const PlayedGame& played,
                Board& board, GameTree& tree) {
    tree.clear();
    std::size_t moves = 0;
    for (const PgnEvent& event : game.events) moves += event.kind == PgnEvent::MOVE;
    tree.nodes.reserve(moves + 1);
    tree.nodes.emplace_back();
    std::vector<Line> lines{Line{0, 0, NO_NODE, NO_NODE}};
    std::vector<std::string> pending;  // starting comments of lines without a move yet
    std::vector<std::uint32_t> path;
    // Variations opened inside one cut short: skipped with it.
    std::size_t dead = 0;
    bool cut = false;  // the current line is cut short
    std::uint32_t at = 0;  // the node board stands at, left behind by the mainline
    std::size_t mainline = 0;  // mainline moves read
    // A closed line's starting comment, unused, is the last of the pending
    // texts: the lines opened after it have closed before.
    const auto close_line = [&] {
        if (lines.back().pending != NO_NODE) pending.pop_back();
        lines.pop_back();
    };
    bool over = false;  // past the mainline's last move
    for (std::size_t e = 0; e < game.events.size() && !over; ++e) {
        const PgnEvent& event = game.events[e];
        if (cut) {
            if (event.kind == PgnEvent::OPEN) ++dead;
            if (event.kind == PgnEvent::CLOSE) {
                if (dead > 0) {
                    --dead;
                } else {
                    close_line();
                    cut = false;
                }
            }
            continue;
        }
        Line& line = lines.back();
        switch (event.kind) {
            case PgnEvent::OPEN: {
                // The alternative to the line's last move, or, before it has
                // one, to the move it begins with.
                const std::uint32_t start =
                    line.node == line.start ? line.start : tree.nodes[line.node].parent;
                lines.push_back(Line{start, start, tree.nodes[start].last_child, NO_NODE});
                break;
            }
            case PgnEvent::CLOSE:
                // The tokenizer closes only what it opened.
                if (lines.size() > 1) close_line();
                break;
            case PgnEvent::MOVE: {
                const bool main = lines.size() == 1;
                ChessMove move;
                if (main) {
                    // The mainline as the game was played, up to its fault:
                    // nothing after that fault belongs to the tree.
                    if (mainline == played.moves.size()) {
                        over = true;
                        break;
                    }
                    move = played.moves[mainline++];
                }
                if (!main) {
                    // The board is needed only here, and brought here only
                    // now: the mainline alone costs no move on it.
                    walk_to(tree, board, at, line.node, path);
                    at = line.node;
                    const std::string_view text = game.view(event.span);
                    const SanRejection rejection = parse_san(generator, board, text, move);
                    if (rejection != SanRejection::NONE &&
                        !read_refused_token(generator, board, text, rejection, move)) {
                        tree.errors.push_back("ply " + std::to_string(tree.nodes[at].ply + 1) +
                                              " in a variation: " +
                                              san_rejection_message(rejection, text, board.fen()));
                        cut = true;
                        break;
                    }
                }
                std::uint32_t node;
                const std::uint32_t parent = line.node;
                if (parent == line.start && tree.nodes[parent].last_child != line.mark) {
                    // Variations opened before the line's first move already
                    // hang there: the line's own move goes before them.
                    node = static_cast<std::uint32_t>(tree.nodes.size());
                    const std::uint32_t last = tree.nodes[parent].last_child;
                    tree.add_child(parent, move);
                    TreeNode& up = tree.nodes[parent];
                    tree.nodes[last].next_sibling = NO_NODE;
                    up.last_child = last;
                    if (line.mark == NO_NODE) {
                        tree.nodes[node].next_sibling = up.first_child;
                        up.first_child = node;
                    } else {
                        tree.nodes[node].next_sibling = tree.nodes[line.mark].next_sibling;
                        tree.nodes[line.mark].next_sibling = node;
                    }
                } else {
                    node = tree.add_child(parent, move);
                }
                if (line.pending != NO_NODE) {
                    tree.starting.push_back(StartingComment{node, std::move(pending[line.pending])});
                    pending.pop_back();
                    line.pending = NO_NODE;
                }
                if (!main) {
                    make(board, move);
                    at = node;
                }
                line.node = node;
                break;
            }
            case PgnEvent::COMMENT: {
                const std::string_view text = game.view(event.span);
                if (line.node == line.start && lines.size() > 1) {
                    const std::string_view kept = trim(text);
                    if (kept.empty()) break;
                    if (line.pending == NO_NODE) {
                        line.pending = static_cast<std::uint32_t>(pending.size());
                        pending.emplace_back();
                    }
                    std::string& comment = pending[line.pending];
                    if (!comment.empty()) comment += ' ';
                    comment.append(kept);
                    break;
                }
                const auto offset = static_cast<std::uint32_t>(tree.notes.text.size());
                tree.notes.text.append(text);
                tree.notes.comments.push_back(
                    PgnComment{line.node, Span{offset, static_cast<std::uint32_t>(text.size())}});
                break;
            }
            case PgnEvent::NAG:
                // One before a line's first move has no move to go with.
                if (line.node != line.start)
                    tree.notes.nags.push_back(PgnNag{line.node, event.span.offset});
                break;
        }
    }
    walk_to(tree, board, at, 0, path);
    tree.notes.plies = tree.nodes.size() - 1;
    std::stable_sort(tree.notes.nags.begin(), tree.notes.nags.end(),
                     [](const PgnNag& a, const PgnNag& b) { return a.ply < b.ply; });
}

}  // namespace vemla::pgn
