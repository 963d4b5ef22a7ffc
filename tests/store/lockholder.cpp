// Child process for the card folder lock tests: holds the folder until killed.
#include "folderlock.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const cardfolder::Claim claim = cardfolder::claim(app.arguments().value(1));
    std::printf(claim.lock ? "held\n" : "refused\n");
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}
