// Playing a tokenized game: its start position from the [FEN] tag, then each
// mainline move token on the board, up to the first that does not name a
// legal move. A token is SAN, or a legal move in long algebraic text
// ("g1f3"), or a null move ("--", "Z0", "0000", "@@@@": the side to move
// passes).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "board/mod.hpp"
#include "chess_move/mod.hpp"
#include "move_generator/mod.hpp"
#include "notation/pgn_reader.hpp"
#include "notation/san.hpp"

namespace vemla::pgn {

// A game's moves as played, and the first fault that stopped them.
struct PlayedGame {
    bool has_fen = false;  // the game starts from its [FEN] tag
    bool chess960 = false;  // its [Variant] tag names Chess960
    std::string fen;       // that tag's text
    std::vector<ChessMove> moves;
    std::string error;  // empty when the game was read to its end without a fault

    void clear() {
        has_fen = false;
        chess960 = false;
        fen.clear();
        moves.clear();
        error.clear();
    }
};

// Whether the game's tags let its moves be read, and if so sets board to its
// start position. Refused: a malformed tag pair, a [Variant] other than
// standard chess ("unsupported variant: <name>"), a [FEN] tag that does not
// read. played.error names the refusal; played.has_fen and played.fen are set
// from the tags either way.
// Chess960 games are read too: a [Variant] of "Chess960", "Chess 960",
// "Fischerandom", "Fischer Random" or "960" (in any case) reads the FEN tag as
// X-FEN or Shredder-FEN onto a Chess960 board.
bool start_position(const PgnGame& game, Board& board, PlayedGame& played);

// Whether a [Variant] tag's value names Chess960.
bool chess960_variant(std::string_view name);

// Plays game.sans on board from where start_position left it, appending each
// move to played.moves (NULL_MOVE_CODE for a null move, made with
// Board::push_null). The first token that is malformed, illegal or ambiguous
// stops the game; played.error then names its ply, the token
// and the position. A game played to its last token takes the tokenizer's
// end error, if it has one (truncated, over the size limit).
void play(const MoveGenerator& generator, const PgnGame& game, Board& board, PlayedGame& played);

// A move token that parse_san refused for rejection, read as what else it
// may be: a null move (move is NULL_MOVE_CODE) or a legal move in long
// algebraic text. False when it is neither.
bool read_refused_token(const MoveGenerator& generator, Board& board, std::string_view text,
                        SanRejection rejection, ChessMove& move);

struct GameTree;

// Reads, keeps or skips, and plays game after game: what every caller of the
// reader does. keep(game) is asked after the tags and before any move is read;
// a refused game is passed over at the cost of scanning its movetext.
class GameReader {
public:
    GameReader(const MoveGenerator& generator, ReadFn read, std::size_t chunk = DEFAULT_CHUNK,
               std::uint64_t game_limit = DEFAULT_GAME_LIMIT);
    ~GameReader();

    // With on set, finish also builds each kept game's tree of variations
    // into tree().
    void read_variations(bool on);

    // The next game's tags into game; false at the end of the input.
    bool next_tags(PgnGame& game) { return reader_.next_game(game); }
    // Reads the movetext of the game next_tags returned, and plays it into
    // played unless keep is false (then played holds only its start).
    void finish(PgnGame& game, PlayedGame& played, bool keep);

    // The board after the last game finished, at its last played move.
    Board& board() { return board_; }
    const PgnReader& reader() const { return reader_; }
    // The tree of the last game finished, when variations are read.
    GameTree& tree() { return *tree_; }

private:
    const MoveGenerator& generator_;
    PgnReader reader_;
    Board board_;
    std::unique_ptr<GameTree> tree_;  // when variations are read
    Board tree_board_;
};

}  // namespace vemla::pgn
