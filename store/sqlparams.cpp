#include "sqlparams.h"

namespace {
bool isNameStart(QChar c) {
    return c.isLetter() || c == QLatin1Char('_');
}
bool isNamePart(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}
// The end of the quoted literal that starts at `start`: just past its closing quote, or the end
// of the text. A doubled quote inside the literal is an escaped quote, not its end.
qsizetype quotedEnd(const QString& sql, qsizetype start) {
    const QChar quote = sql[start];
    const qsizetype n = sql.size();
    qsizetype j = start + 1;
    while (j < n) {
        if (sql[j] != quote) {
            ++j;
        } else if (j + 1 < n && sql[j + 1] == quote) {
            j += 2;
        } else {
            return j + 1;
        }
    }
    return n;
}

}  // namespace

ParsedSql parseSqlParams(const QString& sql) {
    ParsedSql out;
    out.text.reserve(sql.size());
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto copyUntil = [&](qsizetype end) {
        out.text += QStringView(sql).mid(i, end - i);
        i = end;
    };
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            copyUntil(quotedEnd(sql, i));
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            copyUntil(j < 0 ? n : j);
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            qsizetype j = sql.indexOf(QLatin1String("*/"), i + 2);
            copyUntil(j < 0 ? n : j + 2);
        } else if (c == QLatin1Char(':') && i + 1 < n && isNameStart(sql[i + 1])) {
            qsizetype j = i + 1;
            while (j < n && isNamePart(sql[j]))
                ++j;
            out.markers << sql.mid(i + 1, j - i - 1);
            out.text += QLatin1Char('?');
            i = j;
        } else {
            out.text += c;
            ++i;
        }
    }
    return out;
}
