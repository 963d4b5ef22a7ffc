#include "vcardformat.h"

#include <QDate>
#include <QRegularExpression>

namespace transfer::vcard {

namespace {

// The card date in its exact parts, which REV (a full date only) cannot always carry.
const QByteArray kDateProperty = "X-CARD-DATE";

QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\') || c == QLatin1Char(',') || c == QLatin1Char(';')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            out += QLatin1String("\\n");
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\\n");
        } else {
            out += c;
        }
    }
    return out;
}

// Appends "NAME:value" folded into lines of at most 75 octets, never inside a UTF-8 sequence.
void appendLine(QByteArray& out, const QByteArray& name, const QString& value) {
    const QByteArray line = name + ':' + value.toUtf8();
    qsizetype pos = 0;
    qsizetype limit = 75;
    while (line.size() - pos > limit) {
        qsizetype cut = pos + limit;
        while (cut > pos && (uchar(line[cut]) & 0xC0) == 0x80)
            --cut;
        out += line.mid(pos, cut - pos);
        out += "\r\n ";
        pos = cut;
        limit = 74;  // the leading space of a continuation line counts
    }
    out += line.mid(pos);
    out += "\r\n";
}

// A name or reading split at its first space (half or full width): family part, given part.
bool splitAtSpace(const QString& text, QString& first, QString& second) {
    const QString t = text.trimmed();
    for (qsizetype i = 0; i < t.size(); ++i) {
        if (t[i].isSpace()) {
            first = t.left(i).trimmed();
            second = t.mid(i + 1).trimmed();
            return !first.isEmpty() && !second.isEmpty();
        }
    }
    return false;
}

bool isFullDate(const cards::CardTexts& t) {
    bool y, m, d;
    const QDate date(t.year.toInt(&y), t.month.toInt(&m), t.day.toInt(&d));
    return y && m && d && t.year.size() == 4 && date.isValid();
}

// ---- reading ----

struct Property {
    QByteArray name;  // upper case, group removed
    QString params;   // as written
    QString value;    // still escaped
};

QString unescaped(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text[++i];
            if (next == QLatin1Char('n') || next == QLatin1Char('N'))
                out += QLatin1String("\r\n");
            else
                out += next;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Splits a structured value at the semicolons that are not escaped, then unescapes each part.
QStringList components(const QString& value) {
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\')) {
            ++i;
        } else if (value[i] == QLatin1Char(';')) {
            parts << unescaped(QStringView(value).mid(start, i - start));
            start = i + 1;
        }
    }
    parts << unescaped(QStringView(value).mid(start));
    return parts;
}

bool parseProperty(const QString& line, Property& p) {
    // The name and parameters end at the first colon outside a quoted parameter value.
    bool quoted = false;
    qsizetype colon = -1;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == QLatin1Char('"'))
            quoted = !quoted;
        else if (line[i] == QLatin1Char(':') && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon <= 0)
        return false;
    const QString head = line.left(colon);
    const qsizetype semi = head.indexOf(QLatin1Char(';'));
    QString name = semi < 0 ? head : head.left(semi);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name = name.mid(dot + 1);
    p.name = name.trimmed().toUpper().toLatin1();
    p.params = semi < 0 ? QString() : head.mid(semi + 1);
    p.value = line.mid(colon + 1);
    return !p.name.isEmpty();
}

QString cardError(int number, const QString& what) {
    return QStringLiteral("%1 件目のカード: %2").arg(number).arg(what);
}

void setDateFromRev(const QString& value, cards::CardTexts& t) {
    static const QRegularExpression form(QStringLiteral("^(\\d{4})-?(\\d{2})-?(\\d{2})"));
    const QRegularExpressionMatch m = form.match(value.trimmed());
    if (m.hasMatch()) {
        t.year = m.captured(1);
        t.month = m.captured(2);
        t.day = m.captured(3);
    }
}

bool setDateFromParts(const QString& value, cards::CardTexts& t) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{0,4})/([0-9]{0,2})/([0-9]{0,2})$"));
    const QRegularExpressionMatch m = form.match(value.trimmed());
    if (!m.hasMatch())
        return false;
    t.year = m.captured(1);
    t.month = m.captured(2);
    t.day = m.captured(3);
    return true;
}

// The reading: the phonetic family and given names, or else the sort string, or else the name's
// sort parameter (vCard 4.0).
QString readingFrom(const QString& phoneticLast, const QString& phoneticFirst, const QString& sortString,
                    const QString& sortAs) {
    if (phoneticLast.isEmpty() && phoneticFirst.isEmpty())
        return sortString.isEmpty() ? sortAs : sortString;
    QStringList parts{phoneticLast.trimmed(), phoneticFirst.trimmed()};
    parts.removeAll(QString());
    const QString reading = parts.join(QLatin1Char(' '));
    // SORT-STRING keeps the reading exactly as stored when it is the same reading.
    if (!sortString.isEmpty() &&
        QString(sortString).remove(QLatin1Char(' ')).remove(QChar(0x3000)) == QString(reading).remove(QLatin1Char(' ')))
        return sortString;
    return reading;
}

