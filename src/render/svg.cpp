// The SVG board. Drawing units: a square is 100 x 100, the board sits inside
// a 40-unit frame that carries the file and rank labels, so the whole picture
// is 880 x 880 units, scaled to the requested size through the viewBox.
#include <bit>
#include <cmath>
#include <cstdio>

#include "board/mod.hpp"
#include "render/picture.hpp"
#include "failure.hpp"
#include "messages.hpp"

namespace vemla {

namespace {

constexpr int SQUARE = 100;
constexpr int FRAME = 40;
constexpr int EXTENT = 8 * SQUARE + 2 * FRAME;

constexpr const char* FRAME_COLOUR = "#3b3029";
constexpr const char* LABEL_COLOUR = "#e9dcc3";
constexpr const char* LIGHT_SQUARE = "#e9dcc3";
constexpr const char* DARK_SQUARE = "#a47c5b";
constexpr const char* STACK_MARK = "#c0392b";

// Each piece kind in a 100 x 100 box: an outline drawn filled in the piece's
// colour and stroked in a dark one, plus detail lines in a colour that stands
// out against the fill. Every shape keeps clear of the box's corners.
struct Shape {
    const char* outline;
    const char* detail;  // empty for none
};

// Circles are written as two half-circle arcs.
constexpr Shape SHAPES[6] = {
    // in Kind order
    // Pawn: head, tapering body, foot.
    {"M26 90H74V82Q74 78 70 78H30Q26 78 26 82Z"
     "M34 78Q36 60 44 48H56Q64 60 66 78Z"
     "M37 36A13 13 0 1 0 63 36A13 13 0 1 0 37 36Z",
     ""},
    // Knight: a horse's head facing left on a foot.
    {"M24 90H76V82H24Z"
     "M30 82C34 70 40 62 46 54C38 56 32 60 26 62C20 60 16 54 20 48C26 38 32 28 42 22L46 10L52 20"
     "C68 24 78 40 74 82Z",
     "M39 35L42 34"},
    // Bishop: mitre with a cross, ball on top, collar and foot.
    {"M24 90H76V82H24Z"
     "M36 82L40 70H60L64 82Z"
     "M35 70V63H65V70Z"
     "M50 18C66 30 70 50 60 63H40C30 50 34 30 50 18Z"
     "M45 13A5 5 0 1 0 55 13A5 5 0 1 0 45 13Z",
     "M50 31V51M42 41H58"},
    // Rook: battlements on a tower.
    {"M22 90H78V80H22Z"
     "M32 80L35 44H65L68 80Z"
     "M28 44V20H38V28H45V20H55V28H62V20H72V44Z",
     "M35 52H65"},
    // Queen: five-pointed crown with balls on the points.
    {"M24 90H76V82H24Z"
     "M28 82L18 34L34 56L36 26L46 54L50 20L54 54L64 26L66 56L82 34L72 82Z"
     "M14 31A4 4 0 1 0 22 31A4 4 0 1 0 14 31Z"
     "M32 23A4 4 0 1 0 40 23A4 4 0 1 0 32 23Z"
     "M46 17A4 4 0 1 0 54 17A4 4 0 1 0 46 17Z"
     "M60 23A4 4 0 1 0 68 23A4 4 0 1 0 60 23Z"
     "M78 31A4 4 0 1 0 86 31A4 4 0 1 0 78 31Z",
     "M30 72H70"},
    // King: cross on a rounded crown.
    {"M24 90H76V82H24Z"
     "M30 82L22 50Q50 36 78 50L70 82Z"
     "M46 12H54V20H62V28H54V43H46V28H38V20H46Z",
     "M30 70H70"},
};

struct Paint {
    const char* fill;
    const char* stroke;
    const char* detail;
};
constexpr Paint WHITE_PAINT{"#fafaf7", "#1e1e1e", "#1e1e1e"};
constexpr Paint BLACK_PAINT{"#2a2a2a", "#0c0c0c", "#e6e6e6"};

void append_number(std::string& out, double value) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.4g", value);
    out.append(text, static_cast<std::size_t>(length));
}

// One piece drawn in the box whose top-left corner is (x, y), scaled by scale.
void append_piece(std::string& out, Piece piece, double x, double y, double scale) {
    const Shape& shape = SHAPES[kind_of(piece)];
    const Paint& paint = colour_of(piece) == WHITE ? WHITE_PAINT : BLACK_PAINT;
    out += "<g transform=\"translate(";
    append_number(out, x);
    out += ' ';
    append_number(out, y);
    if (scale != 1.0) {
        out += ") scale(";
        append_number(out, scale);
    }
    out += ")\"><path d=\"";
    out += shape.outline;
    out += "\" fill=\"";
    out += paint.fill;
    out += "\" stroke=\"";
    out += paint.stroke;
    out += "\"/>";
    if (*shape.detail) {
        out += "<path d=\"";
        out += shape.detail;
        out += "\" fill=\"none\" stroke=\"";
        out += paint.detail;
        out += "\"/>";
    }
    out += "</g>\n";
}

// The pieces of one square. Several pieces (stacked by illegal moves) share
// the square in a grid of smaller cells, in piece-index order, inside a red
// frame, so that every one of them stays visible and the oddity stands out.
void append_square_pieces(std::string& out, unsigned mask, int x, int y) {
    const int count = std::popcount(mask);
    if (count == 1) {
        append_piece(out, static_cast<Piece>(std::countr_zero(mask)), x, y, 1.0);
        return;
    }
    out += "<rect x=\"" + std::to_string(x + 4) + "\" y=\"" + std::to_string(y + 4) +
           "\" width=\"92\" height=\"92\" fill=\"none\" stroke=\"" + STACK_MARK + "\"/>\n";
    const int columns = static_cast<int>(std::ceil(std::sqrt(count)));
    const int rows = (count + columns - 1) / columns;
    const double cell = 90.0 / std::max(columns, rows);
    const double left = x + (SQUARE - cell * columns) / 2;
    const double top = y + (SQUARE - cell * rows) / 2;
    int i = 0;
    for (unsigned rest = mask; rest; rest &= rest - 1, ++i)
        append_piece(out, static_cast<Piece>(std::countr_zero(rest)), left + cell * (i % columns),
                     top + cell * (i / columns), cell / SQUARE);
}

void append_label(std::string& out, char text, int x, int y) {
    out += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\">";
    out += text;
    out += "</text>";
}

}  // namespace

