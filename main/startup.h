// The start-up sequence, shared by the entry point and the tests.
#pragma once

#include <string>

extern std::string modifierName;

// Runs start-up in its fixed order and then the application event loop.
int runHelper(int argc, char** argv);
