#include "intakestack.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <iterator>
#include <utility>

#include <unistd.h>

namespace intake {

namespace {

// Compares names as a person reads them: runs of digits by their value.
bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const QStringView da = QStringView(a).mid(i, ei - i), db = QStringView(b).mid(j, ej - j);
            const qulonglong va = da.toULongLong(), vb = db.toULongLong();
            if (va != vb)
                return va < vb;
            i = ei;
            j = ej;
            continue;
        }
        const int c = QStringView(a).mid(i, 1).compare(QStringView(b).mid(j, 1), Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b;
}

enum class Side { None, Front, Back };

struct Named {
    QString stem;  // the name without its ending and side
    Side side = Side::None;
    QString number;  // "3" for "…_3": a numbered series rather than two sides
};

Named sideOf(const QString& name) {
    static const QRegularExpression sides(QStringLiteral("^(.+)[_-](1|2|front|back|表|裏)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression numbered(QStringLiteral("^(.+)[_-](\\d+)$"));
    const QString base = name.left(name.lastIndexOf(QLatin1Char('.')));
    Named n;
    const QRegularExpressionMatch m = sides.match(base);
    if (m.hasMatch()) {
        const QString s = m.captured(2).toLower();
        n.stem = m.captured(1);
        n.side = s == QLatin1String("1") || s == QLatin1String("front") || s == QStringLiteral("表")
                     ? Side::Front
                     : Side::Back;
        return n;
    }
    const QRegularExpressionMatch num = numbered.match(base);
    if (num.hasMatch()) {
        n.stem = num.captured(1);
        n.number = num.captured(2);
    }
    return n;
}

// A picture's name in the record: the characters that end a field or a line written as %XX.
// The percent sign goes first when writing and last when reading.
constexpr std::pair<const char*, const char*> kEscapes[] = {
    {"%", "%25"}, {"\t", "%09"}, {"\n", "%0A"}, {"\r", "%0D"}};

QString escaped(QString name) {
    for (const auto& [plain, written] : kEscapes)
        name.replace(QLatin1String(plain), QLatin1String(written));
    return name;
}

QString unescaped(QString name) {
    for (auto e = std::rbegin(kEscapes); e != std::rend(kEscapes); ++e)
        name.replace(QLatin1String(e->second), QLatin1String(e->first));
    return name;
}

const QLatin1String kRegistered("registered"), kSkipped("skipped");

}  // namespace

bool isPictureName(const QString& name) {
    static const QRegularExpression endings(QStringLiteral("\\.(jpe?g|png|gif|bmp)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return endings.match(name).hasMatch();
}

QList<StackCard> pairPictures(QStringList names, bool duplex) {
    std::sort(names.begin(), names.end(), naturalLess);
    QList<Named> named;
    named.reserve(names.size());
    // Stems that number a series beyond 1 and 2 are not the two sides of a card.
    QHash<QString, int> fronts, backs;
    QSet<QString> series;
    for (qsizetype i = 0; i < names.size(); ++i) {
        named << sideOf(names[i]);
        const Named& n = named.last();
        if (n.side == Side::Front)
            fronts.insert(n.stem.toLower(), int(i));
        else if (n.side == Side::Back)
            backs.insert(n.stem.toLower(), int(i));
        else if (!n.number.isEmpty())
            series.insert(n.stem.toLower());
    }
    QList<StackCard> cards;
    QList<int> alone;
    QSet<int> used;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (used.contains(int(i)))
            continue;
        const Named& n = named[i];
        const QString stem = n.stem.toLower();
        if (n.side != Side::None && !series.contains(stem) && fronts.contains(stem) && backs.contains(stem)) {
            const int front = fronts.value(stem), back = backs.value(stem);
            used << front << back;
            cards << StackCard{{names[front], names[back]}};
            continue;
        }
        used << int(i);
        if (duplex) {
            alone << int(i);
            continue;
        }
        cards << StackCard{{names[i]}};
    }
    // The feeder's sheets in order, each card's two sides one after another; the card order
    // follows the first picture's place.
    for (qsizetype i = 0; i < alone.size(); i += 2) {
        StackCard c{{names[alone[i]]}};
        if (i + 1 < alone.size())
            c.pictures << names[alone[i + 1]];
        cards << c;
    }
    std::stable_sort(cards.begin(), cards.end(), [&](const StackCard& a, const StackCard& b) {
        return names.indexOf(a.pictures.first()) < names.indexOf(b.pictures.first());
    });
    return cards;
}

QList<StackCard> listStack(const QString& folder, bool duplex) {
    const QDir dir(folder);
    if (!dir.exists())
        throw IntakeError(QStringLiteral("フォルダ「%1」が見つかりません。").arg(folder));
    if (!dir.isReadable())
        throw IntakeError(QStringLiteral("フォルダ「%1」を読めません。").arg(folder));
    QStringList names;
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::Readable | QDir::NoDotAndDotDot)) {
        if (isPictureName(f.fileName()))
            names << f.fileName();
    }
    if (names.isEmpty())
        throw IntakeError(
            QStringLiteral("フォルダ「%1」に名刺の画像（JPEG・PNG・GIF・BMP）がありません。").arg(folder));
    return pairPictures(names, duplex);
}

StackRecord::StackRecord(const QString& folder) : m_path(QDir(folder).filePath(kRecordFileName)) {}

void StackRecord::load() {
    m_entries.clear();
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& raw : lines) {
        if (raw.startsWith('#'))
            continue;
        const QStringList fields = QString::fromUtf8(raw).split(QLatin1Char('\t'));
        if (fields.size() < 3)
            continue;  // a line cut short by a crash, or none of ours
        Entry e;
        if (fields[0] == kRegistered)
            e.outcome = CardOutcome::Registered;
        else if (fields[0] == kSkipped)
            e.outcome = CardOutcome::Skipped;
        else
            continue;
        e.key = fields[1].toInt();
        for (qsizetype i = 2; i < fields.size(); ++i)
            e.pictures << unescaped(fields[i]);
        m_entries << e;
    }
}

CardOutcome StackRecord::outcome(const StackCard& card, int* key) const {
    // The last line about the card counts: a card passed over and registered later is registered.
    for (qsizetype i = m_entries.size() - 1; i >= 0; --i) {
        const Entry& e = m_entries[i];
        if (e.pictures.first() != card.pictures.first())
            continue;
        if (key)
            *key = e.key;
        return e.outcome;
    }
    return CardOutcome::Open;
}

bool StackRecord::note(const StackCard& card, CardOutcome outcome, int key) {
    m_entries << Entry{card.pictures, outcome, key};
    QString line = outcome == CardOutcome::Registered ? QString(kRegistered) : QString(kSkipped);
    line += QLatin1Char('\t') + (key > 0 ? QString::number(key) : QString());
    for (const QString& p : card.pictures)
        line += QLatin1Char('\t') + escaped(p);
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        m_error = file.errorString();
        return false;
    }
    QByteArray bytes;
    if (file.size() == 0) {
        bytes = QStringLiteral("# 名刺管理のまとめて取り込み: 登録 (registered) と飛ばした (skipped) 画像\n")
                    .toUtf8();
    } else {
        // A line cut short by a crash is ended first, so that it cannot spoil this one.
        char last = '\n';
        if (file.seek(file.size() - 1) && file.read(&last, 1) == 1 && last != '\n')
            bytes = "\n";
    }
    bytes += line.toUtf8() + '\n';
    if (file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace intake
