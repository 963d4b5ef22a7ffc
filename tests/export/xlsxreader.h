#pragma once
// Reads a written workbook back: the archive with minizip, its parts with QXmlStreamReader.
// Only what the card sheet uses: shared strings, cells with their styles, rows, columns,
// merges, fonts, borders and the drawing's anchors.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

struct XlsxEntry {
    QByteArray data;
    int method = -1;  // 0 stored, 8 deflated
};

struct XlsxStyle {
    double fontSize = 0;
    QStringList borders;  // left, right, top, bottom: the line style or "" for none
    bool wrap = false;
};

struct XlsxAnchor {
    QString kind;  // element name: absoluteAnchor, twoCellAnchor...
    qint64 x = -1, y = -1, cx = -1, cy = -1;
    // The drawing's own box and turn, as the picture stands before it is turned.
    qint64 boxX = -1, boxY = -1, boxCx = -1, boxCy = -1;
    int rotation = 0;  // 60000ths of a degree, clockwise
    bool flipH = false, flipV = false;
    QString media;  // archive path of the picture it shows
    QString description;
};

struct XlsxSheet {
    bool ok = false;
    QString error;
    QMap<QString, XlsxEntry> entries;
    QMap<QString, QString> texts;  // cell ref -> text (shared strings resolved)
    QMap<QString, int> cellStyle;  // cell ref -> style index
    QMap<int, int> rowStyle;       // row number -> style index of a row format
    QMap<int, double> rowHeight;   // row number -> custom height in points
    struct Column {
        int min, max;
        double width;
        int style;
    };
    QList<Column> columns;
    QStringList merges;
    QList<XlsxStyle> styles;  // cellXfs, in order
    QList<XlsxAnchor> anchors;

    const XlsxStyle& styleOf(const QString& ref) const;
    const Column* columnOf(int number) const;
};

XlsxSheet readXlsx(const QString& path);

// "B2" for row 2, column 2.
QString cellRef(int row, int column);
