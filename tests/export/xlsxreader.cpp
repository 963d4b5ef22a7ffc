#include "xlsxreader.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <unzip.h>

namespace {

QMap<QString, XlsxEntry> readArchive(const QString& path, QString& error) {
    QMap<QString, XlsxEntry> entries;
    unzFile zip = unzOpen64(QFile::encodeName(path).constData());
    if (!zip) {
        error = QStringLiteral("not a zip archive");
        return entries;
    }
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char name[1024];
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        XlsxEntry entry;
        entry.method = int(info.compression_method);
        entry.data.resize(qsizetype(info.uncompressed_size));
        if (unzOpenCurrentFile(zip) != UNZ_OK) {
            error = QStringLiteral("cannot open %1").arg(QString::fromUtf8(name));
            break;
        }
        qsizetype got = 0;
        while (got < entry.data.size()) {
            const int n = unzReadCurrentFile(zip, entry.data.data() + got, unsigned(entry.data.size() - got));
            if (n <= 0)
                break;
            got += n;
        }
        if (unzCloseCurrentFile(zip) != UNZ_OK || got != entry.data.size())
            error = QStringLiteral("bad data or checksum in %1").arg(QString::fromUtf8(name));
        entries.insert(QString::fromUtf8(name), entry);
    }
    unzClose(zip);
    return entries;
}

// Control characters are kept in the cell text as _xHHHH_.
QString unescape(QString text) {
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    qsizetype from = 0;
    for (auto it = escape.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        out += text.mid(from, m.capturedStart() - from) + QChar(m.captured(1).toUShort(nullptr, 16));
        from = m.capturedEnd();
    }
    return out + text.mid(from);
}

QStringList sharedStrings(const QByteArray& xml) {
    QStringList strings;
    QXmlStreamReader r(xml);
    QString current;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == u"si")
            current.clear();
        else if (r.isStartElement() && r.name() == u"t")
            current += r.readElementText();
        else if (r.isEndElement() && r.name() == u"si")
            strings << unescape(current);
    }
    return strings;
}

QList<XlsxStyle> readStyles(const QByteArray& xml) {
    QList<double> fonts;
    QList<QStringList> borders;
    QList<XlsxStyle> styles;
    QXmlStreamReader r(xml);
    QString section;
    QStringList* border = nullptr;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        const auto name = r.name();
        const auto attrs = r.attributes();
        if (name == u"fonts" || name == u"borders" || name == u"cellXfs" || name == u"cellStyleXfs")
            section = name.toString();
        else if (section == u"fonts" && name == u"font")
            fonts << 0;
        else if (section == u"fonts" && name == u"sz")
            fonts.last() = attrs.value(QLatin1String("val")).toDouble();
        else if (section == u"borders" && name == u"border") {
            borders << QStringList{QString(), QString(), QString(), QString()};
            border = &borders.last();
        } else if (section == u"borders" && border &&
                   (name == u"left" || name == u"right" || name == u"top" || name == u"bottom")) {
            const int side = name == u"left" ? 0 : name == u"right" ? 1 : name == u"top" ? 2 : 3;
            (*border)[side] = attrs.value(QLatin1String("style")).toString();
        } else if (section == u"cellXfs" && name == u"xf") {
            XlsxStyle s;
            s.fontSize = fonts.value(attrs.value(QLatin1String("fontId")).toInt());
            s.borders = borders.value(attrs.value(QLatin1String("borderId")).toInt());
            styles << s;
        } else if (section == u"cellXfs" && name == u"alignment") {
            styles.last().wrap = attrs.value(QLatin1String("wrapText")) == u"1";
        }
    }
    return styles;
}

QMap<QString, QString> relations(const QByteArray& xml, const QString& baseFolder) {
    QMap<QString, QString> targets;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == u"Relationship") {
            QString target = r.attributes().value(QLatin1String("Target")).toString();
            if (target.startsWith(QStringLiteral("../")))
                target = baseFolder + target.mid(3);
            targets.insert(r.attributes().value(QLatin1String("Id")).toString(), target);
        }
    }
    return targets;
}

QList<XlsxAnchor> readDrawing(const QByteArray& xml, const QMap<QString, QString>& media) {
    QList<XlsxAnchor> anchors;
    QXmlStreamReader r(xml);
    int depth = 0;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isEndElement())
            --depth;
        if (!r.isStartElement())
            continue;
        ++depth;
        const auto name = r.name();
        const auto attrs = r.attributes();
        if (depth == 2) {
            anchors << XlsxAnchor{};
            anchors.last().kind = name.toString();
        } else if (anchors.isEmpty()) {
            continue;
        } else if (name == u"pos" && depth == 3) {
            anchors.last().x = attrs.value(QLatin1String("x")).toLongLong();
            anchors.last().y = attrs.value(QLatin1String("y")).toLongLong();
        } else if (name == u"ext" && depth == 3) {
            anchors.last().cx = attrs.value(QLatin1String("cx")).toLongLong();
            anchors.last().cy = attrs.value(QLatin1String("cy")).toLongLong();
        } else if (name == u"xfrm") {
            anchors.last().rotation = attrs.value(QLatin1String("rot")).toInt();
            anchors.last().flipH = attrs.value(QLatin1String("flipH")) == u"1";
            anchors.last().flipV = attrs.value(QLatin1String("flipV")) == u"1";
        } else if (name == u"off") {
            anchors.last().boxX = attrs.value(QLatin1String("x")).toLongLong();
            anchors.last().boxY = attrs.value(QLatin1String("y")).toLongLong();
        } else if (name == u"ext") {
            anchors.last().boxCx = attrs.value(QLatin1String("cx")).toLongLong();
            anchors.last().boxCy = attrs.value(QLatin1String("cy")).toLongLong();
        } else if (name == u"blip") {
            for (const auto& a : attrs)
                if (a.name() == u"embed")
                    anchors.last().media = media.value(a.value().toString());
        } else if (name == u"cNvPr") {
            anchors.last().description = attrs.value(QLatin1String("descr")).toString();
        }
    }
    return anchors;
}

