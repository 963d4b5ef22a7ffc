#include "layout.h"

#include "cardgeometry.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace scan {

namespace {

// Joins sets of indices.
class Groups final {
public:
    explicit Groups(size_t n) : m_parent(n) { std::iota(m_parent.begin(), m_parent.end(), size_t(0)); }
    size_t root(size_t i) {
        while (m_parent[i] != i)
            i = m_parent[i] = m_parent[m_parent[i]];
        return i;
    }
    void join(size_t a, size_t b) { m_parent[root(a)] = root(b); }

private:
    std::vector<size_t> m_parent;
};

// The boxes of the connected pieces of ink (8-neighbourhood) in a reduced picture.
std::vector<QRect> inkPieces(const QImage& small, int threshold) {
    const int w = small.width(), h = small.height();
    std::vector<uchar> seen(size_t(w) * h, 0);
    std::vector<int> stack;
    std::vector<QRect> pieces;
    const auto ink = [&](int x, int y) { return small.constScanLine(y)[x] <= threshold; };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (seen[size_t(y) * w + x] || !ink(x, y))
                continue;
            int left = x, right = x, top = y, bottom = y;
            seen[size_t(y) * w + x] = 1;
            stack.assign(1, y * w + x);
            while (!stack.empty()) {
                const int at = stack.back();
                stack.pop_back();
                const int px = at % w, py = at / w;
                left = std::min(left, px);
                right = std::max(right, px);
                top = std::min(top, py);
                bottom = std::max(bottom, py);
                for (int ny = std::max(0, py - 1); ny <= std::min(h - 1, py + 1); ++ny) {
                    for (int nx = std::max(0, px - 1); nx <= std::min(w - 1, px + 1); ++nx) {
                        if (!seen[size_t(ny) * w + nx] && ink(nx, ny)) {
                            seen[size_t(ny) * w + nx] = 1;
                            stack.push_back(ny * w + nx);
                        }
                    }
                }
            }
            pieces.emplace_back(QPoint(left, top), QPoint(right, bottom));
        }
    }
    return pieces;
}

int overlap(int a0, int a1, int b0, int b1) {
    return std::min(a1, b1) - std::max(a0, b0);
}

// Pieces joined into runs: side by side (across) or one under the other (down), when they
// overlap by half the smaller one and the gap between them is at most `gap` times the larger.
std::vector<size_t> runs(const std::vector<QRect>& pieces, bool down, double gap) {
    Groups groups(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        const QRect& a = pieces[i];
        for (size_t j = i + 1; j < pieces.size(); ++j) {
            const QRect& b = pieces[j];
            if (down) {
                const int across = overlap(a.left(), a.right() + 1, b.left(), b.right() + 1);
                const int apart = std::max(a.top(), b.top()) - std::min(a.bottom(), b.bottom());
                if (across * 2 >= std::min(a.width(), b.width()) &&
                    apart <= gap * std::max(a.width(), b.width()))
                    groups.join(i, j);
            } else {
                const int across = overlap(a.top(), a.bottom() + 1, b.top(), b.bottom() + 1);
                const int apart = std::max(a.left(), b.left()) - std::min(a.right(), b.right());
                if (across * 2 >= std::min(a.height(), b.height()) &&
                    apart <= gap * std::max(a.height(), b.height()))
                    groups.join(i, j);
            }
        }
    }
    std::vector<size_t> of(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i)
        of[i] = groups.root(i);
    return of;
}

std::vector<QRect> boxesOf(const std::vector<QRect>& pieces, const std::vector<size_t>& group) {
    std::vector<QRect> box(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i)
        box[group[i]] = box[group[i]].isNull() ? pieces[i] : box[group[i]].united(pieces[i]);
    return box;
}

