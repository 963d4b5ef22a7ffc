#include "cardgeometry.h"

#include <QTransform>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace scan {

namespace {

// The picture made smaller so that its longer side is at most `side` (never larger).
QImage reduced(const QImage& grey, int side) {
    if (std::max(grey.width(), grey.height()) <= side)
        return grey;
    return grey.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

int otsuThreshold(const QImage& grey) {
    std::array<double, 256> histogram{};
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            ++histogram[row[x]];
    }
    const double total = double(grey.width()) * grey.height();
    double sumAll = 0;
    for (int i = 0; i < 256; ++i)
        sumAll += i * histogram[i];
    double weightDark = 0, sumDark = 0, best = -1;
    int threshold = 128;
    for (int t = 0; t < 256; ++t) {
        weightDark += histogram[t];
        if (weightDark == 0 || weightDark == total)
            continue;
        sumDark += t * histogram[t];
        const double meanDark = sumDark / weightDark;
        const double meanBright = (sumAll - sumDark) / (total - weightDark);
        const double between =
            weightDark * (total - weightDark) * (meanDark - meanBright) * (meanDark - meanBright);
        if (between > best) {
            best = between;
            threshold = t;
        }
    }
    return threshold;
}

namespace {

// Solves the 8 x 8 system a x = b by elimination with partial pivoting; false when singular.
bool solve8(std::array<std::array<double, 9>, 8>& a, std::array<double, 8>& x) {
    for (int col = 0; col < 8; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 8; ++r) {
            if (std::abs(a[r][col]) > std::abs(a[pivot][col]))
                pivot = r;
        }
        if (std::abs(a[pivot][col]) < 1e-12)
            return false;
        std::swap(a[col], a[pivot]);
        for (int r = 0; r < 8; ++r) {
            if (r == col)
                continue;
            const double f = a[r][col] / a[col][col];
            for (int c = col; c < 9; ++c)
                a[r][c] -= f * a[col][c];
        }
    }
    for (int r = 0; r < 8; ++r)
        x[r] = a[r][8] / a[r][r];
    return true;
}

// The projective map taking the four `from` points to the four `to` points.
std::optional<QTransform> projective(const Quad& from, const Quad& to) {
    std::array<std::array<double, 9>, 8> a{};
    for (size_t i = 0; i < 4; ++i) {
        const double x = from[i].x(), y = from[i].y(), u = to[i].x(), v = to[i].y();
        a[2 * i] = {x, y, 1, 0, 0, 0, -u * x, -u * y, u};
        a[2 * i + 1] = {0, 0, 0, x, y, 1, -v * x, -v * y, v};
    }
    std::array<double, 8> h{};
    if (!solve8(a, h))
        return std::nullopt;
    // QTransform maps row vectors: (x, y, 1) * M.
    return QTransform(h[0], h[3], h[6], h[1], h[4], h[7], h[2], h[5], 1);
}

// Samples `grey` at every pixel of a `size` picture through `toSource` (output pixel -> picture
// point), bilinearly; points outside the picture take `outside`.
QImage resample(const QImage& grey, QSize size, const QTransform& toSource, uchar outside) {
    QImage out(size, QImage::Format_Grayscale8);
    const int w = grey.width(), h = grey.height();
    for (int y = 0; y < size.height(); ++y) {
        uchar* row = out.scanLine(y);
        for (int x = 0; x < size.width(); ++x) {
            const QPointF p = toSource.map(QPointF(x + 0.5, y + 0.5)) - QPointF(0.5, 0.5);
            const double fx = std::floor(p.x()), fy = std::floor(p.y());
            const int x0 = int(fx), y0 = int(fy);
            if (x0 < 0 || y0 < 0 || x0 + 1 >= w || y0 + 1 >= h) {
                row[x] = outside;
                continue;
            }
            const double dx = p.x() - fx, dy = p.y() - fy;
            const uchar* r0 = grey.constScanLine(y0) + x0;
            const uchar* r1 = grey.constScanLine(y0 + 1) + x0;
            const double top = r0[0] + (r0[1] - r0[0]) * dx;
            const double bottom = r1[0] + (r1[1] - r1[0]) * dx;
            row[x] = uchar(std::lround(top + (bottom - top) * dy));
        }
    }
    return out;
}

double distance(QPointF a, QPointF b) {
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

double meanGrey(const QImage& grey) {
    double sum = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            sum += row[x];
    }
    return sum / std::max(1.0, double(grey.width()) * grey.height());
}

// Cards are cut about 91 x 55 mm (85 x 55 and 89 x 51 abroad); a bright outline much narrower
// than that is a card whose dark band along one long side went with the desk. The quad grown by
// the missing part on the darker of its long sides, or as it is.
Quad withBandRestored(const QImage& grey, const Quad& quad) {
    const double width = (distance(quad[0], quad[1]) + distance(quad[3], quad[2])) / 2;
    const double height = (distance(quad[0], quad[3]) + distance(quad[1], quad[2])) / 2;
    const double longSide = std::max(width, height), shortSide = std::min(width, height);
    if (longSide < shortSide * 1.85)
        return quad;
    const double missing = longSide / 1.655 - shortSide;
    // Moves corner `a` away from corner `b` by the missing length.
    const auto pushed = [&](QPointF a, QPointF b) {
        const QPointF d = a - b;
        return a + d * (missing / std::max(1.0, std::hypot(d.x(), d.y())));
    };
    Quad first = quad, second = quad;  // grown on one long side, on the other
    if (width >= height) {
        first[0] = pushed(quad[0], quad[3]);
        first[1] = pushed(quad[1], quad[2]);
        second[3] = pushed(quad[3], quad[0]);
        second[2] = pushed(quad[2], quad[1]);
    } else {
        first[0] = pushed(quad[0], quad[1]);
        first[3] = pushed(quad[3], quad[2]);
        second[1] = pushed(quad[1], quad[0]);
        second[2] = pushed(quad[2], quad[3]);
    }
    const QRectF inside = QRectF(grey.rect()).adjusted(1, 1, -1, -1);
    // The mean grey of the strip a grown quad adds, or -1 when it leaves the picture.
    const auto stripGrey = [&](const Quad& grown, std::array<int, 2> moved) {
        for (int i : moved) {
            if (!inside.contains(grown[i]))
                return -1.0;
        }
        Quad strip = quad;
        // The strip lies between the old and the new corners of the moved side.
        const int a = moved[0], b = moved[1];
        strip = {grown[a], grown[b], quad[b], quad[a]};
        const Quad target{QPointF(0, 0), QPointF(64, 0), QPointF(64, 16), QPointF(0, 16)};
        const std::optional<QTransform> toSource = projective(target, strip);
        return toSource ? meanGrey(resample(grey, QSize(64, 16), *toSource, 0)) : -1.0;
    };
    const double firstGrey = width >= height ? stripGrey(first, {0, 1}) : stripGrey(first, {0, 3});
    const double secondGrey = width >= height ? stripGrey(second, {3, 2}) : stripGrey(second, {1, 2});
    if (firstGrey < 0 && secondGrey < 0)
        return quad;
    if (secondGrey < 0 || (firstGrey >= 0 && firstGrey <= secondGrey))
        return first;
    return second;
}

}  // namespace

