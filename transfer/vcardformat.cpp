#include "vcardformat.h"

#include "textdecode.h"

#include <QBuffer>
#include <QDate>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QImageReader>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <optional>

namespace transfer::vcard {

namespace {

// The card date in its exact parts, and the deleted mark: the card's own, beside what address
// books read.
const QByteArray kDateProperty = "X-CARD-DATE";
const QByteArray kDeletedProperty = "X-CARD-DELETED";

// The UIDs of exported cards are name-based UUIDs in a space of this program's own.
const QUuid kUidSpace(QStringLiteral("{6f1f3c52-3b0e-4f62-9d8a-2c7a51e0b4d3}"));

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

// ---- reading ----

QString cardError(int number, const QString& what) {
    return QStringLiteral("%1 件目のカード: %2").arg(number).arg(what);
}

// Bytes of a line for a message, whatever their encoding.
QString shown(QByteArrayView bytes) {
    const QByteArrayView cut = bytes.first(std::min<qsizetype>(bytes.size(), 40));
    for (Encoding e : {Encoding::Utf8, Encoding::ShiftJis}) {
        if (auto text = TextDecoder(e).decode(cut))
            return *text;
    }
    return QString::fromUtf8(cut);
}

// Backslash escapes; a vCard 2.1 escapes only the semicolon, so other backslashes are text there.
QString unescaped(QStringView text, bool version21) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text[i + 1];
            if (version21 && next != QLatin1Char(';')) {
                out += text[i];
                continue;
            }
            ++i;
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
QStringList components(const QString& value, bool version21) {
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\')) {
            ++i;
        } else if (value[i] == QLatin1Char(';')) {
            parts << unescaped(QStringView(value).mid(start, i - start), version21);
            start = i + 1;
        }
    }
    parts << unescaped(QStringView(value).mid(start), version21);
    return parts;
}

// Line breaks in a memo are CR LF whatever the file used.
QString storedLineBreaks(QString t) {
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return t;
}

QByteArray quotedPrintableDecoded(QByteArrayView in) {
    QByteArray out;
    out.reserve(in.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size() + 0 && hex(in[i + 1]) >= 0 && hex(in[i + 2]) >= 0) {
            out += char(hex(in[i + 1]) * 16 + hex(in[i + 2]));
            i += 2;
        } else if (in[i] == '=' && i + 1 < in.size() && (in[i + 1] == '\r' || in[i + 1] == '\n')) {
            // a soft line break left inside the value
            i += (in[i + 1] == '\r' && i + 2 < in.size() && in[i + 2] == '\n') ? 2 : 1;
        } else {
            out += in[i];
        }
    }
    return out;
}

bool isQuotedPrintable(const Property& p) {
    return p.has("ENCODING", "QUOTED-PRINTABLE");
}

// Where a property's name and parameters end: the first colon outside quotes, or -1.
qsizetype valueColon(const QByteArray& line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i;
    }
    return -1;
}

// The name and the parameters before the colon: they end at semicolons outside quotes.
QList<QByteArray> nameAndParameters(const QByteArray& line, qsizetype colon) {
    QList<QByteArray> parts;
    qsizetype start = 0;
    bool quoted = false;
    for (qsizetype i = 0; i <= colon; ++i) {
        if (i < colon && line[i] == '"')
            quoted = !quoted;
        if (i == colon || (line[i] == ';' && !quoted)) {
            parts << line.mid(start, i - start);
            start = i + 1;
        }
    }
    return parts;
}

QByteArray withoutQuotes(QByteArray v) {
    v = v.trimmed();
    if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"'))
        return v.mid(1, v.size() - 2);
    if (v.startsWith('"'))
        return v.mid(1);
    if (v.endsWith('"'))
        v.chop(1);
    return v;
}

void addParameter(Property& p, const QByteArray& part) {
    const qsizetype eq = part.indexOf('=');
    if (eq < 0) {
        // vCard 2.1 names the encoding or the type alone: "TEL;CELL;VOICE", "NOTE;QUOTED-PRINTABLE".
        const QByteArray token = part.trimmed().toUpper();
        const bool encoding = token == "QUOTED-PRINTABLE" || token == "BASE64" || token == "8BIT" ||
                              token == "7BIT" || token == "B";
        p.params << qMakePair(QByteArray(encoding ? "ENCODING" : "TYPE"), token);
        return;
    }
    const QByteArray key = part.left(eq).trimmed().toUpper();
    // "TYPE=CELL,VOICE" and "TYPE="cell,voice"" name several types.
    for (const QByteArray& v : part.mid(eq + 1).split(','))
        p.params << qMakePair(key, withoutQuotes(v));
}

