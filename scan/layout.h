#pragma once
// Where the text of a card is before it is read: lines written across and columns written
// downwards found in the ink, and the reading order of lines by blocks, so that a card in two
// columns is read one column after the other; pieces of one line or one letter the recogniser
// took apart, the space in a name's ink, and letters beside a line that its box left out. Plain
// arithmetic on 8-bit grey pictures.

#include <QImage>
#include <QRect>

#include <vector>

namespace scan {

struct TextRegion {
    QRect box;              // in picture pixels, around the ink
    bool vertical = false;  // a column written downwards
};

// The lines and columns of dark text on a light picture, each with its direction: a run of
// letters side by side is a line, a run of letters one under another a column. Columns come
// from the right, then lines from the top.
std::vector<TextRegion> findTextRegions(const QImage& grey);

// The order in which to read lines of text given by their boxes: lines that stand one under the
// other, overlapping across and close together, form a block; blocks are read from the top (and
// from the left when they start level), each block's lines from its top.
std::vector<size_t> readingOrder(const std::vector<QRect>& lines);

// Two boxes of lines that overlap, one mostly above the other: pieces of one large letter the
// recogniser cut across ("愛" read as "me" over "Ae").
bool cutAcross(const QRect& a, const QRect& b);

// The lines standing level with lines[seed] in one row, each within a letter and a half of the
// row, none much taller than it: a line the recogniser broke into pieces. `seed` comes first;
// lines for which `leftOut` is true are never part of the row.
std::vector<size_t> rowOfPieces(const std::vector<QRect>& lines, size_t seed,
                                const std::vector<bool>& leftOut);

// Where a line of `letters` Japanese letters of even width, inside `box` of a grey picture, has a
// space between two of its letters: the number of letters before the one clear gap in its ink (as
// wide as a quarter of the line's height and twice any other), or -1 when there is none.
int spaceAfterLetters(const QImage& grey, const QRect& box, int letters);

// `box` grown sideways over letters of its size standing level with it that the recogniser
// dropped: ink within a letter's width and a fifth beside it, as tall as half the box at least.
QRect withLevelInk(const QImage& grey, QRect box);

}  // namespace scan
