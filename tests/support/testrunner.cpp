#include "testrunner.h"

#include "sharedglobalsguard.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <memory>

namespace {

// Every test starts from the shared globals the previous one found.
class SharedGlobalsListener : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo&) override { m_guard = std::make_unique<SharedGlobalsGuard>(); }
    // Called after the fixture's TearDown and destructor.
    void OnTestEnd(const ::testing::TestInfo&) override { m_guard.reset(); }
    std::unique_ptr<SharedGlobalsGuard> m_guard;
};

} // namespace

int runTestMain(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A main window's Modbus server takes a free port, never the host's 502.
    if (qEnvironmentVariableIsEmpty("MM_MODBUS_PORT"))
        qputenv("MM_MODBUS_PORT", "0");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new SharedGlobalsListener);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