// Splits "NAME;PARAM=V;NAMELESS:value" into its parts; false when there is no name or colon.
bool parseProperty(const QByteArray& line, Property& p) {
    const qsizetype colon = valueColon(line);
    if (colon <= 0)
        return false;
    QList<QByteArray> parts = nameAndParameters(line, colon);
    const QByteArray name = parts.takeFirst().trimmed().toUpper();
    const qsizetype dot = name.lastIndexOf('.');
    p.group = dot >= 0 ? name.left(dot) : QByteArray();
    p.name = dot >= 0 ? name.mid(dot + 1) : name;
    p.params.clear();
    for (const QByteArray& part : parts)
        addParameter(p, part);
    p.value = line.mid(colon + 1);
    return !p.name.isEmpty();
}

struct Decoded {
    QString text;
    QString error;
};

// A property's text: quoted-printable undone, then its character set (CHARSET, else UTF-8 when
// the bytes are UTF-8, else Shift-JIS).
Decoded textOf(const Property& p) {
    const QByteArray bytes = isQuotedPrintable(p) ? quotedPrintableDecoded(p.value) : p.value;
    const QByteArray charset = p.param("CHARSET");
    if (!charset.isEmpty()) {
        const auto encoding = encodingFromCharset(charset);
        if (!encoding)
            return {QString(),
                    QStringLiteral("%1 の文字コード「%2」は読めません（UTF-8 と Shift-JIS が読めます）。")
                        .arg(QString::fromLatin1(p.name), QString::fromLatin1(charset))};
        if (auto text = TextDecoder(*encoding).decode(bytes))
            return {*text, QString()};
        return {QString(), QStringLiteral("%1 が %2 として読めません。")
                               .arg(QString::fromLatin1(p.name), QString::fromLatin1(charset))};
    }
    for (Encoding e : {Encoding::Utf8, Encoding::ShiftJis}) {
        if (auto text = TextDecoder(e).decode(bytes))
            return {*text, QString()};
    }
    return {QString(), QStringLiteral("%1 の文字コードがわかりません（UTF-8 か Shift-JIS にしてください）。")
                           .arg(QString::fromLatin1(p.name))};
}

