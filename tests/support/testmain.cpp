#include <QApplication>
#include <gtest/gtest.h>

// Every test program gets one QApplication on the offscreen platform unless
// the caller chose a platform (whole-program tests run under Xvfb).
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A main window's Modbus server takes a free port, never the host's 502.
    if (qEnvironmentVariableIsEmpty("MM_MODBUS_PORT"))
        qputenv("MM_MODBUS_PORT", "0");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
