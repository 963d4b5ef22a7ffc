#pragma once
// Finishing a workbook written by libxlsxwriter: the pictures get absolute places, and their
// data goes in stored as it is.
//
// The writer anchors pictures to cells, which a spreadsheet program then places by its own
// column widths, and it deflates every picture again, which costs seconds for phone photos
// and gains nothing. So the draft holds a tiny placeholder for each picture, and this copy of
// the archive puts the real data in place of each placeholder and writes each picture's
// anchor as a position and size on the sheet.

#include <QByteArray>
#include <QList>
#include <QString>

namespace sheet {

// A picture's place on the sheet as it is seen, in EMU (12700 to the point), and how the
// stored picture is turned to look so: flipped, then turned clockwise by 0, 90 or 270 degrees.
struct AnchorBox {
    qint64 x = 0, y = 0, cx = 0, cy = 0;
    int degrees = 0;
    bool flipH = false, flipV = false;
};

struct MediaSource {
    QByteArray placeholder;  // the bytes the draft holds for this picture
    QByteArray file;         // the real data: this file, named as the file system names it...
    QByteArray data;         // ...or these bytes when file is empty
};

// A small picture of the given format ("jpeg" or "png") that the writer reads like any other
// but that is unique to k, so that the writer keeps one media entry per picture.
QByteArray placeholderPicture(const QByteArray& format, int k);

// Copies the draft archive to output. The drawing's anchors, in the order the pictures were
// inserted, become absolute anchors with boxes; media entries holding a placeholder get their
// source's data, stored uncompressed. Throws std::runtime_error with a message for the user.
void finishPackage(const QString& draft, const QString& output, const QList<AnchorBox>& boxes,
                   const QList<MediaSource>& media);

// The drawing part rewritten with absolute anchors; throws when the anchors do not match boxes.
QByteArray absoluteAnchors(const QByteArray& drawingXml, const QList<AnchorBox>& boxes);

}  // namespace sheet
