// Merges two cards of a card folder and dies by SIGKILL at the moment the merge would commit:
// its pictures copied, nothing committed. The duplicates test settles what it leaves.
//   mergedies FOLDER KEY KEY

#include "carddatabase.h"
#include "cards.h"
#include "dbconnection.h"
#include "duplicates.h"

#include <QCoreApplication>

#include <csignal>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    configureEmbeddedEngine();
    QCoreApplication app(argc, argv);
    CardDatabase dm(QString::fromLocal8Bit(argv[1]));
    dm.open();
    cards::setStepObserver([](const char* step) {
        if (std::strcmp(step, "commit") == 0)
            std::raise(SIGKILL);
    });
    transfer::mergeDuplicates(dm, {std::atoi(argv[2]), std::atoi(argv[3])});
    return 1;  // the merge was to die before its commit
}
