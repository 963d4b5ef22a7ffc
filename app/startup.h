#pragma once

// The whole program: start-up, the main menu's event loop, and the orderly end.
int runTavrona(int argc, char** argv);
