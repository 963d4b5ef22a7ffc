#include "schemascript.h"

#include <QRegularExpression>

QStringList splitSqlScript(const QString& script) {
    static const QRegularExpression setTerm(QStringLiteral("^\\s*SET\\s+TERM\\s+(\\S+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    QStringList statements;
    QString terminator = QStringLiteral(";");
    QString current;
    const qsizetype n = script.size();
    qsizetype i = 0;
    auto finish = [&] {
        const QString s = current.trimmed();
        current.clear();
        if (s.isEmpty())
            return;
        const QRegularExpressionMatch m = setTerm.match(s);
        if (m.hasMatch())
            terminator = m.captured(1);
        else
            statements << s;
    };
    while (i < n) {
        if (script.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = script.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else if (script.mid(i, 2) == QLatin1String("--")) {
            const qsizetype end = script.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? n : end;
        } else if (script[i] == QLatin1Char('\'')) {
            const qsizetype end = script.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype stop = end < 0 ? n : end + 1;
            current += script.mid(i, stop - i);
            i = stop;
        } else if (QStringView(script).mid(i).startsWith(terminator)) {
            i += terminator.size();
            finish();
        } else {
            current += script[i++];
        }
    }
    finish();
    return statements;
}
