#pragma once
// A card folder with a real card file for the transfer tests, and readers nobody here wrote
// (Python's csv module and python3-vobject) to check what the export writes.

#include "carddatabase.h"
#include "cards.h"
#include "testdb.h"
#include "transfercard.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace fixture {

inline cards::CardTexts texts(const QString& name, const QString& organisation = {},
                              const QString& memo = {}) {
    cards::CardTexts t;
    t.name = name;
    t.organisation = organisation;
    t.memo = memo;
    t.reading = QStringLiteral("よみ");
    t.year = QStringLiteral("2026");
    t.month = QStringLiteral("01");
    t.day = QStringLiteral("31");
    return t;
}

inline void store(CardDatabase& dm, const QList<cards::CardTexts>& list,
                  cards::CardState state = cards::CardState::Live) {
    dm.allOrNothing([&] {
        for (const cards::CardTexts& t : list)
            cards::insertCard(dm.statement, QStringLiteral("0"), t, state);
    });
}

// Every stored card as one line of its texts and flag (no key), newest first.
inline QStringList storedCards(CardDatabase& dm, bool withDeleted = true) {
    QStringList rows;
    transfer::forEachStoredCard(dm, withDeleted, [&](const transfer::Card& c) {
        const cards::CardTexts& t = c.texts;
        rows << QStringList{t.year,       t.month,
                            t.day,        t.name,
                            t.reading,    t.organisation,
                            t.department, t.position,
                            t.memo,       c.deleted ? QStringLiteral("deleted") : QStringLiteral("live")}
                    .join(QLatin1Char('|'));
    });
    return rows;
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Text in Windows' Shift-JIS, as converted by iconv.
inline QByteArray shiftJis(const QString& text) {
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"), {QStringLiteral("-f"), QStringLiteral("UTF-8"), QStringLiteral("-t"),
                                          QStringLiteral("CP932")});
    iconv.write(text.toUtf8());
    iconv.closeWriteChannel();
    if (!iconv.waitForFinished() || iconv.exitCode() != 0)
        qFatal("iconv failed");
    return iconv.readAllStandardOutput();
}

// A property line with its value in quoted-printable as phones write it: every byte outside
// printable ASCII (and "=") as =XX, lines broken with a soft break ("=" at the end) before 76
// characters, CR LF after the last.
inline QByteArray quotedPrintableLine(const QByteArray& head, const QByteArray& value) {
    QByteArray out = head + ':';
    int column = int(out.size());
    for (const char c : value) {
        const uchar u = uchar(c);
        const QByteArray piece = (u >= 0x20 && u < 0x7F && c != '=')
                                     ? QByteArray(1, c)
                                     : "=" + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += int(piece.size());
    }
    return out + "\r\n";
}

// Runs a Python script with the file's path as its argument and returns its JSON output.
inline QJsonArray python(const char* script, const QString& path) {
    QProcess p;
    // Debian's interpreter, which has the python3-vobject package, whatever else is first on PATH.
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script), path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning("python3 failed: %s", p.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
}

inline const char* const kReadCsv = R"(
import csv, json, sys
with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:
    print(json.dumps(list(csv.reader(f))))
)";

inline const char* const kReadVcard = R"(
import json, sys, vobject
out = []
with open(sys.argv[1], encoding='utf-8') as f:
    for card in vobject.readComponents(f.read()):
        d = {}
        for child in card.getChildren():
            v = child.value
            if child.name == 'N':
                v = [v.family, v.given]
            elif child.name == 'ORG':
                v = list(v)
            d[child.name] = v
        out.append(d)
print(json.dumps(out, ensure_ascii=False))
)";

// Evolution's contact parser: each vCard of the file as the address book reads it.
inline const char* const kReadVcardWithEvolution = R"(
import json, re, sys
import gi
gi.require_version('EBookContacts', '1.2')
from gi.repository import EBookContacts as E
text = open(sys.argv[1], encoding='utf-8').read()
out = []
for chunk in re.findall(r'BEGIN:VCARD.*?END:VCARD\r?\n', text, re.S):
    c = E.Contact.new_from_vcard(chunk)
    deleted = c.get_attribute('X-CARD-DELETED')
    out.append({'uid': c.get_property('id') or '', 'fn': c.get_property('full-name') or '',
                'org': c.get_property('org') or '', 'unit': c.get_property('org-unit') or '',
                'title': c.get_property('title') or '', 'note': c.get_property('note') or '',
                'deleted': deleted.get_value() if deleted else ''})
print(json.dumps(out, ensure_ascii=False))
)";

// LibreOffice Calc's reading of a CSV file: every cell of the first sheet with its text and
// whether Calc took it for a formula, from the flat OpenDocument file Calc writes of it.
inline const char* const kReadCalcCells = R"(
import json, sys
import xml.etree.ElementTree as ET
ns = {'table': 'urn:oasis:names:tc:opendocument:xmlns:table:1.0',
      'text': 'urn:oasis:names:tc:opendocument:xmlns:text:1.0'}
rows = []
for row in ET.parse(sys.argv[1]).getroot().iter('{%s}table-row' % ns['table']):
    cells = []
    for cell in row.findall('table:table-cell', ns):
        repeat = int(cell.get('{%s}number-columns-repeated' % ns['table'], '1'))
        text = '\n'.join(''.join(p.itertext()) for p in cell.findall('text:p', ns))
        formula = cell.get('{%s}formula' % ns['table']) is not None
        cells += [[text, formula]] * min(repeat, 20)
    rows.append(cells)
print(json.dumps(rows[:50], ensure_ascii=False))
)";

}  // namespace fixture