std::string svg(const PositionWords& words, long long size, Colour orientation) {
    if (size < SVG_MIN_SIZE || size > SVG_MAX_SIZE) throw InvalidInput(messages::INVALID_SVG_SIZE);
    const bool flipped = orientation == BLACK;
    const std::string extent = std::to_string(EXTENT);
    const std::string pixels = std::to_string(size);

    std::string out;
    out.reserve(16384);
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + pixels + "\" height=\"" + pixels +
           "\" viewBox=\"0 0 " + extent + " " + extent + "\">\n";
    out += "<rect width=\"" + extent + "\" height=\"" + extent + "\" fill=\"" + FRAME_COLOUR +
           "\"/>\n";

    // Light board, then the dark squares on it. a1 is dark.
    out += "<rect x=\"" + std::to_string(FRAME) + "\" y=\"" + std::to_string(FRAME) +
           "\" width=\"" + std::to_string(8 * SQUARE) + "\" height=\"" +
           std::to_string(8 * SQUARE) + "\" fill=\"" + LIGHT_SQUARE + "\"/>\n<g fill=\"" +
           DARK_SQUARE + "\">";
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 8; ++column)
            if ((row + column) % 2 == 1)
                out += "<rect x=\"" + std::to_string(FRAME + SQUARE * column) + "\" y=\"" +
                       std::to_string(FRAME + SQUARE * row) + "\" width=\"100\" height=\"100\"/>";
    out += "</g>\n";

    // File letters above and below the board, rank numbers left and right.
    out +=
        "<g font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\" font-size=\"26\" "
        "font-weight=\"bold\" "
        "text-anchor=\"middle\" fill=\"";
    out += LABEL_COLOUR;
    out += "\">";
    for (int i = 0; i < 8; ++i) {
        const char file = static_cast<char>(flipped ? 'h' - i : 'a' + i);
        const char rank = static_cast<char>(flipped ? '1' + i : '8' - i);
        const int along = FRAME + SQUARE * i + SQUARE / 2;
        append_label(out, file, along, FRAME / 2 + 9);
        append_label(out, file, along, EXTENT - FRAME / 2 + 9);
        append_label(out, rank, FRAME / 2, along + 9);
        append_label(out, rank, EXTENT - FRAME / 2, along + 9);
    }
    out += "</g>\n";

    out += "<g stroke-width=\"4\" stroke-linejoin=\"round\" stroke-linecap=\"round\">\n";
    for (int square = 0; square < 64; ++square) {
        const unsigned mask = pieces_on(words, square);
        if (!mask) continue;
        const int column = flipped ? 7 - file_of(square) : file_of(square);
        const int row = flipped ? rank_of(square) : 7 - rank_of(square);
        append_square_pieces(out, mask, FRAME + SQUARE * column, FRAME + SQUARE * row);
    }
    out += "</g>\n</svg>\n";
    return out;
}

}  // namespace vemla