// Runs of one direction that continue each other (a line broken at a dot, a column broken at a
// wide letter) joined: overlapping across by half and at most their thickness apart (lines one
// and a half times).
void mergeRuns(std::vector<TextRegion>& runs, bool down) {
    bool merged = true;
    while (merged) {
        merged = false;
        for (size_t i = 0; i < runs.size() && !merged; ++i) {
            for (size_t j = i + 1; j < runs.size() && !merged; ++j) {
                const QRect &a = runs[i].box, &b = runs[j].box;
                // Lines of an address break at its dots and narrow letters: half again as far.
                const int thickness =
                    down ? std::max(a.width(), b.width()) : std::max(a.height(), b.height()) * 3 / 2;
                const int across = down ? overlap(a.left(), a.right() + 1, b.left(), b.right() + 1)
                                        : overlap(a.top(), a.bottom() + 1, b.top(), b.bottom() + 1);
                const int smaller = down ? std::min(a.width(), b.width()) : std::min(a.height(), b.height());
                const int apart = down ? std::max(a.top(), b.top()) - std::min(a.bottom(), b.bottom())
                                       : std::max(a.left(), b.left()) - std::min(a.right(), b.right());
                if (across * 2 >= smaller && apart <= thickness) {
                    runs[i].box = a.united(b);
                    runs.erase(runs.begin() + qsizetype(j));
                    merged = true;
                }
            }
        }
    }
}

}  // namespace

namespace {

// A region for each run that most of its pieces voted for (each piece votes for the longer of its
// run across and its run down) and that is clearly longer than wide; one piece alone (a "d" of
// an address) tells no direction. Boxes in the reduced picture.
void votedRegions(const std::vector<QRect>& pieces, std::vector<QRect>& columns, std::vector<QRect>& lines) {
    // Columns stand closer to each other than lines do: letters side by side join only when
    // nearer than two thirds of a letter.
    const std::vector<size_t> across = runs(pieces, false, 0.6);
    const std::vector<size_t> down = runs(pieces, true, 1.0);
    const std::vector<QRect> lineBox = boxesOf(pieces, across);
    const std::vector<QRect> columnBox = boxesOf(pieces, down);
    std::vector<int> lineVotes(pieces.size(), 0), lineMembers(pieces.size(), 0);
    std::vector<int> columnVotes(pieces.size(), 0), columnMembers(pieces.size(), 0);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const QRect& l = lineBox[across[i]];
        const QRect& c = columnBox[down[i]];
        const double lineLength = double(l.width()) / l.height();
        const double columnLength = double(c.height()) / c.width();
        ++lineMembers[across[i]];
        ++columnMembers[down[i]];
        lineVotes[across[i]] += lineLength >= columnLength ? 1 : 0;
        columnVotes[down[i]] += columnLength > lineLength ? 1 : 0;
    }
    for (size_t g = 0; g < pieces.size(); ++g) {
        if (columnMembers[g] > 1 && columnVotes[g] * 2 > columnMembers[g] &&
            columnBox[g].height() * 5 >= 8 * columnBox[g].width())
            columns.push_back(columnBox[g]);
        if (lineMembers[g] > 1 && lineVotes[g] * 2 > lineMembers[g] &&
            lineBox[g].width() * 5 >= 8 * lineBox[g].height())
            lines.push_back(lineBox[g]);
    }
}

// A flat letter at a column's end or inside it ("一") looks like a short line of its own: such
// lines go into the column.
void flatLettersIntoColumns(std::vector<TextRegion>& columns, std::vector<TextRegion>& lines) {
    std::erase_if(lines, [&](const TextRegion& l) {
        for (TextRegion& c : columns) {
            const int across = overlap(c.box.left(), c.box.right() + 1, l.box.left(), l.box.right() + 1);
            const int apart = std::max(c.box.top(), l.box.top()) - std::min(c.box.bottom(), l.box.bottom());
            if (l.box.width() * 2 <= c.box.width() * 3 && across * 2 >= l.box.width() &&
                apart <= c.box.width() * 6 / 5) {
                c.box = c.box.united(l.box);
                return true;
            }
        }
        return false;
    });
}