int columnNumber(const QString& ref) {
    int n = 0;
    for (const QChar c : ref) {
        if (!c.isUpper())
            break;
        n = n * 26 + (c.unicode() - 'A' + 1);
    }
    return n;
}

}  // namespace

QString cellRef(int row, int column) {
    QString letters;
    for (int c = column; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar('A' + (c - 1) % 26));
    return letters + QString::number(row);
}

const XlsxStyle& XlsxSheet::styleOf(const QString& ref) const {
    static const XlsxStyle none;
    const auto it = cellStyle.constFind(ref);
    if (it != cellStyle.cend())
        return *it < styles.size() ? styles[*it] : none;
    // An empty cell takes its row's format, else its column's.
    const int row = ref.mid(ref.indexOf(QRegularExpression(QStringLiteral("\\d")))).toInt();
    if (rowStyle.contains(row))
        return styles[rowStyle[row]];
    if (const Column* c = columnOf(columnNumber(ref)))
        return styles[c->style];
    return styles.isEmpty() ? none : styles[0];
}

const XlsxSheet::Column* XlsxSheet::columnOf(int number) const {
    for (const Column& c : columns)
        if (c.min <= number && number <= c.max)
            return &c;
    return nullptr;
}

XlsxSheet readXlsx(const QString& path) {
    XlsxSheet sheet;
    sheet.entries = readArchive(path, sheet.error);
    if (!sheet.error.isEmpty())
        return sheet;
    // Every part must be well-formed XML: a spreadsheet program rejects the whole workbook
    // otherwise.
    for (auto it = sheet.entries.cbegin(); it != sheet.entries.cend(); ++it) {
        if (!it.key().endsWith(QStringLiteral(".xml")) && !it.key().endsWith(QStringLiteral(".rels")))
            continue;
        QXmlStreamReader part(it.value().data);
        while (!part.atEnd())
            part.readNext();
        if (part.hasError()) {
            sheet.error = QStringLiteral("%1 is no well-formed XML: %2 (line %3, column %4)")
                              .arg(it.key(), part.errorString())
                              .arg(part.lineNumber())
                              .arg(part.columnNumber());
            return sheet;
        }
    }
    const QString sheetPart = QStringLiteral("xl/worksheets/sheet1.xml");
    if (!sheet.entries.contains(sheetPart)) {
        sheet.error = QStringLiteral("no sheet1.xml");
        return sheet;
    }
    const QStringList strings =
        sharedStrings(sheet.entries.value(QStringLiteral("xl/sharedStrings.xml")).data);
    sheet.styles = readStyles(sheet.entries.value(QStringLiteral("xl/styles.xml")).data);

    QXmlStreamReader r(sheet.entries[sheetPart].data);
    QString ref, type;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        const auto name = r.name();
        const auto attrs = r.attributes();
        if (name == u"col") {
            sheet.columns << XlsxSheet::Column{
                attrs.value(QLatin1String("min")).toInt(), attrs.value(QLatin1String("max")).toInt(),
                attrs.value(QLatin1String("width")).toDouble(),
                attrs.hasAttribute(QLatin1String("style")) ? attrs.value(QLatin1String("style")).toInt() : 0};
        } else if (name == u"row") {
            const int row = attrs.value(QLatin1String("r")).toInt();
            if (attrs.value(QLatin1String("customFormat")) == u"1")
                sheet.rowStyle[row] = attrs.value(QLatin1String("s")).toInt();
            if (attrs.value(QLatin1String("customHeight")) == u"1")
                sheet.rowHeight[row] = attrs.value(QLatin1String("ht")).toDouble();
        } else if (name == u"c") {
            ref = attrs.value(QLatin1String("r")).toString();
            type = attrs.value(QLatin1String("t")).toString();
            sheet.cellStyle[ref] = attrs.value(QLatin1String("s")).toInt();
        } else if (name == u"v") {
            const QString v = r.readElementText();
            sheet.texts[ref] = type == u"s" ? strings.value(v.toInt()) : v;
        } else if (name == u"mergeCell") {
            sheet.merges << attrs.value(QLatin1String("ref")).toString();
        }
    }

    const QString drawing = QStringLiteral("xl/drawings/drawing1.xml");
    if (sheet.entries.contains(drawing)) {
        const auto media =
            relations(sheet.entries.value(QStringLiteral("xl/drawings/_rels/drawing1.xml.rels")).data,
                      QStringLiteral("xl/"));
        sheet.anchors = readDrawing(sheet.entries[drawing].data, media);
    }
    sheet.ok = true;
    return sheet;
}
