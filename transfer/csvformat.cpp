#include "csvformat.h"

#include <QHash>
#include <QIODevice>
#include <QRegularExpression>

#include <csv.h>

#include <algorithm>

namespace transfer::csv {

namespace {

enum Column { Key, Date, Name, Reading, Organisation, Department, Position, Memo, Deleted, ColumnCount };

const QString kDeletedMark = QStringLiteral("削除");

bool needsQuotes(QByteArrayView field) {
    for (char c : field) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

void appendField(QByteArray& out, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    if (!needsQuotes(utf8)) {
        out += utf8;
        return;
    }
    out += '"';
    for (char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// A spreadsheet takes a cell that starts with one of these for a formula (or, for tab and CR, a
// character that hides one); a card's text is data. Such a text is written after an apostrophe,
// which spreadsheets read as "text follows", and a text that starts with an apostrophe gets one
// more, so that reading it back takes exactly one away.
bool startsLikeFormula(QStringView text) {
    if (text.isEmpty())
        return false;
    const QChar c = text[0];
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r' || c == u'\'';
}

void appendText(QByteArray& out, const QString& text) {
    appendField(out, startsLikeFormula(text) ? QLatin1Char('\'') + text : text);
}

QString unguarded(const QString& field) {
    if (field.startsWith(QLatin1Char('\'')) && startsLikeFormula(QStringView(field).mid(1)))
        return field.mid(1);
    return field;
}

int noSpace(unsigned char) {
    return 0;  // fields keep their spaces exactly
}

QString lineError(int line, const QString& what) {
    return QStringLiteral("%1 行目: %2").arg(line).arg(what);
}

// Memo line breaks are stored as CR LF whatever the file used.
QString storedLineBreaks(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return t;
}

void splitDate(const QString& text, cards::CardTexts& t, int line) {
    if (text.isEmpty())
        return;
    static const QRegularExpression form(QStringLiteral("^([0-9]{0,4})[/.-]([0-9]{0,2})[/.-]([0-9]{0,2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        throw TransferError(lineError(
            line,
            QStringLiteral("日付「%1」が読めません（年/月/日 の形で、年は4桁まで、月と日は2桁までの数字）。")
                .arg(text)));
    t.year = m.captured(1);
    t.month = m.captured(2);
    t.day = m.captured(3);
}

}  // namespace

const QStringList& columnNames() {
    static const QStringList names = {
        QStringLiteral("キー"),     QStringLiteral("日付"),   QStringLiteral("名前"),
        QStringLiteral("ふりがな"), QStringLiteral("組織名"), QStringLiteral("部署"),
        QStringLiteral("身分"),     QStringLiteral("メモ"),   QStringLiteral("削除")};
    return names;
}

QByteArray header() {
    QByteArray out("\xEF\xBB\xBF");
    for (int i = 0; i < ColumnCount; ++i) {
        if (i)
            out += ',';
        appendField(out, columnNames()[i]);
    }
    out += "\r\n";
    return out;
}

void appendRow(QByteArray& out, const Card& card) {
    const cards::CardTexts& t = card.texts;
    appendField(out, card.key);
    out += ',';
    appendField(out, joinDate(t));
    for (const QString* s : {&t.name, &t.reading, &t.organisation, &t.department, &t.position, &t.memo}) {
        out += ',';
        appendText(out, *s);
    }
    out += ',';
    if (card.deleted)
        appendField(out, kDeletedMark);
    out += "\r\n";
}

// ---- reading ----

struct RowReader::State {
    QIODevice& device;
    TextDecoder decoder;
    struct csv_parser parser;
    bool parserReady = false;
    bool finished = false;
    bool inQuotes = false;
    qint64 offset;    // of the next line to feed
    int line;         // the physical line being fed
    int rowLine = 1;  // where the row being read started
    qint64 rowOffset = 0;
    QStringList current;
    bool fieldFailed = false;
    // Rows complete but not taken yet, with their lines and offsets.
    QList<QStringList> rows;
    QList<int> rowLines;
    QList<qint64> rowOffsets;

    State(QIODevice& d, Encoding e, qint64 o, int l) : device(d), decoder(e), offset(o), line(l) {}

    static void field(void* data, size_t length, void* self) {
        auto* s = static_cast<State*>(self);
        const auto text =
            s->decoder.decode(QByteArrayView(static_cast<const char*>(data), qsizetype(length)));
        if (!text)
            s->fieldFailed = true;
        s->current << text.value_or(QString());
    }
    static void record(int, void* self) {
        auto* s = static_cast<State*>(self);
        s->rows << s->current;
        s->rowLines << s->rowLine;
        s->rowOffsets << s->rowOffset;
        s->current.clear();
    }
    [[noreturn]] void fail() {
        const int error = csv_error(&parser);
        throw TransferError(lineError(
            rowLine, error == CSV_EPARSE
                         ? QStringLiteral("引用符（\"）の使い方が正しくないか、引用符が閉じていません。")
                         : QStringLiteral("CSV として読めません。")));
    }
    // Feeds the next physical line; false at the end of the file.
    bool feed() {
        if (finished)
            return false;
        const QByteArray bytes = device.readLine();
        if (bytes.isEmpty()) {
            finished = true;
            if (csv_fini(&parser, field, record, this) != 0)
                fail();
            return !rows.isEmpty();
        }
        // A line starts a row unless an open quote carries the previous row over.
        if (!inQuotes) {
            rowLine = line;
            rowOffset = offset;
        }
        inQuotes ^= (bytes.count('"') % 2) == 1;
        if (csv_parse(&parser, bytes.constData(), size_t(bytes.size()), field, record, this) !=
            size_t(bytes.size()))
            fail();
        if (fieldFailed)
            throw TransferError(lineError(rowLine, QStringLiteral("文字コードが途中で変わっています。")));
        ++line;
        offset += bytes.size();
        return true;
    }
};

RowReader::RowReader(QIODevice& device, Encoding encoding, qint64 offset, int line)
    : m(std::make_unique<State>(device, encoding, offset, line)) {
    // Before the parser exists: a constructor that throws runs no destructor to free it.
    if (!device.seek(offset))
        throw TransferError(QStringLiteral("ファイルを読めません: %1").arg(device.errorString()));
    if (csv_init(&m->parser, CSV_STRICT | CSV_STRICT_FINI) != 0)
        throw TransferError(QStringLiteral("CSV を読む準備ができませんでした。"));
    m->parserReady = true;
    csv_set_space_func(&m->parser, noSpace);
}

RowReader::~RowReader() {
    if (m->parserReady)
        csv_free(&m->parser);
}

bool RowReader::next(QStringList& fields, int& line, qint64& offset) {
    while (m->rows.isEmpty()) {
        if (!m->feed())
            return false;
    }
    fields = m->rows.takeFirst();
    line = m->rowLines.takeFirst();
    offset = m->rowOffsets.takeFirst();
    return true;
}

namespace {

// A header name as compared: compatibility forms folded, letter case, spaces, brackets and
// middle dots ignored.
QString headerKey(const QString& header) {
    QString k = header.normalized(QString::NormalizationForm_KC).toLower();
    k.removeIf([](QChar c) {
        return c.isSpace() || c == u'(' || c == u')' || c == u'（' || c == u'）' || c == u'・' || c == u'_' ||
               c == u'"';
    });
    return k;
}

bool isJapanese(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() >= 0x3000)
            return true;
    }
    return false;
}

struct Known {
    const char* key;  // as headerKey() gives it
    Box box;
};

// Headers of the card's own boxes, as our export and the address books write them.
const Known kKnown[] = {
    {"キー", Box::Key},
    {"日付", Box::Date},
    {"名前", Box::Name},
    {"氏名", Box::Name},
    {"name", Box::Name},
    {"fullname", Box::Name},
    {"姓", Box::FamilyName},
    {"lastname", Box::FamilyName},
    {"familyname", Box::FamilyName},
    {"名", Box::GivenName},
    {"firstname", Box::GivenName},
    {"givenname", Box::GivenName},
    {"ふりがな", Box::Reading},
    {"フリガナ", Box::Reading},
    {"よみがな", Box::Reading},
    {"yominame", Box::Reading},
    {"phoneticname", Box::Reading},
    {"フリガナ姓", Box::FamilyReading},
    {"姓フリガナ", Box::FamilyReading},
    {"ふりがな姓", Box::FamilyReading},
    {"姓ふりがな", Box::FamilyReading},
    {"familynameyomi", Box::FamilyReading},
    {"phoneticlastname", Box::FamilyReading},
    {"フリガナ名", Box::GivenReading},
    {"名フリガナ", Box::GivenReading},
    {"ふりがな名", Box::GivenReading},
    {"名ふりがな", Box::GivenReading},
    {"givennameyomi", Box::GivenReading},
    {"phoneticfirstname", Box::GivenReading},
    {"組織名", Box::Organisation},
    {"会社", Box::Organisation},
    {"会社名", Box::Organisation},
    {"勤務先", Box::Organisation},
    {"company", Box::Organisation},
    {"organization", Box::Organisation},
    {"organizationname", Box::Organisation},
    {"organization1-name", Box::Organisation},
    {"部署", Box::Department},
    {"部署名", Box::Department},
    {"department", Box::Department},
    {"organizationdepartment", Box::Department},
    {"organization1-department", Box::Department},
    {"身分", Box::Position},
    {"役職", Box::Position},
    {"肩書", Box::Position},
    {"肩書き", Box::Position},
    {"jobtitle", Box::Position},
    {"organizationtitle", Box::Position},
    {"organization1-title", Box::Position},
    {"メモ", Box::Memo},
    {"備考", Box::Memo},
    {"notes", Box::Memo},
    {"note", Box::Memo},
    {"削除", Box::Deleted},
};

const char* const kKindLabels[] = {"電話",         "メール",           "住所", "URL", "誕生日",
                                   "ニックネーム", "組織名のふりがな", ""};

QString kindLabel(LineKind kind) {
    return QString::fromUtf8(kKindLabels[int(kind)]);
}

// Which kind of memo line a header is, by the words it holds; Other when none.
LineKind lineKindOf(const QString& key) {
    auto has = [&](std::initializer_list<const char*> words) {
        for (const char* w : words) {
            if (key.contains(QString::fromUtf8(w)))
                return true;
        }
        return false;
    };
    // What only describes another column: an address type, the name shown with an address, and
    // the parts of an address that Google writes whole in its "- Formatted" column too.
    static const QRegularExpression addressPart(
        QStringLiteral("^address\\d+-(street|city|pobox|region|postalcode|country|extendedaddress)$"));
    if (has({"種類", "表示名", "displayname"}) || key.endsWith(QLatin1String("type")) ||
        addressPart.match(key).hasMatch())
        return LineKind::Other;
    if (key.startsWith(QLatin1String("phonetic")))
        return LineKind::Other;  // a reading's part without a box, not a phone
    if (has({"organization1-yominame", "organizationyomi", "会社名フリガナ", "会社フリガナ", "会社名ふりがな",
             "組織名ふりがな", "組織名フリガナ", "phoneticorganization"}))
        return LineKind::OrganisationReading;
    if (has({"電話", "携帯", "fax", "ファックス", "ファクス", "phone", "mobile", "pager", "ポケットベル",
             "tel"}))
        return LineKind::Phone;
    if (has({"メール", "mail"}))
        return LineKind::Mail;
    if (has({"住所", "番地", "市区町村", "市町村", "都道府県", "国/地域", "郵便番号", "国地域", "address",
             "street", "city", "postalcode", "zip", "region", "country"}))
        return LineKind::Address;
    if (has({"web", "url", "ホームページ", "website"}))
        return LineKind::Web;
    if (has({"誕生日", "birthday"}))
        return LineKind::Birthday;
    if (has({"ニックネーム", "nickname"}))
        return LineKind::Nickname;
    return LineKind::Other;
}

// A memo line's label: a Japanese header as it stands ("携帯電話"), another one after its kind
// ("電話（Mobile Phone）"); the kind alone for a header that is just the kind.
QString lineLabel(const QString& header, LineKind kind) {
    QString h = header.trimmed();
    QString k = kindLabel(kind);
    // Headers that name nothing but the kind.
    static const QStringList plain = {
        "phone",   "telephone", "tel",     "e-mail",  "email", "mail",     "e-mailaddress", "emailaddress",
        "address", "web",       "website", "webpage", "url",   "homepage", "birthday",      "nickname"};
    const QString key = headerKey(h);
    if (key == headerKey(k) || plain.contains(key) || kind == LineKind::OrganisationReading)
        return k;
    if (isJapanese(h))
        return h;
    return QStringLiteral("%1（%2）").arg(k, h);
}

// Google writes a value and its label in a pair of columns: "Phone 1 - Value" and "Phone 1 - Type"
// (or "- Label"). Returns the pair's stem ("phone1") and whether this is the value's column.
bool googlePair(const QString& key, QString& stem, bool& value) {
    static const QRegularExpression form(QStringLiteral("^(.*\\d+)-(value|type|label|formatted)$"));
    const QRegularExpressionMatch m = form.match(key);
    if (!m.hasMatch())
        return false;
    stem = m.captured(1);
    value = m.captured(2) == QLatin1String("value") || m.captured(2) == QLatin1String("formatted");
    return true;
}

QString joined(const QStringList& parts, const QString& separator) {
    QStringList kept;
    for (const QString& p : parts) {
        if (!p.isEmpty())
            kept << p;
    }
    return kept.join(separator);
}

}  // namespace

QStringList Columns::leftOut() const {
    QStringList names;
    for (const ColumnTarget& t : targets) {
        if (t.box == Box::LeftOut && !t.header.trimmed().isEmpty())
            names << t.header;
    }
    return names;
}

const QList<Choice>& choices() {
    static const QList<Choice> list = {
        {Box::Name, QStringLiteral("名前")},
        {Box::FamilyName, QStringLiteral("名前（姓）")},
        {Box::GivenName, QStringLiteral("名前（名）")},
        {Box::Reading, QStringLiteral("ふりがな")},
        {Box::FamilyReading, QStringLiteral("ふりがな（姓）")},
        {Box::GivenReading, QStringLiteral("ふりがな（名）")},
        {Box::Organisation, QStringLiteral("組織名")},
        {Box::Department, QStringLiteral("部署")},
        {Box::Position, QStringLiteral("身分")},
        {Box::Memo, QStringLiteral("メモ")},
        {Box::MemoLine, QStringLiteral("メモに見出し付きで")},
        {Box::Date, QStringLiteral("日付")},
        {Box::Deleted, QStringLiteral("削除の印")},
        {Box::LeftOut, QStringLiteral("読み込まない")},
    };
    return list;
}

QString describe(const ColumnTarget& target) {
    if (target.box == Box::MemoLine)
        return QStringLiteral("メモ（%1: …）").arg(target.label);
    if (target.box == Box::Key)
        return QStringLiteral("キー（新しいキーを付けます）");
    if (target.box == Box::LineLabel)
        return QStringLiteral("メモの見出しに添える");
    for (const Choice& c : choices()) {
        if (c.box == target.box)
            return c.caption;
    }
    return QString();
}

ColumnTarget retargeted(const ColumnTarget& target, Box box) {
    ColumnTarget t = target;
    t.box = box;
    if (box == Box::MemoLine) {
        if (t.label.isEmpty()) {
            t.kind = lineKindOf(headerKey(t.header));
            t.label = t.kind == LineKind::Other ? t.header.trimmed() : lineLabel(t.header, t.kind);
        }
    } else {
        t.labelFrom = -1;
    }
    return t;
}

Columns readHeader(const QStringList& head, int line) {
    Columns columns;
    QHash<QString, int> labelColumns;  // Google's "- Type"/"- Label" columns by stem
    for (int i = 0; i < head.size(); ++i) {
        ColumnTarget t;
        t.header = head[i];
        const QString key = headerKey(head[i]);
        QString stem;
        bool isValue = false;
        if (key.isEmpty()) {
            t.box = Box::LeftOut;  // an empty header cell, as spreadsheets leave at the end
        } else if (auto known = std::find_if(std::begin(kKnown), std::end(kKnown),
                                             [&](const Known& k) { return key == QString::fromUtf8(k.key); });
                   known != std::end(kKnown)) {
            t.box = known->box;
        } else if (googlePair(key, stem, isValue) && !isValue) {
            t.box = Box::LineLabel;
            labelColumns.insert(stem, i);
        } else if (const LineKind kind = lineKindOf(key); kind != LineKind::Other) {
            t.box = Box::MemoLine;
            t.kind = kind;
            // Google's pair: the kind's word alone, the row's label added to it.
            t.label = googlePair(key, stem, isValue) ? kindLabel(kind) : lineLabel(head[i], kind);
        }
        columns.targets << t;
    }
    // Each value column of Google's pairs takes its label from the row's label column.
    for (ColumnTarget& t : columns.targets) {
        QString stem;
        bool isValue = false;
        if (t.box == Box::MemoLine && googlePair(headerKey(t.header), stem, isValue) && isValue)
            t.labelFrom = labelColumns.value(stem, -1);
    }
    // A label column whose value column is not read says nothing.
    for (ColumnTarget& t : columns.targets) {
        if (t.box != Box::LineLabel)
            continue;
        const int self = int(&t - columns.targets.data());
        const bool used = std::any_of(columns.targets.begin(), columns.targets.end(),
                                      [&](const ColumnTarget& o) { return o.labelFrom == self; });
        if (!used)
            t.box = Box::LeftOut;
    }
    checkColumns(columns, line);
    return columns;
}

void checkColumns(const Columns& columns, int line) {
    const bool named = std::any_of(columns.targets.begin(), columns.targets.end(), [](const ColumnTarget& t) {
        return t.box == Box::Name || t.box == Box::FamilyName || t.box == Box::GivenName ||
               t.box == Box::Reading || t.box == Box::FamilyReading || t.box == Box::GivenReading;
    });
    if (!named)
        throw TransferError(lineError(
            line, QStringLiteral("ヘッダ行に「名前」も「ふりがな」もありません（姓・名、Name、First Name "
                                 "などの列もありません）。")));
}

bool cardFrom(const Columns& columns, const QStringList& fields, int line, Card& card) {
    if (std::all_of(fields.begin(), fields.end(), [](const QString& f) { return f.isEmpty(); }))
        return false;
    if (fields.size() != columns.count())
        throw TransferError(lineError(line, QStringLiteral("項目の数が %1 個です（ヘッダ行は %2 個）。")
                                                .arg(fields.size())
                                                .arg(columns.count())));
    card = Card();
    card.origin = line;
    cards::CardTexts& t = card.texts;
    QStringList names, families, givens, readings, familyReadings, givenReadings, organisations, departments,
        positions, memos, dates, marks;
    QList<QStringList> lines(int(LineKind::Other) + 1);
    for (int i = 0; i < columns.count(); ++i) {
        const ColumnTarget& target = columns.targets[i];
        const QString value = unguarded(fields[i]);
        switch (target.box) {
            case Box::Name:
                names << value;
                break;
            case Box::FamilyName:
                families << value.trimmed();
                break;
            case Box::GivenName:
                givens << value.trimmed();
                break;
            case Box::Reading:
                readings << value;
                break;
            case Box::FamilyReading:
                familyReadings << value.trimmed();
                break;
            case Box::GivenReading:
                givenReadings << value.trimmed();
                break;
            case Box::Organisation:
                organisations << value;
                break;
            case Box::Department:
                departments << value;
                break;
            case Box::Position:
                positions << value;
                break;
            case Box::Memo:
                memos << storedLineBreaks(value);
                break;
            case Box::Date:
                dates << value.trimmed();
                break;
            case Box::Deleted:
                marks << value.trimmed();
                break;
            case Box::MemoLine: {
                const QString text = value.trimmed();
                if (text.isEmpty())
                    break;
                QString label = target.label;
                if (target.labelFrom >= 0) {
                    QString extra = fields[target.labelFrom].trimmed();
                    extra.remove(QLatin1String("* "));  // Google marks the preferred value so
                    if (!extra.isEmpty())
                        label += QStringLiteral("（%1）").arg(extra);
                }
                // A memo line stays one line.
                QString oneLine = text;
                oneLine.replace(QLatin1String("\r\n"), QLatin1String(" "))
                    .replace(QLatin1Char('\n'), QLatin1Char(' '));
                oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '));
                lines[int(target.kind)] << label + QStringLiteral(": ") + oneLine;
                break;
            }
            case Box::Key:
            case Box::LineLabel:
            case Box::LeftOut:
                break;
        }
    }
    const QString space = QStringLiteral(" ");
    t.name = joined(names, space);
    if (t.name.isEmpty()) {
        // Japanese names go family first; others as they are written, the given name first.
        const QString family = joined(families, space), given = joined(givens, space);
        t.name = isJapanese(family + given) ? joined({family, given}, space) : joined({given, family}, space);
    }
    t.reading = joined(readings, space);
    if (t.reading.isEmpty())
        t.reading = joined({joined(familyReadings, space), joined(givenReadings, space)}, space);
    t.organisation = joined(organisations, space);
    t.department = joined(departments, space);
    t.position = joined(positions, space);
    t.memo = joined(memos, QStringLiteral("\r\n"));
    splitDate(joined(dates, QString()), t, line);
    const QString mark = joined(marks, QString());
    if (mark == kDeletedMark || cards::flagIsWrittenFor(mark, cards::CardState::Deleted))
        card.deleted = true;
    else if (!mark.isEmpty())
        throw TransferError(lineError(
            line,
            QStringLiteral("「削除」の列は空か「削除」にしてください（「%1」とあります）。").arg(mark)));
    QStringList memoLines;
    for (const QStringList& kind : lines)
        memoLines += kind;
    appendMemoLines(card, memoLines);
    return true;
}

}  // namespace transfer::csv
