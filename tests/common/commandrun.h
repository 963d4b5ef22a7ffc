#pragma once
// Runs a command-line program to its end, as a script would, and keeps what it said.

#include <QProcess>
#include <QString>
#include <QStringList>

struct CommandRun {
    int code = -1;  // -1: it did not end normally within two minutes
    QString out, err;
};

inline CommandRun runCommand(const QString& program, const QStringList& args,
                             const QString& workingDirectory = {}) {
    QProcess p;
    if (!workingDirectory.isEmpty())
        p.setWorkingDirectory(workingDirectory);
    p.start(program, args);
    CommandRun r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
