// A pause at a chosen write, which the tests' own copies of the program
// offer (test_pause.cpp); the installed programs have none
// (test_pause_none.cpp).
#pragma once

// Reads the pause asked for in the environment, if any, and sets it up; a
// setting it cannot read ends the program with status 2.
void startTestPause();
