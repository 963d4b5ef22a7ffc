// Child process for the second-instance test: holds the card folder until killed.
#include "startup.h"

#include <QCoreApplication>
#include <QLockFile>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto lock = claimCardFolder(app.arguments().value(1));
    std::printf(lock ? "held\n" : "refused\n");
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}