namespace {

// The bright pixels of a reduced picture, by Otsu's threshold.
struct BrightMask {
    int w = 0, h = 0;
    std::vector<uchar> bright;
    bool at(int x, int y) const { return bright[size_t(y) * w + x] != 0; }
};

BrightMask brightMask(const QImage& small) {
    BrightMask mask{small.width(), small.height(), {}};
    mask.bright.resize(size_t(mask.w) * mask.h);
    const int threshold = otsuThreshold(small);
    for (int y = 0; y < mask.h; ++y) {
        const uchar* row = small.constScanLine(y);
        for (int x = 0; x < mask.w; ++x)
            mask.bright[size_t(y) * mask.w + x] = row[x] > threshold ? 1 : 0;
    }
    return mask;
}

// A desk shows all round the card: most of the picture's edge is dark.
bool darkAllRound(const BrightMask& mask) {
    int edge = 0, darkEdge = 0;
    for (int x = 0; x < mask.w; ++x, edge += 2)
        darkEdge += int(!mask.at(x, 0)) + int(!mask.at(x, mask.h - 1));
    for (int y = 0; y < mask.h; ++y, edge += 2)
        darkEdge += int(!mask.at(0, y)) + int(!mask.at(mask.w - 1, y));
    return darkEdge * 10 >= edge * 8;
}

// Marks the 4-connected bright region around (x, y) with `label`; returns its area.
int fillRegion(const BrightMask& mask, int x, int y, int label, std::vector<int>& labels) {
    std::vector<int> stack{y * mask.w + x};
    labels[size_t(y) * mask.w + x] = label;
    int area = 0;
    while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        ++area;
        const int px = at % mask.w, py = at / mask.w;
        const int around[4][2] = {{px - 1, py}, {px + 1, py}, {px, py - 1}, {px, py + 1}};
        for (const auto& [nx, ny] : around) {
            if (nx < 0 || ny < 0 || nx >= mask.w || ny >= mask.h || labels[size_t(ny) * mask.w + nx] != 0 ||
                !mask.at(nx, ny))
                continue;
            labels[size_t(ny) * mask.w + nx] = label;
            stack.push_back(ny * mask.w + nx);
        }
    }
    return area;
}