// A picture's bytes when they decode as a picture of a sensible size: PHOTO as base64 (2.1 and
// 3.0) or as a data: address (4.0).
std::optional<Picture> pictureOf(const Property& p) {
    QByteArray data = p.value.trimmed();
    const QByteArray encoding = p.param("ENCODING").toUpper();
    if (data.startsWith("data:")) {
        const qsizetype comma = data.indexOf(',');
        if (comma < 0 || !data.left(comma).contains(";base64"))
            return std::nullopt;
        data = data.mid(comma + 1);
    } else if (encoding != "B" && encoding != "BASE64") {
        return std::nullopt;  // a link to a picture elsewhere is not fetched
    }
    data.replace(' ', "").replace('\t', "");
    const auto result = QByteArray::fromBase64Encoding(data, QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(*result);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    // A picture of a card fits well within this; a larger one is more likely a decoding bomb.
    if (!size.isValid() || qint64(size.width()) * size.height() > 25'000'000)
        return std::nullopt;
    const QByteArray format = reader.format();
    // Decoded small: enough to know it is a picture, and JPEG decodes scaled at a fraction of the cost.
    reader.setScaledSize(size.scaled(256, 256, Qt::KeepAspectRatio));
    if (reader.read().isNull())
        return std::nullopt;
    QString suffix = QString::fromLatin1(format).toLower();
    if (suffix == QLatin1String("jpeg"))
        suffix = QStringLiteral("jpg");
    return Picture{*result, suffix};
}

// Labels of the telephone kinds, the first type found wins.
QString phoneLabel(const Property& p, const QString& groupLabel) {
    if (!groupLabel.isEmpty())
        return QStringLiteral("電話（%1）").arg(groupLabel);
    if (p.has("TYPE", "FAX"))
        return QStringLiteral("FAX");
    if (p.has("TYPE", "CELL"))
        return QStringLiteral("電話（携帯）");
    if (p.has("TYPE", "WORK"))
        return QStringLiteral("電話（勤務先）");
    if (p.has("TYPE", "HOME"))
        return QStringLiteral("電話（自宅）");
    return QStringLiteral("電話");
}

// A label from an address book ("_$!<Mobile>!$_" or a user's own), for the memo line.
QString groupLabelText(const QString& label) {
    static const QRegularExpression wrapped(QStringLiteral("^_\\$!<(.*)>!\\$_$"));
    const QRegularExpressionMatch m = wrapped.match(label);
    return m.hasMatch() ? m.captured(1) : label.trimmed();
}

// How well a property's language suits a Japanese card: lower is better.
int languageRank(const Property& p) {
    const QByteArray language = p.param("LANGUAGE").toLower();
    if (language == "ja" || language.startsWith("ja-"))
        return 0;
    return language.isEmpty() ? 1 : 2;
}

bool isPhonetic(const Property& p) {
    return !p.param("PHONETIC").isEmpty() || p.param("SCRIPT").compare("Hrkt", Qt::CaseInsensitive) == 0 ||
           p.param("SCRIPT").compare("Kana", Qt::CaseInsensitive) == 0 ||
           p.param("SCRIPT").compare("Hira", Qt::CaseInsensitive) == 0 ||
           p.param("LANGUAGE").toLower().contains("-hrkt");
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

QString joinedNonEmpty(const QStringList& parts, QChar separator = QLatin1Char(' ')) {
    QStringList kept;
    for (const QString& s : parts) {
        if (!s.trimmed().isEmpty())
            kept << s.trimmed();
    }
    return kept.join(separator);
}

}  // namespace

bool Property::has(QByteArrayView paramName, QByteArrayView wanted) const {
    for (const auto& [key, v] : params) {
        if (key == paramName && v.compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray Property::param(QByteArrayView paramName) const {
    for (const auto& [key, v] : params) {
        if (key == paramName)
            return v;
    }
    return QByteArray();
}

namespace {

// Of alternatives (4.0's ALTID, or plain repeats), the Japanese one wins, then one without a
// language, then the first.
struct Chosen {
    int rank = 99;
    QString text;
    const Property* property = nullptr;

    void offer(const Property& p, const QString& offered) {
        const int offeredRank = languageRank(p);
        if (offeredRank < rank)
            *this = {offeredRank, offered, &p};
    }
};

// What the properties of one card say, gathered before they become the card's texts.
struct Gathered {
    bool v21 = false;
    Chosen fn, n, org, title, phoneticN, sortString, phoneticOrg, soundName;
    QString phoneticLast, phoneticFirst, exactDate;
    QStringList notes, phones, mails, addresses, urls, birthdays, nicknames;
    std::optional<bool> deleted;

    QString unescape(const QString& raw) const { return unescaped(raw, v21); }
};

// A property's decoded text and the label an address book gave its group.
struct PropertyText {
    const Property& property;
    const QString& raw;
    const QString& groupLabel;
};

// "住所" or "住所（会社）": a memo line's label with the group's own label where there is one.
QString labelled(const QString& kind, const QString& groupLabel) {
    return groupLabel.isEmpty() ? kind : QStringLiteral("%1（%2）").arg(kind, groupLabel);
}

void appendLabelledLine(QStringList& lines, const QString& label, const QString& value) {
    if (!value.isEmpty())
        lines << label + QStringLiteral(": ") + value;
}

QString telephoneNumber(const Gathered& g, const QString& raw) {
    QString number = g.unescape(raw).trimmed();
    if (number.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive))
        number = number.mid(4);
    return number;
}

// post office box; extended; street; locality; region; code; country, written the Japanese way
// round: code, country, region, locality, street, extended, box, on one line.
QString addressLine(const Gathered& g, const QString& raw) {
    const QStringList a = components(raw, g.v21);
    QString code = a.value(5).trimmed();
    if (!code.isEmpty())
        code = QStringLiteral("〒") + code;
    return joinedNonEmpty({code, a.value(6), a.value(4), a.value(3), a.value(2), a.value(1), a.value(0)})
        .replace(QLatin1String("\r\n"), QLatin1String(" "));
}

bool isTrue(const QString& raw) {
    const QString value = raw.trimmed();
    return value.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 || value == QLatin1String("1");
}

using Gatherer = void (*)(Gathered&, const PropertyText&);

// What each text property of a vCard adds to the card; properties not named here are not kept.
const QHash<QByteArray, Gatherer>& gatherers() {
    static const QHash<QByteArray, Gatherer> table = {
        {"FN", [](Gathered& g, const PropertyText& t) { g.fn.offer(t.property, g.unescape(t.raw)); }},
        {"N",
         [](Gathered& g, const PropertyText& t) {
             (isPhonetic(t.property) ? g.phoneticN : g.n).offer(t.property, t.raw);
         }},
        {"SOUND", [](Gathered& g, const PropertyText& t) { g.soundName.offer(t.property, t.raw); }},
        {"X-PHONETIC-LAST-NAME",
         [](Gathered& g, const PropertyText& t) { g.phoneticLast = g.unescape(t.raw); }},
        {"X-PHONETIC-FIRST-NAME",
         [](Gathered& g, const PropertyText& t) { g.phoneticFirst = g.unescape(t.raw); }},
        {"SORT-STRING",
         [](Gathered& g, const PropertyText& t) { g.sortString.offer(t.property, g.unescape(t.raw)); }},
        {"ORG",
         [](Gathered& g, const PropertyText& t) {
             if (isPhonetic(t.property))
                 g.phoneticOrg.offer(t.property, joinedNonEmpty(components(t.raw, g.v21)));
             else
                 g.org.offer(t.property, t.raw);
         }},
        {"X-PHONETIC-ORG",
         [](Gathered& g, const PropertyText& t) { g.phoneticOrg.offer(t.property, g.unescape(t.raw)); }},
        {"TITLE", [](Gathered& g, const PropertyText& t) { g.title.offer(t.property, g.unescape(t.raw)); }},
        {"NOTE", [](Gathered& g, const PropertyText& t) { g.notes << storedLineBreaks(g.unescape(t.raw)); }},
        {"TEL",
         [](Gathered& g, const PropertyText& t) {
             appendLabelledLine(g.phones, phoneLabel(t.property, t.groupLabel), telephoneNumber(g, t.raw));
         }},
        {"EMAIL",
         [](Gathered& g, const PropertyText& t) {
             appendLabelledLine(g.mails, labelled(QStringLiteral("メール"), t.groupLabel),
                                g.unescape(t.raw).trimmed());
         }},
        {"ADR",
         [](Gathered& g, const PropertyText& t) {
             appendLabelledLine(g.addresses, labelled(QStringLiteral("住所"), t.groupLabel),
                                addressLine(g, t.raw));
         }},
        {"URL",
         [](Gathered& g, const PropertyText& t) {
             appendLabelledLine(g.urls, QStringLiteral("URL"), g.unescape(t.raw).trimmed());
         }},
        {"BDAY",
         [](Gathered& g, const PropertyText& t) {
             appendLabelledLine(g.birthdays, QStringLiteral("誕生日"), g.unescape(t.raw).trimmed());
         }},
        {"NICKNAME",
         [](Gathered& g, const PropertyText& t) {
             appendLabelledLine(g.nicknames, QStringLiteral("ニックネーム"), g.unescape(t.raw).trimmed());
         }},
        {kDateProperty, [](Gathered& g, const PropertyText& t) { g.exactDate = t.raw; }},
        {kDeletedProperty, [](Gathered& g, const PropertyText& t) { g.deleted = isTrue(t.raw); }},
    };
    return table;
}

// The vCard version the card names; a card without one, or of another version, is not read.
QByteArray versionOf(const QList<Property>& props, int number) {
    QByteArray version;
    for (const Property& p : props) {
        if (p.name == "VERSION")
            version = p.value.trimmed();
    }
    if (version != "2.1" && version != "3.0" && version != "4.0")
        throw TransferError(cardError(
            number,
            version.isEmpty()
                ? QStringLiteral("VERSION がありません。")
                : QStringLiteral("vCard %1 は読めません（2.1、3.0、4.0 が読めます）。").arg(shown(version))));
    return version;
}

// Labels that address books give a group of properties ("item1.X-ABLabel:会社").
QHash<QByteArray, QString> groupLabelsOf(const QList<Property>& props, bool v21) {
    QHash<QByteArray, QString> groupLabels;
    for (const Property& p : props) {
        if (p.name == "X-ABLABEL" && !p.group.isEmpty())
            groupLabels.insert(p.group, groupLabelText(unescaped(textOf(p).text, v21)));
    }
    return groupLabels;
}

// Adds one property to what is gathered of the card: a picture to the card itself, a text to g.
void gatherProperty(Card& card, Gathered& g, const Property& p,
                    const QHash<QByteArray, QString>& groupLabels) {
    if (p.name == "BEGIN")
        throw TransferError(cardError(card.origin, QStringLiteral("カードの中に別のカードがあります。")));
    if (p.name == "PHOTO") {
        if (auto picture = pictureOf(p))
            card.pictures << *picture;
        else
            card.leftOut << QStringLiteral("画像として読めない PHOTO");
        return;
    }
    // A recording is not kept; the reading of the name is the one sound phones write as text.
    if (p.name == "SOUND" && !p.has("TYPE", "X-IRMC-N"))
        return;
    static const QList<QByteArray> binary = {"LOGO", "KEY", "VERSION", "X-ABLABEL"};
    if (binary.contains(p.name))
        return;
    const Decoded d = textOf(p);
    if (!d.error.isEmpty())
        throw TransferError(cardError(card.origin, d.error));
    const Gatherer gather = gatherers().value(p.name);
    if (!gather)
        return;
    const QString groupLabel = p.group.isEmpty() ? QString() : groupLabels.value(p.group);
    gather(g, PropertyText{p, d.text, groupLabel});
}

// Family and given part of a structured name, joined with a space.
QString nameFromParts(const QString& structured, bool v21) {
    const QStringList parts = components(structured, v21);
    return joinedNonEmpty({parts.value(0), parts.value(1)});
}

// vCard 4.0 puts the reading in SORT-AS of N, family and given name split by a comma.
QString sortAsOf(const Chosen& n) {
    if (!n.property)
        return QString();
    QStringList values;
    for (const auto& [key, v] : n.property->params) {
        if (key == "SORT-AS")
            values << QString::fromUtf8(v);
    }
    return joinedNonEmpty(values);
}

// The reading: the phonetic name properties, else the phonetic N of RFC 9554, else the name's
// sound that phones write, else SORT-STRING, else SORT-AS of N.
QString readingOf(const Gathered& g) {
    const QString& sort = g.sortString.text;
    if (!g.phoneticLast.isEmpty() || !g.phoneticFirst.isEmpty()) {
        const QString reading = joinedNonEmpty({g.phoneticLast, g.phoneticFirst});
        // SORT-STRING keeps the reading exactly as stored when it is the same reading.
        auto bare = [](QString s) {
            s.removeIf([](QChar c) { return c.isSpace(); });
            return s;
        };
        return !sort.isEmpty() && bare(sort) == bare(reading) ? sort : reading;
    }
    if (g.phoneticN.property)
        return nameFromParts(g.phoneticN.text, g.v21);
    if (g.soundName.property)
        return nameFromParts(g.soundName.text, g.v21);
    return sort.isEmpty() ? sortAsOf(g.n) : sort;
}

void setNameAndOrganisation(cards::CardTexts& t, const Gathered& g) {
    t.name = g.fn.text;
    if (t.name.trimmed().isEmpty())
        t.name = nameFromParts(g.n.text, g.v21);
    if (g.org.property) {
        const QStringList parts = components(g.org.text, g.v21);
        t.organisation = parts.value(0);
        t.department = parts.mid(1).join(QLatin1Char(' ')).trimmed();
    }
    t.position = g.title.text;
}

}  // namespace

Card cardFrom(const QList<Property>& props, int number) {
    Card card;
    card.origin = number;
    Gathered g;
    g.v21 = versionOf(props, number) == "2.1";
    const QHash<QByteArray, QString> groupLabels = groupLabelsOf(props, g.v21);
    for (const Property& p : props)
        gatherProperty(card, g, p, groupLabels);

    cards::CardTexts& t = card.texts;
    setNameAndOrganisation(t, g);
    t.reading = readingOf(g);
    t.memo = g.notes.join(QLatin1String("\r\n"));
    if (!g.exactDate.isEmpty() && !setDateFromParts(g.exactDate, t))
        throw TransferError(cardError(number, QStringLiteral("%1「%2」が読めません（年/月/日 の形の数字）。")
                                                  .arg(QString::fromLatin1(kDateProperty), g.exactDate)));
    if (g.deleted)
        card.deleted = *g.deleted;
    QStringList lines = g.phones + g.mails + g.addresses + g.urls + g.birthdays + g.nicknames;
    if (!g.phoneticOrg.text.isEmpty())
        lines << QStringLiteral("組織名のふりがな: ") + g.phoneticOrg.text;
    appendMemoLines(card, lines);
    return card;
}

void appendCard(QByteArray& out, const Card& card, const ExportContext& context) {
    const cards::CardTexts& t = card.texts;
    out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    if (!context.cardFile.isEmpty() && !card.key.isEmpty()) {
        const QString file = QFileInfo(context.cardFile).canonicalFilePath();
        const QUuid uid = QUuid::createUuidV5(
            kUidSpace, (file.isEmpty() ? context.cardFile : file) + QLatin1Char('#') + card.key);
        appendLine(out, "UID", QStringLiteral("urn:uuid:") + uid.toString(QUuid::WithoutBraces));
    }
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
    // REV is when a vCard last changed, which is not the card's date: the date goes only in its
    // own property.
    const QString date = joinDate(t);
    if (!date.isEmpty())
        appendLine(out, kDateProperty, date);
    if (card.deleted)
        appendLine(out, kDeletedProperty, QStringLiteral("TRUE"));
    out += "END:VCARD\r\n";
}

// ---- the reader ----

struct CardReader::State {
    QIODevice& device;
    qint64 offset;       // of the next physical line
    int number;          // cards begun so far
    QByteArray pending;  // a physical line read ahead, without its line break
    qint64 pendingOffset = -1;
    bool havePending = false;

    State(QIODevice& d, qint64 o, int n) : device(d), offset(o), number(n) {}

    bool physical(QByteArray& line, qint64& at) {
        if (havePending) {
            havePending = false;
            line = std::move(pending);
            at = pendingOffset;
            return true;
        }
        if (device.atEnd())
            return false;
        at = offset;
        line = device.readLine();
        if (line.isEmpty())
            return false;
        offset += line.size();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        return true;
    }
    void putBack(QByteArray line, qint64 at) {
        pending = std::move(line);
        pendingOffset = at;
        havePending = true;
    }
    // One logical line: folded lines unfolded (a line break followed by a space or tab), and a
    // quoted-printable value's soft line breaks ("=" at a line's end) joined, before any decoding.
    bool logical(QByteArray& line, qint64& at) {
        if (!physical(line, at))
            return false;
        QByteArray next;
        qint64 nextAt;
        while (physical(next, nextAt)) {
            // A soft break first: a quoted-printable line may go on with a space that is text.
            if (line.endsWith('=') && isQuotedPrintableLine(line)) {
                line.chop(1);
                line += next;
                continue;
            }
            if (!next.isEmpty() && (next[0] == ' ' || next[0] == '\t')) {
                line += next.mid(1);
                continue;
            }
            putBack(std::move(next), nextAt);
            break;
        }
        return true;
    }
    static bool isQuotedPrintableLine(const QByteArray& line) {
        const qsizetype colon = line.indexOf(':');
        return colon > 0 && line.left(colon).toUpper().contains("QUOTED-PRINTABLE");
    }
};

CardReader::CardReader(QIODevice& device, qint64 offset, int number)
    : m(std::make_unique<State>(device, offset, number)) {
    if (!device.seek(offset))
        throw TransferError(QStringLiteral("ファイルを読めません: %1").arg(device.errorString()));
}

CardReader::~CardReader() = default;

bool CardReader::next(QList<Property>& properties, int& number, qint64& offset) {
    properties.clear();
    bool inCard = false;
    QByteArray line;
    qint64 at = 0;
    while (m->logical(line, at)) {
        if (line.trimmed().isEmpty())
            continue;
        Property p;
        if (!parseProperty(line, p)) {
            throw TransferError(
                inCard ? cardError(m->number,
                                   QStringLiteral("「%1」が読めません（「名前:値」の形の行ではありません）。")
                                       .arg(shown(line)))
                       : QStringLiteral("%1 件目のカードの後に読めない行「%2」があります。")
                             .arg(m->number)
                             .arg(shown(line)));
        }
        const QByteArray value = p.value.trimmed().toUpper();
        if (p.name == "BEGIN" && value == "VCARD" && !inCard) {
            inCard = true;
            ++m->number;
            offset = at;
        } else if (p.name == "END" && value == "VCARD") {
            if (!inCard)
                throw TransferError(cardError(
                    m->number + 1, QStringLiteral("BEGIN:VCARD がないのに END:VCARD があります。")));
            number = m->number;
            return true;
        } else if (!inCard) {
            throw TransferError(QStringLiteral("%1 件目のカードの後に vCard の外の行「%2」があります。")
                                    .arg(m->number)
                                    .arg(shown(line)));
        } else {
            properties << p;
        }
    }
    if (inCard)
        throw TransferError(
            cardError(m->number, QStringLiteral("END:VCARD がありません。ファイルが途中で切れています。")));
    return false;
}

}  // namespace transfer::vcard
