#include "notation/pgn_game.hpp"

#include "notation/pgn_tree.hpp"
#include "notation/san.hpp"

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
    return name.empty() || equal_ignoring_case(name, "standard") ||
           equal_ignoring_case(name, "from position");
}

}  // namespace

bool chess960_variant(std::string_view name) {
    return equal_ignoring_case(name, "chess960") || equal_ignoring_case(name, "chess 960") ||
           equal_ignoring_case(name, "fischerandom") ||
           equal_ignoring_case(name, "fischer random") || equal_ignoring_case(name, "960");
}

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
    played.chess960 = found && chess960_variant(variant);
    if (found && !played.chess960 && !standard_variant(variant)) {
        played.error = "unsupported variant: ";
        played.error.append(variant);
        return false;
    }
    if (!played.has_fen && !played.chess960) {
        // Most games start from the standard position, and so did the last
        // one, usually: taking its moves back is cheaper than reading the
        // FEN again, and keeps the board's stacks and their capacity.
        static const Board standard = Board::from_full_fen(DEFAULT_FEN);
        while (board.ply() > 0) board.pop_move();
        if (board == standard) return true;
    }
    // A Chess960 game without a FEN tag starts from the standard position,
    // number 518, under Chess960's castling rules.
    const FenRejection rejection =
        Board::read_full_fen(played.has_fen ? fen : DEFAULT_FEN, board, played.chess960);
    if (rejection != FenRejection::NONE) {
        played.error = "invalid FEN tag \"";
        played.error.append(fen).append("\": ").append(fen_rejection_message(rejection));
        return false;
    }
    return true;
}

namespace {

// Makes a legal move of a piece of the given kind on a board that
// sound_for_san accepts: the mover is the side to move's piece of that kind.
void make_known(Board& board, ChessMove move, int kind) {
    const Colour side = board.side_to_move();
    const Bitboard enemy = board.pieces(opposite(side));
    switch (kind) {
        case PAWN: board.make_move<PAWN>(move, piece_of(side, PAWN), enemy); break;
        case KNIGHT: board.make_move<KNIGHT>(move, piece_of(side, KNIGHT), enemy); break;
        case BISHOP: board.make_move<BISHOP>(move, piece_of(side, BISHOP), enemy); break;
        case ROOK: board.make_move<ROOK>(move, piece_of(side, ROOK), enemy); break;
        case QUEEN: board.make_move<QUEEN>(move, piece_of(side, QUEEN), enemy); break;
        default: board.make_move<KING>(move, piece_of(side, KING), enemy); break;
    }
}

// A token the SAN reader refused that is a legal move in long algebraic text
// ("g1f3", "e7e8q", castling as the king's move "e1g1"): sets move to it.
// Making it tells castling and en passant from the squares, as for SAN.
bool long_algebraic(const MoveGenerator& generator, Board& board, std::string_view text,
                    ChessMove& move) {
    ChessMove given;
    if (ChessMove::parse(text, given) != ChessMove::Rejection::NONE) return false;
    std::string san;
    if (!append_san(generator, board, given, san)) return false;
    move = given;
    return true;
}

}  // namespace

bool read_refused_token(const MoveGenerator& generator, Board& board, std::string_view text,
                        SanRejection rejection, ChessMove& move) {
    if (rejection == SanRejection::NULL_MOVE) {
        move = NULL_MOVE_CODE;
        return true;
    }
    return rejection != SanRejection::AMBIGUOUS && long_algebraic(generator, board, text, move);
}

namespace {

enum class Refused { STOP, MADE, MADE_TAKING_KING };

// A token the SAN reader refused: a null move or a long algebraic move is
// made and appended; otherwise played.error names the fault and the game
// stops. Out of play's loop, which it would otherwise slow.
[[gnu::noinline, gnu::cold]] Refused play_refused(const MoveGenerator& generator, Board& board,
                                                  std::string_view san, SanRejection rejection,
                                                  std::size_t index, PlayedGame& played) {
    ChessMove move;
    if (!read_refused_token(generator, board, san, rejection, move)) {
        played.error = "ply " + std::to_string(index + 1) + ": " +
                       san_rejection_message(rejection, san, board.fen());
        return Refused::STOP;
    }
    if (move == NULL_MOVE_CODE) {
        board.push_null();
        played.moves.push_back(NULL_MOVE_CODE);
        return Refused::MADE;
    }
    // The mover's kind is not known here: made as any move.
    const bool takes_king =
        (board.pieces(opposite(board.side_to_move()), KING) & square_bb(move.to())) != 0;
    board.push_move(move);
    played.moves.push_back(move);
    return takes_king ? Refused::MADE_TAKING_KING : Refused::MADE;
}

}  // namespace

void play(const MoveGenerator& generator, const PgnGame& game, Board& board, PlayedGame& played) {
    played.moves.reserve(game.sans.size());
    // A sound start stays sound through legal moves, checked once, and the
    // mover's kind then comes from the SAN; only a move that takes a king (a
    // set-up position can leave one en prise) ends it.
    bool sound = sound_for_san(board);
    for (std::size_t i = 0; i < game.sans.size(); ++i) {
        const std::string_view san = game.san(i);
        ChessMove move;
        int kind = 0;
        const SanRejection rejection = sound ? parse_san_sound(generator, board, san, move, kind)
                                             : parse_san(generator, board, san, move);
        if (rejection != SanRejection::NONE) [[unlikely]] {
            const Refused made = play_refused(generator, board, san, rejection, i, played);
            if (made == Refused::STOP) return;
            if (made == Refused::MADE_TAKING_KING) sound = false;
            continue;
        }
        if (sound) {
            if (board.pieces(opposite(board.side_to_move()), KING) & square_bb(move.to()))
                [[unlikely]]
                sound = false;
            make_known(board, move, kind);
        } else {
            board.push_move(move);
        }
        played.moves.push_back(move);
    }
    played.error = game.end_error;
}

GameReader::GameReader(const MoveGenerator& generator, ReadFn read, std::size_t chunk,
                       std::uint64_t game_limit)
    : generator_(generator), reader_(std::move(read), chunk, game_limit) {}

GameReader::~GameReader() = default;

void GameReader::read_variations(bool on) {
    reader_.record_variations(on);
    if (on && !tree_) tree_ = std::make_unique<GameTree>();
    if (!on) tree_.reset();
}

void GameReader::finish(PgnGame& game, PlayedGame& played, bool keep) {
    played.clear();
    if (!keep) {
        reader_.read_movetext(game, false);
        return;
    }
    const bool playable = start_position(game, board_, played);
    if (tree_) {
        tree_->clear();
        tree_->nodes.emplace_back();
        if (playable) tree_board_ = board_;
    }
    reader_.read_movetext(game, playable);
    if (!playable) return;
    play(generator_, game, board_, played);
    if (tree_) build_tree(generator_, game, played, tree_board_, *tree_);
}

}  // namespace vemla::pgn
