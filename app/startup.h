#pragma once

#include <QString>

// The whole program: start-up, the main menu's event loop, and the orderly end.
int runTavrona(int argc, char** argv);

// Creates the main menu, the database module (which connects, reporting a failure in the error
// box) and the other windows, in that order, and shows the main menu.
void startProgram();
// Destroys the windows, then the database module, which commits pending work.
void endProgram();