// Turns the properties of one vCard into a card.
Card cardFrom(const QList<Property>& props, int number) {
    Card card;
    card.origin = number;
    cards::CardTexts& t = card.texts;
    QStringList nameParts;  // N: family; given; ...
    QString phoneticLast, phoneticFirst, sortString, sortAs, version, rev, exactDate;
    QStringList notes;
    for (const Property& p : props) {
        if (p.name == "VERSION") {
            version = p.value.trimmed();
        } else if (p.name == "FN") {
            t.name = unescaped(p.value);
        } else if (p.name == "N") {
            nameParts = components(p.value);
            static const QRegularExpression sortParam(QStringLiteral("SORT-AS=\"?([^\";:]*)\"?"),
                                                      QRegularExpression::CaseInsensitiveOption);
            const QRegularExpressionMatch m = sortParam.match(p.params);
            if (m.hasMatch())  // vCard 4.0 puts the reading here, family and given name split by a comma
                sortAs = m.captured(1).replace(QLatin1Char(','), QLatin1Char(' ')).trimmed();
        } else if (p.name == "X-PHONETIC-LAST-NAME") {
            phoneticLast = unescaped(p.value);
        } else if (p.name == "X-PHONETIC-FIRST-NAME") {
            phoneticFirst = unescaped(p.value);
        } else if (p.name == "SORT-STRING") {
            sortString = unescaped(p.value);
        } else if (p.name == "ORG") {
            const QStringList parts = components(p.value);
            t.organisation = parts.value(0);
            t.department = parts.mid(1).join(QLatin1Char(' ')).trimmed();
        } else if (p.name == "TITLE") {
            t.position = unescaped(p.value);
        } else if (p.name == "NOTE") {
            notes << unescaped(p.value);
        } else if (p.name == "REV") {
            rev = p.value;
        } else if (p.name == kDateProperty) {
            exactDate = p.value;
        } else if (p.name == "BEGIN") {
            throw TransferError(cardError(number, QStringLiteral("カードの中に別のカードがあります。")));
        }
    }
    if (version != QLatin1String("3.0") && version != QLatin1String("4.0"))
        throw TransferError(cardError(
            number, version.isEmpty()
                        ? QStringLiteral("VERSION がありません。")
                        : QStringLiteral("vCard %1 は読めません（3.0 と 4.0 が読めます）。").arg(version)));
    if (t.name.trimmed().isEmpty() && !nameParts.isEmpty()) {
        QStringList given{nameParts.value(0).trimmed(), nameParts.value(1).trimmed()};
        given.removeAll(QString());
        t.name = given.join(QLatin1Char(' '));
    }
    t.reading = readingFrom(phoneticLast, phoneticFirst, sortString, sortAs);
    t.memo = notes.join(QLatin1String("\r\n"));
    if (exactDate.isEmpty() || !setDateFromParts(exactDate, t))
        setDateFromRev(rev, t);
    return card;
}

}  // namespace

void appendCard(QByteArray& out, const Card& card) {
    const cards::CardTexts& t = card.texts;
    out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    appendLine(out, "FN", escaped(t.name));
    QString family, given;
    if (splitAtSpace(t.name, family, given))
        appendLine(out, "N", escaped(family) + QLatin1Char(';') + escaped(given) + QLatin1String(";;;"));
    else
        appendLine(out, "N", escaped(t.name.trimmed()) + QLatin1String(";;;;"));
    if (!t.reading.isEmpty()) {
        QString last, first;
        if (splitAtSpace(t.reading, last, first)) {
            appendLine(out, "X-PHONETIC-LAST-NAME", escaped(last));
            appendLine(out, "X-PHONETIC-FIRST-NAME", escaped(first));
        }
        appendLine(out, "SORT-STRING", escaped(t.reading));
    }
    if (!t.organisation.isEmpty() || !t.department.isEmpty())
        appendLine(out, "ORG", escaped(t.organisation) + QLatin1Char(';') + escaped(t.department));
    if (!t.position.isEmpty())
        appendLine(out, "TITLE", escaped(t.position));
    if (!t.memo.isEmpty())
        appendLine(out, "NOTE", escaped(t.memo));
    const QString date = joinDate(t);
    if (!date.isEmpty()) {
        if (isFullDate(t))
            appendLine(out, "REV",
                       QDate(t.year.toInt(), t.month.toInt(), t.day.toInt()).toString(Qt::ISODate));
        appendLine(out, kDateProperty, date);
    }
    out += "END:VCARD\r\n";
}

QList<Card> parse(const QString& text) {
    // Unfolding: a line break followed by a space or a tab continues the line.
    QString unfolded = text;
    unfolded.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    unfolded.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    unfolded.replace(QLatin1String("\n "), QString());
    unfolded.replace(QLatin1String("\n\t"), QString());
    const QStringList lines = unfolded.split(QLatin1Char('\n'));

    QList<Card> result;
    QList<Property> current;
    bool inCard = false;
    int number = 0;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        Property p;
        if (!parseProperty(line, p)) {
            throw TransferError(
                inCard ? cardError(number, QStringLiteral("「%1」が読めません。").arg(line.left(40)))
                       : QStringLiteral("%1 件目のカードの後に読めない行「%2」があります。")
                             .arg(number)
                             .arg(line.left(40)));
        }
        const QString value = p.value.trimmed().toUpper();
        if (p.name == "BEGIN" && value == QLatin1String("VCARD") && !inCard) {
            inCard = true;
            ++number;
            current.clear();
        } else if (p.name == "END" && value == QLatin1String("VCARD")) {
            if (!inCard)
                throw TransferError(
                    cardError(number + 1, QStringLiteral("BEGIN:VCARD がないのに END:VCARD があります。")));
            result << cardFrom(current, number);
            inCard = false;
        } else if (!inCard) {
            throw TransferError(QStringLiteral("%1 件目のカードの後に vCard の外の行「%2」があります。")
                                    .arg(number)
                                    .arg(line.left(40)));
        } else {
            current << p;
        }
    }
    if (inCard)
        throw TransferError(
            cardError(number, QStringLiteral("END:VCARD がありません。ファイルが途中で切れています。")));
    if (result.isEmpty())
        throw TransferError(QStringLiteral("ファイルに vCard がありません。"));
    return result;
}

}  // namespace transfer::vcard
