#include "csvformat.h"

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

// Collects the records libcsv finds, with the line each record starts on.
struct Collector {
    QList<QStringList> records;
    QList<int> lines;
    QStringList current;
    int line = 1;        // the physical line being fed
    int recordLine = 1;  // where the record being read started
    static void field(void* data, size_t length, void* self) {
        auto* c = static_cast<Collector*>(self);
        c->current << QString::fromUtf8(static_cast<const char*>(data), qsizetype(length));
    }
    static void record(int, void* self) {
        auto* c = static_cast<Collector*>(self);
        c->records << c->current;
        c->lines << c->recordLine;
        c->current.clear();
    }
};

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
        appendField(out, *s);
    }
    out += ',';
    if (card.deleted)
        appendField(out, kDeletedMark);
    out += "\r\n";
}

QList<Card> parse(const QString& text) {
    struct csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0)
        throw TransferError(QStringLiteral("CSV を読む準備ができませんでした。"));
    csv_set_space_func(&parser, noSpace);
    Collector collector;
    const QByteArray utf8 = text.toUtf8();
    qsizetype start = 0;
    bool failed = false;
    bool inQuotes = false;
    while (start < utf8.size() && !failed) {
        qsizetype end = utf8.indexOf('\n', start);
        end = end < 0 ? utf8.size() : end + 1;
        const size_t length = size_t(end - start);
        // A line starts a record unless an open quote carries the previous record over.
        if (!inQuotes)
            collector.recordLine = collector.line;
        inQuotes ^= (std::count(utf8.constData() + start, utf8.constData() + end, '"') % 2) == 1;
        if (csv_parse(&parser, utf8.constData() + start, length, Collector::field, Collector::record,
                      &collector) != length)
            failed = true;
        else
            ++collector.line;
        start = end;
    }
    if (!failed && csv_fini(&parser, Collector::field, Collector::record, &collector) != 0)
        failed = true;
    if (failed) {
        const int error = csv_error(&parser);
        const int line = collector.recordLine;
        csv_free(&parser);
        throw TransferError(lineError(
            line, error == CSV_EPARSE
                      ? QStringLiteral("引用符（\"）の使い方が正しくないか、引用符が閉じていません。")
                      : QStringLiteral("CSV として読めません。")));
    }
    csv_free(&parser);

    if (collector.records.isEmpty())
        throw TransferError(QStringLiteral("ファイルにヘッダ行がありません。"));
    // Columns are found by their header names so that a file rearranged in a spreadsheet still reads.
    int position[ColumnCount];
    std::fill(std::begin(position), std::end(position), -1);
    const QStringList& head = collector.records.first();
    for (int i = 0; i < head.size(); ++i) {
        const int column = int(columnNames().indexOf(head[i].trimmed()));
        if (column < 0)
            throw TransferError(
                lineError(collector.lines.first(),
                          QStringLiteral("列「%1」は読めません。ヘッダ行は %2 の列名にしてください。")
                              .arg(head[i], columnNames().join(QLatin1Char(',')))));
        if (position[column] >= 0)
            throw TransferError(
                lineError(collector.lines.first(), QStringLiteral("列「%1」が二つあります。").arg(head[i])));
        position[column] = i;
    }
    if (position[Name] < 0 && position[Reading] < 0)
        throw TransferError(lineError(collector.lines.first(),
                                      QStringLiteral("ヘッダ行に「名前」も「ふりがな」もありません。")));

    QList<Card> result;
    for (qsizetype r = 1; r < collector.records.size(); ++r) {
        const QStringList& fields = collector.records[r];
        const int line = collector.lines[r];
        if (std::all_of(fields.begin(), fields.end(), [](const QString& f) { return f.isEmpty(); }))
            continue;
        if (fields.size() != head.size())
            throw TransferError(lineError(line, QStringLiteral("項目の数が %1 個です（ヘッダ行は %2 個）。")
                                                    .arg(fields.size())
                                                    .arg(head.size())));
        auto value = [&](Column c) { return position[c] < 0 ? QString() : fields[position[c]]; };
        Card card;
        card.origin = line;
        card.texts.name = value(Name);
        card.texts.reading = value(Reading);
        card.texts.organisation = value(Organisation);
        card.texts.department = value(Department);
        card.texts.position = value(Position);
        card.texts.memo = storedLineBreaks(value(Memo));
        splitDate(value(Date).trimmed(), card.texts, line);
        const QString mark = value(Deleted).trimmed();
        if (mark == kDeletedMark || mark == cards::kDeleted)
            card.deleted = true;
        else if (!mark.isEmpty())
            throw TransferError(lineError(
                line,
                QStringLiteral("「削除」の列は空か「削除」にしてください（「%1」とあります）。").arg(mark)));
        result << card;
    }
    return result;
}

}  // namespace transfer::csv
