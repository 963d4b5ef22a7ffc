#pragma once
// The program a test composes over its card folder, reached by the test functions, fixtures and
// helper lambdas alike; resetting it ends the program as closing the main menu does.

#include "startup.h"

#include <memory>

inline std::unique_ptr<Program> program;
