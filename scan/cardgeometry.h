#pragma once
// Straightening a card's picture before it is read: a card photographed on a darker desk is found
// by its bright outline and warped to a rectangle (which takes away the slant of a photo taken at
// an angle), and a card scanned a few degrees askew is turned level. Plain arithmetic on 8-bit
// grey pictures; any thread.

#include <QImage>
#include <QPointF>

#include <array>
#include <optional>

namespace scan {

// The grey level that best parts the picture's histogram into dark (ink, desk) and bright
// (paper): Otsu's threshold. Levels at or below it are dark.
int otsuThreshold(const QImage& grey);

// Corners of a card in picture pixels: top left, top right, bottom right, bottom left.
using Quad = std::array<QPointF, 4>;

// The outline of a bright card lying on a darker background that surrounds it, or nothing when
// the picture shows no such card (a scan filled by the card, a card on white).
std::optional<Quad> findCardOutline(const QImage& grey);

// The part of the picture inside `quad` as an upright rectangle of the quad's size, with `margin`
// (a share of its shorter side) of the surroundings kept on each side.
QImage warpToRectangle(const QImage& grey, const Quad& quad, double margin);

// The angle in degrees (-8 to 8, clockwise positive) by which the picture's lines of text are
// turned; lines written across or in columns alike.
double skewDegrees(const QImage& grey);

// The picture turned by `degrees` clockwise about its centre, grown to hold all of it; corners
// brought in are white.
QImage rotated(const QImage& grey, double degrees);

// A card lying on a desk warped to an upright rectangle of the input's longer side, the desk
// around it made white; then skew taken out when it is more than a third of a degree.
QImage straighten(const QImage& grey);

}  // namespace scan