// The pixels of the largest bright region, as 1 in a mask of the picture's size.
std::vector<uchar> largestBrightRegion(const BrightMask& mask, int& area) {
    std::vector<int> labels(size_t(mask.w) * mask.h, 0);
    int bestLabel = 0, next = 0;
    area = 0;
    for (int y = 0; y < mask.h; ++y) {
        for (int x = 0; x < mask.w; ++x) {
            if (labels[size_t(y) * mask.w + x] != 0 || !mask.at(x, y))
                continue;
            const int size = fillRegion(mask, x, y, ++next, labels);
            if (size > area) {
                area = size;
                bestLabel = next;
            }
        }
    }
    std::vector<uchar> region(labels.size());
    for (size_t i = 0; i < labels.size(); ++i)
        region[i] = labels[i] == bestLabel ? 1 : 0;
    return region;
}

// The region's corners: the points furthest along the four diagonals.
Quad diagonalCorners(const std::vector<uchar>& region, int w, int h) {
    Quad corners;
    double best[4] = {1e18, -1e18, -1e18, 1e18};  // min x+y, max x-y, max x+y, min x-y
    const auto keep = [&](size_t corner, double value, bool smaller, QPointF p) {
        if (smaller ? value < best[corner] : value > best[corner]) {
            best[corner] = value;
            corners[corner] = p;
        }
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (!region[size_t(y) * w + x])
                continue;
            const QPointF p(x + 0.5, y + 0.5);
            keep(0, x + y, true, p);
            keep(1, x - y, false, p);
            keep(2, x + y, false, p);
            keep(3, x - y, true, p);
        }
    }
    return corners;
}

}  // namespace

std::optional<Quad> findCardOutline(const QImage& picture) {
    const QImage small = reduced(picture, 400);
    const int w = small.width(), h = small.height();
    if (w < 40 || h < 40)
        return std::nullopt;
    const BrightMask mask = brightMask(small);
    if (!darkAllRound(mask))
        return std::nullopt;
    // The largest bright region is the card.
    int area = 0;
    const std::vector<uchar> card = largestBrightRegion(mask, area);
    if (area * 10 < w * h)
        return std::nullopt;
    Quad corners = diagonalCorners(card, w, h);
    // A card has four real sides.
    for (size_t i = 0; i < 4; ++i) {
        if (distance(corners[i], corners[(i + 1) % 4]) < std::min(w, h) / 5.0)
            return std::nullopt;
    }
    const double scale = double(picture.width()) / w;
    for (QPointF& c : corners)
        c *= scale;
    return corners;
}

