#pragma once

#include <QString>

#include <memory>

class QLockFile;

// The whole program: start-up, the main menu's event loop, and the orderly end.
int runTavrona(int argc, char** argv);

// Creates the main menu, the database module (which connects, reporting a failure in the error
// box) and the other windows, in that order, and shows the main menu.
void startProgram();
// Destroys the windows, then the database module, which commits pending work.
void endProgram();

// Takes the card folder for this process. Null when another running copy of the program holds
// it; a lock left by a process that died is taken over.
std::unique_ptr<QLockFile> claimCardFolder(const QString& folder);
