#include "testrunner.h"

// Every test program gets one QApplication on the offscreen platform unless
// the caller chose a platform (whole-program tests run under Xvfb).
int main(int argc, char** argv)
{
    return runTestMain(argc, argv);
}
