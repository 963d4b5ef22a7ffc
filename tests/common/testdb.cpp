#include "testdb.h"

#include "ibobjects.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <stdexcept>

namespace testdb {

QString toolPath() {
    return QStringLiteral(MKCARDDB_PATH);
}

QString create(const QString& dir) {
    static QTemporaryDir templateDir;
    static QString templatePath;
    if (templatePath.isEmpty()) {
        configureEmbeddedEngine();
        const QString path = templateDir.filePath(QStringLiteral("template.fdb"));
        QProcess tool;
        tool.start(toolPath(), {path});
        if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
            throw std::runtime_error("mkcarddb failed: " + tool.readAllStandardError().toStdString());
        templatePath = path;
    }
    QDir().mkpath(dir + QStringLiteral("/data"));
    const QString target = dir + QStringLiteral("/data/DATA.FDB");
    QFile::remove(target);
    if (!QFile::copy(templatePath, target))
        throw std::runtime_error("cannot copy the template database");
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

}  // namespace testdb
