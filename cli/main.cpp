// tavrona-cards: the card file's backup, restore, export and import for scripts and cron.

#include "commands.h"
#include "engineprocess.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    // Before Qt or the engine start a thread: the termination signals go to our own thread only.
    engineprocess::Process process;
    engineprocess::setForcedExitLine(QByteArrayLiteral("tavrona-cards: 中断しました。\n"));
    int rc = 0;
    {
        QCoreApplication app(argc, argv);
        rc = cli::main(app.arguments());
    }
    return process.finish(rc);
}
