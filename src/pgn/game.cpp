#include "pgn/game.hpp"

#include "move_generator/san.hpp"

namespace vemla::pgn {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// "Standard", "From Position" (a standard game from a set-up position) or an
// empty value: the rules of chess.
bool standard_variant(std::string_view name) {
    return name.empty() || equal_ignoring_case(name, "standard") || equal_ignoring_case(name, "from position");
}

}  // namespace

bool start_position(const PgnGame& game, Board& board, PlayedGame& played) {
    bool found = false;
    const std::string_view fen = game.find_tag("FEN", found);
    if (found) {
        played.has_fen = true;
        played.fen.assign(fen);
    }
    if (!game.tag_error.empty()) {
        played.error = game.tag_error;
        return false;
    }
    const std::string_view variant = game.find_tag("Variant", found);
    if (found && !standard_variant(variant)) {
        played.error = "unsupported variant: ";
        played.error.append(variant);
        return false;
    }
    const FenRejection rejection = Board::read_fen(played.has_fen ? fen : DEFAULT_FEN, board);
    if (rejection != FenRejection::NONE) {
        played.error = "invalid FEN tag \"";
        played.error.append(fen).append("\": ").append(fen_rejection_message(rejection));
        return false;
    }
    return true;
}

void play(const MoveGenerator& generator, const PgnGame& game, Board& board, PlayedGame& played) {
    played.moves.reserve(game.sans.size());
    for (std::size_t i = 0; i < game.sans.size(); ++i) {
        const std::string_view san = game.san(i);
        ChessMove move;
        const SanRejection rejection = parse_san(generator, board, san, move);
        if (rejection != SanRejection::NONE) [[unlikely]] {
            played.error = "ply " + std::to_string(i + 1) + ": " + san_rejection_message(rejection, san, board.fen());
            return;
        }
        board.push_move(move);
        played.moves.push_back(move);
    }
    played.error = game.end_error;
}

void GameReader::finish(PgnGame& game, PlayedGame& played, bool keep) {
    played.clear();
    if (!keep) {
        reader_.read_movetext(game, false);
        return;
    }
    const bool playable = start_position(game, board_, played);
    reader_.read_movetext(game, playable);
    if (playable) play(generator_, game, board_, played);
}

}  // namespace vemla::pgn
