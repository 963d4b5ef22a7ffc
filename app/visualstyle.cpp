#include "visualstyle.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStyleFactory>

bool applyVisualStyle(const QString& name) {
    QDirIterator it(QStringLiteral(":/styles"));
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).completeBaseName().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
        return true;
    }
    return false;
}