// Likewise a short stack of small letters at a line's end (the "jp" of an address) is the line's.
void stacksIntoLines(std::vector<TextRegion>& columns, std::vector<TextRegion>& lines) {
    std::erase_if(columns, [&](const TextRegion& c) {
        for (TextRegion& l : lines) {
            const int level = overlap(c.box.top(), c.box.bottom() + 1, l.box.top(), l.box.bottom() + 1);
            const int apart = std::max(c.box.left(), l.box.left()) - std::min(c.box.right(), l.box.right());
            if (level * 3 >= c.box.height() && apart <= l.box.height()) {
                l.box = l.box.united(c.box);
                return true;
            }
        }
        return false;
    });
}

// Pieces left out of every run (a tall letter further apart in an address, narrow letters of a
// typewriter face) join the line they stand level with and next to.
void leftoversIntoLines(const std::vector<QRect>& pieces, const std::vector<TextRegion>& columns,
                        std::vector<TextRegion>& lines) {
    for (const QRect& piece : pieces) {
        const auto holds = [&](const TextRegion& r) { return r.box.contains(piece); };
        if (std::any_of(lines.begin(), lines.end(), holds) ||
            std::any_of(columns.begin(), columns.end(), holds))
            continue;
        for (TextRegion& l : lines) {
            const int level = overlap(piece.top(), piece.bottom() + 1, l.box.top(), l.box.bottom() + 1);
            const int apart = std::max(piece.left(), l.box.left()) - std::min(piece.right(), l.box.right());
            if (level * 2 >= piece.height() && apart <= 2 * std::max(l.box.height(), piece.height())) {
                l.box = l.box.united(piece);
                break;
            }
        }
    }
}

// The regions not lying for the most part inside a larger region of the other direction: a
// piece standing out of a column is no line of its own, nor is a wide letter in a line a column.
std::vector<TextRegion> notInside(const std::vector<TextRegion>& regions,
                                  const std::vector<TextRegion>& others) {
    std::vector<TextRegion> kept;
    for (const TextRegion& r : regions) {
        const qint64 area = qint64(r.box.width()) * r.box.height();
        const bool inside = std::any_of(others.begin(), others.end(), [&](const TextRegion& o) {
            const QRect common = r.box.intersected(o.box);
            return qint64(common.width()) * common.height() * 2 >= area &&
                   qint64(o.box.width()) * o.box.height() > area;
        });
        if (!inside)
            kept.push_back(r);
    }
    return kept;
}

}  // namespace

std::vector<TextRegion> findTextRegions(const QImage& grey) {
    const int longer = std::max(grey.width(), grey.height());
    const QImage small =
        longer > 1000 ? grey.scaled(1000, 1000, Qt::KeepAspectRatio, Qt::SmoothTransformation) : grey;
    const double scale = double(grey.width()) / small.width();
    std::vector<QRect> pieces = inkPieces(small, otsuThreshold(small));
    // Specks and rules or frames are no letters.
    std::erase_if(pieces, [&](const QRect& r) {
        return std::max(r.width(), r.height()) < 3 || r.width() > small.width() / 3 ||
               r.height() > small.height() / 3;
    });
    if (pieces.empty() || pieces.size() > 5000)
        return {};
    std::vector<QRect> columnBoxes, lineBoxes;
    votedRegions(pieces, columnBoxes, lineBoxes);
    const auto toPicture = [&](const QRect& r) {
        return QRect(int(r.left() * scale), int(r.top() * scale), int(std::ceil(r.width() * scale)),
                     int(std::ceil(r.height() * scale)));
    };
    std::vector<TextRegion> columns, lines;
    for (const QRect& r : columnBoxes)
        columns.push_back({toPicture(r), true});
    for (const QRect& r : lineBoxes)
        lines.push_back({toPicture(r), false});
    std::vector<QRect> piecesInPicture;
    piecesInPicture.reserve(pieces.size());
    for (const QRect& p : pieces)
        piecesInPicture.push_back(toPicture(p));

    flatLettersIntoColumns(columns, lines);
    stacksIntoLines(columns, lines);
    mergeRuns(lines, false);
    leftoversIntoLines(piecesInPicture, columns, lines);
    mergeRuns(columns, true);
    mergeRuns(lines, false);
    std::vector<TextRegion> keptColumns = notInside(columns, lines);
    std::vector<TextRegion> keptLines = notInside(lines, columns);
    std::sort(keptColumns.begin(), keptColumns.end(),
              [](const TextRegion& a, const TextRegion& b) { return a.box.right() > b.box.right(); });
    std::sort(keptLines.begin(), keptLines.end(),
              [](const TextRegion& a, const TextRegion& b) { return a.box.top() < b.box.top(); });
    keptColumns.insert(keptColumns.end(), keptLines.begin(), keptLines.end());
    return keptColumns;
}

