#pragma once
// Start-up: the composition root that makes the program over a card folder and runs it.

#include "program.h"

#include <memory>

struct CardFolder;

// The whole program: start-up, the main menu's event loop, and the orderly end.
int runTavrona(int argc, char** argv);

// The program's objects over one card folder (see Program). Shows nothing: tests and benchmarks
// build the program this way too. Destroying it ends the program: the windows go, then the
// database module, which commits pending work. Null when the user stopped a slow open with 中止
// (or the program is being ended): the open may still run in the engine, so nothing is destroyed.
[[nodiscard]] std::unique_ptr<Program> composeProgram(const CardFolder& folder);
// Composes the program with its visual style and shows the main menu; null as composeProgram.
[[nodiscard]] std::unique_ptr<Program> startProgram(const CardFolder& folder);