QImage warpToRectangle(const QImage& grey, const Quad& quad, double margin) {
    const double width = (distance(quad[0], quad[1]) + distance(quad[3], quad[2])) / 2;
    const double height = (distance(quad[0], quad[3]) + distance(quad[1], quad[2])) / 2;
    const double m = margin * std::min(width, height);
    const Quad target{QPointF(m, m), QPointF(m + width, m), QPointF(m + width, m + height),
                      QPointF(m, m + height)};
    const std::optional<QTransform> toSource = projective(target, quad);
    if (!toSource)
        return grey;
    return resample(grey, QSize(int(width + 2 * m), int(height + 2 * m)), *toSource, 255);
}

// The card alone, its surroundings made white: what lies around it is desk, not card.
QImage cardOnWhite(const QImage& grey, const Quad& quad, double margin) {
    QImage out = warpToRectangle(grey, quad, margin);
    const double width = (distance(quad[0], quad[1]) + distance(quad[3], quad[2])) / 2;
    const double height = (distance(quad[0], quad[3]) + distance(quad[1], quad[2])) / 2;
    const int m = int(margin * std::min(width, height));
    // A pixel's width inside the outline too: its edge is blurred with the desk.
    const QRect card = QRect(m, m, int(width), int(height)).adjusted(2, 2, -2, -2);
    for (int y = 0; y < out.height(); ++y) {
        uchar* row = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x) {
            if (!card.contains(x, y))
                row[x] = 255;
        }
    }
    return out;
}

double skewDegrees(const QImage& grey) {
    const QImage small = reduced(grey, 1000);
    const int threshold = otsuThreshold(small);
    std::vector<QPointF> ink;
    for (int y = 0; y < small.height(); ++y) {
        const uchar* row = small.constScanLine(y);
        for (int x = 0; x < small.width(); ++x) {
            if (row[x] <= threshold)
                ink.emplace_back(x - small.width() / 2.0, y - small.height() / 2.0);
        }
    }
    // Mostly ink means a dark picture or a dark band: nothing to measure reliably.
    if (ink.size() < 200 || ink.size() * 2 > size_t(small.width()) * small.height())
        return 0;
    const int span = int(std::hypot(small.width(), small.height())) + 2;
    std::vector<int> rows(span), columns(span);
    // Lines of text stand out sharpest in the ink's profile across them at the right angle:
    // the sum of squared counts is largest.
    const auto sharpness = [&](double degrees) {
        const double a = degrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
        std::fill(rows.begin(), rows.end(), 0);
        std::fill(columns.begin(), columns.end(), 0);
        for (const QPointF& p : ink) {
            ++rows[size_t(p.y() * c - p.x() * s + span / 2.0)];
            ++columns[size_t(p.x() * c + p.y() * s + span / 2.0)];
        }
        double sum = 0;
        for (int i = 0; i < span; ++i)
            sum += double(rows[i]) * rows[i] + double(columns[i]) * columns[i];
        return sum;
    };
    double bestAngle = 0, best = sharpness(0);
    for (double a = -8; a <= 8.001; a += 0.5) {
        if (const double v = sharpness(a); v > best) {
            best = v;
            bestAngle = a;
        }
    }
    const double coarse = bestAngle;
    for (double a = coarse - 0.45; a <= coarse + 0.451; a += 0.05) {
        if (const double v = sharpness(a); v > best) {
            best = v;
            bestAngle = a;
        }
    }
    return bestAngle;
}

QImage rotated(const QImage& grey, double degrees) {
    QTransform turn;
    turn.rotate(degrees);
    const QRectF bounds = turn.mapRect(QRectF(grey.rect()));
    // Output pixel -> turned picture -> picture.
    const QTransform toSource = QTransform::fromTranslate(bounds.left(), bounds.top()) * turn.inverted();
    return resample(grey, bounds.size().toSize(), toSource, 255);
}

QImage straighten(const QImage& grey) {
    QImage out = grey;
    if (const std::optional<Quad> card = findCardOutline(grey)) {
        out = cardOnWhite(grey, withBandRestored(grey, *card), 0.04);
        const int side = std::max(grey.width(), grey.height());
        out = out.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    const double skew = skewDegrees(out);
    if (std::abs(skew) > 1.0 / 3)
        out = rotated(out, -skew);
    return out;
}

}  // namespace scan
