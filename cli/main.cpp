// tavrona-cards: the card file's backup, restore, export and import for scripts and cron.

#include "commands.h"
#include "ibobjects.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    configureEmbeddedEngine();
    QCoreApplication app(argc, argv);
    return cli::main(app.arguments());
}
