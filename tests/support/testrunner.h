#pragma once

// Runs the GoogleTest cases of a test program: an offscreen QApplication unless the
// caller chose a platform, and the shared globals put back after every test.
// A program with its own main (e.g. one that installs an event dispatcher first) calls it.
int runTestMain(int argc, char** argv);