std::vector<size_t> readingOrder(const std::vector<QRect>& lines) {
    std::vector<size_t> byTop(lines.size());
    std::iota(byTop.begin(), byTop.end(), size_t(0));
    std::stable_sort(byTop.begin(), byTop.end(),
                     [&](size_t a, size_t b) { return lines[a].top() < lines[b].top(); });
    struct Block {
        QRect box;
        int lastHeight = 0;
        std::vector<size_t> members;
    };
    std::vector<Block> blocks;
    for (size_t i : byTop) {
        const QRect& line = lines[i];
        // The nearest block above that the line overlaps across.
        Block* home = nullptr;
        int nearest = 0;
        for (Block& b : blocks) {
            const int across = overlap(b.box.left(), b.box.right() + 1, line.left(), line.right() + 1);
            const int gap = line.top() - b.box.bottom();
            if (across * 3 >= std::min(b.box.width(), line.width()) &&
                gap <= 3 * std::max(b.lastHeight, line.height()) && (!home || gap < nearest)) {
                home = &b;
                nearest = gap;
            }
        }
        if (!home) {
            blocks.push_back({line, line.height(), {i}});
            continue;
        }
        home->box = home->box.united(line);
        home->lastHeight = line.height();
        home->members.push_back(i);
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const Block& a, const Block& b) { return a.box.top() < b.box.top(); });
    // Blocks starting level with each other, within a line's height, are read from the left.
    for (size_t i = 1; i < blocks.size(); ++i) {
        for (size_t j = i; j > 0; --j) {
            const Block &before = blocks[j - 1], &after = blocks[j];
            const int level = std::min(before.box.height(), after.box.height());
            if (after.box.top() - before.box.top() >
                    std::min(level, std::min(before.lastHeight, after.lastHeight)) ||
                after.box.left() >= before.box.left())
                break;
            std::swap(blocks[j - 1], blocks[j]);
        }
    }
    std::vector<size_t> order;
    for (const Block& b : blocks)
        order.insert(order.end(), b.members.begin(), b.members.end());
    return order;
}

bool cutAcross(const QRect& a, const QRect& b) {
    const int across = std::min(a.right(), b.right()) - std::max(a.left(), b.left());
    return a.intersects(b) && across * 2 >= std::min(a.width(), b.width());
}

std::vector<size_t> rowOfPieces(const std::vector<QRect>& lines, size_t seed,
                                const std::vector<bool>& leftOut) {
    std::vector<size_t> row{seed};
    QRect box = lines[seed];
    for (bool grown = true; grown;) {
        grown = false;
        for (size_t k = 0; k < lines.size(); ++k) {
            const QRect other = lines[k];
            if (leftOut[k] || std::find(row.begin(), row.end(), k) != row.end())
                continue;
            const int level = std::min(other.bottom(), box.bottom()) - std::max(other.top(), box.top());
            const int apart = std::max(other.left(), box.left()) - std::min(other.right(), box.right());
            if (level * 2 < std::min(other.height(), box.height()) || other.height() > box.height() * 3 / 2 ||
                apart > box.height() * 3 / 2)
                continue;
            row.push_back(k);
            box = box.united(other);
            grown = true;
        }
    }
    return row;
}

