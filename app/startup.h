#pragma once

#include <QString>

// The whole program: start-up, the main menu's event loop, and the orderly end.
int runTavrona(int argc, char** argv);

struct CardFolder;

// The program's objects over one card folder, in this order: the main menu, the database module
// (which connects, reporting a failure in the error box), the version window, the card editor
// and the card list. Shows nothing: tests and benchmarks build the program this way too. An open
// that takes long shows the waiting window; false when the user stopped it there with 中止 (or
// the program is being ended), and the windows after the database module are then not made.
bool composeProgram(const CardFolder& folder);
// Composes the program with its visual style and shows the main menu; false as composeProgram.
bool startProgram(const CardFolder& folder);
// Destroys the windows, then the database module, which commits pending work.
void endProgram();
