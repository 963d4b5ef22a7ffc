#pragma once
// A card folder with a real card file for the transfer tests, and readers nobody here wrote
// (Python's csv module and python3-vobject) to check what the export writes.

#include "cards.h"
#include "carddatabase.h"
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

}  // namespace fixture
