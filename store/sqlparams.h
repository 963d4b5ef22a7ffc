#pragma once

#include <QString>
#include <QStringList>

// A statement text with its named parameters (":NAME") turned into the positional markers the
// database takes. Colons inside quoted strings and comments are left alone.
struct ParsedSql {
    QString text;         // the statement with each parameter replaced by '?'
    QStringList markers;  // the parameter name of each '?', in order (a name may repeat)
};

ParsedSql parseSqlParams(const QString& sql);
