// Creates an empty card database from the schema: mkcarddb PATH
// An existing file is never touched: the tool says so and succeeds.

#include "dbstatement.h"
#include "engineprocess.h"
#include "privatefile.h"
#include "schemascript.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>

namespace {

int makeCardDatabase(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: mkcarddb PATH\n");
        return 2;
    }
    const QString path = QFileInfo(args[1]).absoluteFilePath();
    if (QFileInfo::exists(path)) {
        std::printf("kept existing database %s\n", qPrintable(path));
        return 0;
    }
    QFile schema(QStringLiteral(":/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "mkcarddb: the schema is missing from the tool\n");
        return 1;
    }
    // The card file will hold the cards: its owner's alone, in a folder only the owner enters
    // when the folder is made here.
    privatefile::makeFolders(QFileInfo(path).absolutePath());
    configureEmbeddedEngine();
    try {
        createDatabaseFile(path, splitSqlScript(QString::fromUtf8(schema.readAll())));
        // The engine creates the file as the umask lets; it holds no card yet.
        if (!privatefile::restrictToOwner(path))
            throw DbError(
                QStringLiteral("cannot make %1 private: %2").arg(path, privatefile::systemReason(errno)));
    } catch (const DbError& e) {
        std::fprintf(stderr, "mkcarddb: %s\n", e.what());
        return 1;
    }
    std::printf("created %s\n", qPrintable(path));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The engine's threads are stopped before the process exits, and its lock folder is its own.
    engineprocess::Process process;
    return process.finish(makeCardDatabase(argc, argv));
}
