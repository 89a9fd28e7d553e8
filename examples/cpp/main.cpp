// Plays the moves given on the command line from the starting position (or
// from the FEN in VEMLA_FEN), then prints the position, its legal moves and the
// perft counts up to the given depth.
//
//   vemla_example [depth] [move...]      e.g.  vemla_example 3 e2e4 e7e5
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "board/mod.hpp"
#include "chess_move/mod.hpp"
#include "failure.hpp"
#include "move_generator/mod.hpp"
#include "move_generator/perft.hpp"

namespace {

// Plays one move given as long algebraic text if it is legal in the position.
bool play(const vemla::MoveGenerator& generator, vemla::Board& board, const std::string& text) {
    vemla::ChessMove wanted;
    try {
        wanted = vemla::ChessMove::from_str(text);
    } catch (const vemla::InvalidInput& e) {  // wrong length or promotion letter
        std::cerr << e.message() << '\n';
        return false;
    }
    vemla::MoveList legal;
    generator.generate(board, legal);
    for (const vemla::ChessMove move : legal) {
        // Compare squares and promotion piece only: the text form does not
        // carry the en-passant, double-step and castling markers.
        if (move.to_string() == wanted.to_string()) {
            board.push_move(move);
            return true;
        }
    }
    std::cerr << "illegal move: " << text << '\n';
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int depth = 3;
    if (argc > 1) {
        depth = std::atoi(argv[1]);
        if (depth < 0 || depth > 7) {
            std::cerr << "depth must be 0 to 7\n";
            return 2;
        }
    }
    try {
        const char* fen = std::getenv("VEMLA_FEN");
        vemla::Board board = vemla::Board::from_fen(fen ? fen : vemla::DEFAULT_FEN);
        const vemla::MoveGenerator generator;  // builds the attack tables once

        for (int i = 2; i < argc; ++i) {
            if (!play(generator, board, argv[i])) return 1;
        }
        std::cout << "fen: " << board.fen() << '\n';
        std::cout << "to move: " << (board.white_to_move() ? "white" : "black") << '\n';

        vemla::MoveList legal;
        generator.generate(board, legal);
        std::cout << "legal moves (" << legal.size << "):";
        for (const vemla::ChessMove move : legal) std::cout << ' ' << move.to_string();
        std::cout << '\n';

        for (int d = 1; d <= depth; ++d)
            std::cout << "perft " << d << ": " << vemla::perft(generator, board, d) << '\n';
    } catch (const vemla::InvalidInput& e) {
        std::cerr << e.what() << '\n';
        return 1;
    } catch (const vemla::Panic& e) {
        std::cerr << "internal failure: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
