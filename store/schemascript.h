#pragma once

#include <QString>
#include <QStringList>

// Splits an SQL script into its statements, honouring "SET TERM" changes of the terminator and
// skipping comments and the SET TERM lines themselves.
QStringList splitSqlScript(const QString& script);
