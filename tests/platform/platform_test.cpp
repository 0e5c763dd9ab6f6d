#include "clock.h"
#include "descriptorreserve.h"
#include "devicefile.h"
#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "hostpaths.h"
#include "shellrunner.h"

#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

TEST(ShellRunner, PassesArgumentsWithoutAShell)
{
    // Shell syntax in an argument must arrive as plain text.
    const ShellResult result = runProgram("/bin/echo", {"a;b", "$(id)", "`x`"});
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.stdOut, QByteArray("a;b $(id) `x`\n"));
}

TEST(ShellRunner, ReportsExitCodesMissingProgramsAndTimeouts)
{
    EXPECT_EQ(runProgram("/bin/false", {}).exitCode, 1);
    EXPECT_FALSE(runProgram("/bin/false", {}).ok());

    const ShellResult missing = runProgram("/nonexistent/program", {});
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.ok());

    const ShellResult slow = runProgram("/bin/sleep", {"5"}, 200);
    EXPECT_TRUE(slow.timedOut);
    EXPECT_FALSE(slow.ok());
}

TEST(ShellRunner, FakeRecordsCallsAndIsRemovedAfterwards)
{
    {
        FakeShellRunner fake;
        fake.setOutput("blkid", "/dev/sda1: TYPE=\"ext4\"\n");
        const ShellResult result = runProgram("blkid", {"-o", "list"});
        EXPECT_EQ(result.stdOut, QByteArray("/dev/sda1: TYPE=\"ext4\"\n"));
        EXPECT_TRUE(ShellRunner::instance().startDetached("reboot", {}));
        EXPECT_EQ(fake.lines(), (QStringList{"blkid -o list", "reboot"}));
        EXPECT_TRUE(fake.calls().at(1).detached);
    }
    // The real runner is back.
    EXPECT_TRUE(runProgram("/bin/true", {}).ok());
}

TEST(HostPaths, MapsAbsolutePathsUnderTheRoot)
{
    EXPECT_EQ(HostPaths::path("/proc/cpuinfo"), QString("/proc/cpuinfo"));
    FakeHostRoot host;
    ASSERT_TRUE(host.write("/proc/cpuinfo", "vendor_id\t: Test\n"));
    QFile file(HostPaths::path("/proc/cpuinfo"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("vendor_id\t: Test\n"));
    EXPECT_EQ(HostPaths::path("/proc/cpuinfo"), host.root() + "/proc/cpuinfo");

    // One separator between root and path, whichever side brings it.
    HostPaths::setRoot(host.root() + "/");
    EXPECT_EQ(HostPaths::path("/proc/cpuinfo"), host.root() + "/proc/cpuinfo");
    EXPECT_EQ(HostPaths::path("sys/class"), host.root() + "/sys/class");
}

TEST(Clock, FixedClockAdvancesAndResets)
{
    const QDateTime moment(QDate(2026, 3, 1), QTime(5, 59, 59));
    Clock::setFixed(moment);
    EXPECT_EQ(Clock::now(), moment);
    Clock::advance(1000);
    EXPECT_EQ(Clock::now(), QDateTime(QDate(2026, 3, 1), QTime(6, 0, 0)));
    EXPECT_EQ(Clock::nowMSecsSinceEpoch(), QDateTime(QDate(2026, 3, 1), QTime(6, 0, 0)).toMSecsSinceEpoch());
    Clock::reset();
    EXPECT_LE(qAbs(Clock::nowMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch()), 1000);
    EXPECT_LE(qAbs(Clock::now().secsTo(QDateTime::currentDateTime())), 1);
}

TEST(Clock, MonotonicNeverGoesBack)
{
    qint64 last = MonotonicClock::ns();
    for (int i = 0; i < 1000; ++i) {
        const qint64 now = MonotonicClock::ns();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST(DeviceFile, MissingDevicesFailQuietly)
{
    EXPECT_LT(DeviceFile::openDevice("/nonexistent/led", 0), 0);
    EXPECT_EQ(DeviceFile::ioctlInt(-1, 0, 0), -1);
    EXPECT_FALSE(DeviceFile::writeText("/nonexistent/dir/bl_power", "1"));
}

TEST(DescriptorReserve, FreeDescriptorsBelowTheReserveAreReportedWhateverTheLimit)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    for (const rlim_t soft : {rlim_t(200), rlim_t(2048)}) {
        rlimit limit = saved;
        limit.rlim_cur = soft;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
        const int reserve = DescriptorReserve::reserve();
        EXPECT_EQ(reserve, std::max<int>(DescriptorReserve::kMinimum, int(soft / 8)));
        // Take descriptors until the reserve is reached: then exactly the reserve is left.
        std::vector<int> taken;
        while (DescriptorReserve::enoughFree() && taken.size() < size_t(soft)) {
            const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            taken.push_back(fd);
        }
        const int lowestFree = open("/dev/null", O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(long(soft) - lowestFree, reserve - 1) << "soft limit " << soft;
        close(lowestFree);
        // Freeing one gives one back.
        close(taken.back());
        taken.pop_back();
        EXPECT_TRUE(DescriptorReserve::enoughFree());
        for (const int fd : taken)
            close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
}