namespace {

// The ink in a horizontal band of a grey picture, column by column.
class BandInk final {
public:
    BandInk(const QImage& grey, const QRect& band)
        : m_grey(grey), m_band(band), m_threshold(otsuThreshold(grey.copy(band))) {}

    // The top and bottom rows holding ink in column x; top > bottom when there is none.
    std::pair<int, int> rows(int x) const {
        int top = m_band.bottom() + 1, bottom = m_band.top() - 1;
        for (int y = m_band.top(); y <= m_band.bottom(); ++y) {
            if (m_grey.constScanLine(y)[x] <= m_threshold) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        return {top, bottom};
    }
    bool blank(int x) const {
        const auto [top, bottom] = rows(x);
        return top > bottom;
    }
    bool inside(int x) const { return x >= 0 && x < m_grey.width(); }

    // From `edge` going `step`: the far edge of the next piece of ink when it begins within
    // `reach` columns, ends at a gap of `gap` columns and stands at least `tall` rows high; else -1.
    int nextPiece(int edge, int step, int reach, int gap, int tall) const {
        int x = edge + step, blankRun = 0;
        while (inside(x) && blankRun <= reach && blank(x)) {
            x += step;
            ++blankRun;
        }
        if (!inside(x) || blankRun > reach)
            return -1;
        int top = m_band.bottom() + 1, bottom = m_band.top() - 1, far = x;
        for (blankRun = 0; inside(x) && blankRun <= gap; x += step) {
            const auto [t, b] = rows(x);
            if (t > b) {
                ++blankRun;
                continue;
            }
            blankRun = 0;
            far = x;
            top = std::min(top, t);
            bottom = std::max(bottom, b);
        }
        return bottom - top >= tall ? far : -1;
    }

private:
    const QImage& m_grey;
    QRect m_band;
    int m_threshold;
};

}  // namespace

int spaceAfterLetters(const QImage& grey, const QRect& box, int letters) {
    const QRect band = box.intersected(grey.rect());
    if (letters < 2 || band.width() < 4 || band.height() < 4)
        return -1;
    const BandInk inkColumns(grey, band);
    std::vector<bool> ink(size_t(band.width()), false);
    for (int x = band.left(); x <= band.right(); ++x)
        ink[size_t(x - band.left())] = !inkColumns.blank(x);
    const auto first = std::find(ink.begin(), ink.end(), true);
    if (first == ink.end())
        return -1;
    const int left = int(first - ink.begin());
    const int right = int(ink.rend() - std::find(ink.rbegin(), ink.rend(), true)) - 1;
    int widest = 0, widestStart = -1, second = 0;
    for (int x = left; x <= right;) {
        if (ink[size_t(x)]) {
            ++x;
            continue;
        }
        const int start = x;
        while (!ink[size_t(x)])
            ++x;
        const int gap = x - start;
        if (gap > widest) {
            second = widest;
            widest = gap;
            widestStart = start;
        } else {
            second = std::max(second, gap);
        }
    }
    if (widestStart < 0 || widest * 4 < band.height() || widest < 2 * second)
        return -1;
    const double pitch = double(right - left + 1 - widest) / letters;
    const int before = int(std::lround((widestStart - left) / pitch));
    return before >= 1 && before < letters ? before : -1;
}

// `box` grown sideways over letters of its size standing level with it that the engine dropped:
// ink within a letter's width and a fifth beside it, as tall as half the box at least.
QRect withLevelInk(const QImage& grey, QRect box) {
    box = box.intersected(grey.rect());
    if (box.isEmpty())
        return box;
    const BandInk ink(grey, box);
    const int h = box.height();
    int left = box.left(), right = box.right();
    for (int next = 0; (next = ink.nextPiece(left, -1, h * 6 / 5, h / 3, h / 2)) >= 0;)
        left = next;
    for (int next = 0; (next = ink.nextPiece(right, 1, h * 6 / 5, h / 3, h / 2)) >= 0;)
        right = next;
    box.setLeft(left);
    box.setRight(right);
    return box;
}

}  // namespace scan
