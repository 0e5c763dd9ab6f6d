#include "childprocess.h"
#include "clock.h"
#include "descriptorreserve.h"
#include "devicefile.h"
#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "hostpaths.h"
#include "qttesthelpers.h"
#include "shellrunner.h"
#include "storedfile.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

TEST(StoredFile, AReplacedFileIsTheOldOrTheNewOneAtEveryMoment)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("PARAM.db");
    const QString part = path + ".part";
    ASSERT_TRUE(writeWholeFile(path, "old"));
    QString error;
    const int missing = timesMissing(path, [&] {
        for (int i = 0; i < 1000; ++i) {
            ASSERT_TRUE(writeWholeFile(part, QByteArray::number(i)));
            ASSERT_TRUE(StoredFile::replace(part, path, &error)) << error.toStdString();
        }
    });
    EXPECT_EQ(missing, 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("999"));
    // A failure keeps its reason and the file.
    EXPECT_FALSE(StoredFile::replace(part, path, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFile::exists(path));
}

// Stored files (counts, the standing alarm, templates) and the reserve written over and over by a
// child killed (SIGKILL, as a power cut) at moments spread over the writes: each cut leaves the
// old or the new content, and the next run's first write into the folder leaves nothing beside
// it; the next start completes the reserve.
TEST(StoredFile, AKillInTheMiddleLeavesTheOldOrTheNewContentAndNothingElse)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("template0.bmp");
    const QString reserve = dir.filePath(".storedfile.reserve");
    constexpr qint64 kReserve = 8 * 1024 * 1024;
    const QByteArray contents[] = {QByteArray(3 << 20, 'a'), QByteArray(2 << 20, 'b')};
    // Not through StoredFile: each child is a first run in the folder.
    ASSERT_TRUE(writeWholeFile(path, contents[0]));
    int spread = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 1;; ++i) {
                StoredFile::write(path, contents[i % 2]);
                ::unlink(QFile::encodeName(reserve).constData());
                StoredFile::keepReserve(reserve, kReserve);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(250 * round));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        EXPECT_TRUE(content == contents[0] || content == contents[1]) << content.size() << " bytes";
        spread |= content == contents[1] ? 1 : 2;
        const pid_t next = fork();
        ASSERT_GE(next, 0);
        if (next == 0)
            _exit(StoredFile::write(path, content) ? 0 : 1);
        ::waitpid(next, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QStringLiteral(".storedfile.reserve"));
        EXPECT_EQ(names, QStringList{QStringLiteral("template0.bmp")});
        ASSERT_TRUE(StoredFile::keepReserve(reserve, kReserve));
        struct stat st = {};
        ASSERT_EQ(::stat(QFile::encodeName(reserve).constData(), &st), 0);
        EXPECT_GE(st.st_blocks * 512, kReserve);
    }
    EXPECT_EQ(spread, 3) << "cuts after both contents";
}

namespace {

// Descriptors this process can still open: opened until the limit says no, then closed.
int openable()
{
    std::vector<int> opened;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        opened.push_back(fd);
    for (const int fd : opened)
        close(fd);
    return int(opened.size());
}

} // namespace

TEST(DescriptorReserve, TheReserveIsCountedByFreeDescriptorsWhateverTheLimitAndTheHoles)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    for (const rlim_t soft : {rlim_t(200), rlim_t(2048)}) {
        rlimit limit = saved;
        limit.rlim_cur = soft;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
        const int reserve = DescriptorReserve::reserve();
        EXPECT_EQ(reserve, std::max<int>(DescriptorReserve::kMinimum, int(soft / 8)));
        // Take descriptors until the reserve is reached: then one fewer than the reserve is left.
        std::vector<int> taken;
        while (DescriptorReserve::enoughFree() && taken.size() < size_t(soft)) {
            const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            taken.push_back(fd);
        }
        EXPECT_EQ(openable(), reserve - 1) << "soft limit " << soft;
        // The lowest taken ones move to the top numbers: as many are free, all of them above a hole.
        std::sort(taken.begin(), taken.end());
        for (int i = 0; i < 10; ++i) {
            const int moved = fcntl(taken[size_t(i)], F_DUPFD_CLOEXEC, int(soft) - 10);
            ASSERT_GE(moved, 0);
            close(taken[size_t(i)]);
            taken[size_t(i)] = moved;
        }
        EXPECT_EQ(openable(), reserve - 1);
        EXPECT_FALSE(DescriptorReserve::enoughFree()) << "descriptors taken above a hole are no free room";
        // Freeing one gives one back.
        close(taken.back());
        taken.pop_back();
        EXPECT_TRUE(DescriptorReserve::enoughFree());
        for (const int fd : taken)
            close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
}

namespace {

constexpr const char* kTokenVariable = "MM_TEST_CHILD_TOKEN";

// PIDs of the sleeps whose argument starts with token: only this test's programs.
QList<qint64> sleepsOf(const QString& token)
{
    QList<qint64> pids;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + entry + "/cmdline");
        if (entry.toLongLong() > 0 && cmdline.open(QIODevice::ReadOnly)
            && cmdline.readAll().split('\0').value(1).startsWith(token.toLatin1()))
            pids << entry.toLongLong();
    }
    return pids;
}

} // namespace

// Run by the next test as a process of its own, then killed: starts a program through each
// way the runner has that waits or keeps a handle, the waiting ones on pool threads as a
// download's backup does.
TEST(ShellRunnerChildren, DISABLED_StartEveryKindAndWait)
{
    const QString token = qEnvironmentVariable(kTokenVariable);
    ASSERT_FALSE(token.isEmpty());
    QThreadPool::globalInstance()->start([token] { runProgram("sleep", {token + "1"}, 0); });
    QThreadPool::globalInstance()->start(
        [token] { ShellRunner::instance().runLines("sleep", {token + "2"}, 0, {}); });
    QObject owner;
    ASSERT_TRUE(ShellRunner::instance().startProcess("sleep", {token + "3"}, &owner));
    const auto child = ShellRunner::instance().startChild("sleep", {token + "4"});
    QThread::sleep(600);
}

TEST(ShellRunnerChildren, EveryProgramEndsWhenThisProgramIsKilled)
{
    const QString token = QString("%1.%2").arg(100 + ::getpid() % 800).arg(QDateTime::currentMSecsSinceEpoch() % 100000);
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kTokenVariable, token);
    helper.setProcessEnvironment(env);
    helper.start(QCoreApplication::applicationFilePath(),
                 {"--gtest_also_run_disabled_tests", "--gtest_filter=ShellRunnerChildren.DISABLED_StartEveryKindAndWait"});
    ASSERT_TRUE(helper.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (sleepsOf(token).size() < 4 && waited.elapsed() < 10000)
        QThread::msleep(20);
    const QList<qint64> started = sleepsOf(token);
    ::kill(pid_t(helper.processId()), SIGKILL);
    helper.waitForFinished();
    waited.restart();
    while (!sleepsOf(token).isEmpty() && waited.elapsed() < 3000)
        QThread::msleep(20);
    const QList<qint64> left = sleepsOf(token);
    // Ours by their token: ended here when the test fails.
    for (const qint64 pid : left)
        ::kill(pid_t(pid), SIGKILL);
    EXPECT_EQ(started.size(), 4);
    EXPECT_TRUE(left.isEmpty()) << left.size() << " programs outlived the program that started them";
}

// Other threads write while the GUI thread writes and lists what failed: the check threads each
// their camera's template, which fails until its folder is there, the picture writers pictures
// that are never held. Each failing file is told once and once more when written after all, and
// a retry writes the newest content of what is still held.
TEST(StoredFile, WritersOfSeveralThreadsKeepTheRetryWhole)
{
    QTemporaryDir dir;
    const QString held = dir.filePath("gone/count.ini");   // no folder yet: every write fails
    std::atomic<int> toldHeld{0};
    std::atomic<int> toldFailed{0};
    std::atomic<int> toldSaved{0};
    std::atomic<int> picturesLost{0};
    StoredFile::setFailureHandler([&](const QString& path, const QString&) {
        ++(path == held ? toldHeld : path.endsWith(".bmp") ? toldFailed : picturesLost);
    });
    StoredFile::setSavedHandler([&toldSaved](const QString&) { ++toldSaved; });
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&dir, &picturesLost, t] {
            const QString camera = QStringLiteral("cammer%1").arg(t);
            for (int i = 0; i < 50; ++i) {
                if (i == 25)
                    QDir(dir.path()).mkdir(camera);
                StoredFile::write(dir.filePath(camera + "/template0.bmp"), QByteArray::number(i));
                const QString picture = dir.filePath(QStringLiteral("%1-%2.jpg").arg(t).arg(i));
                picturesLost += StoredFile::write(picture, "jpeg", nullptr, StoredFile::Retry::Drop) ? 0 : 1;
            }
        });
    }
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(StoredFile::write(held, QByteArray::number(i)));
        EXPECT_TRUE(StoredFile::failingPaths().contains(held));
    }
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(picturesLost, 0);
    EXPECT_EQ(toldHeld, 1);
    EXPECT_EQ(toldFailed, 3);
    EXPECT_EQ(toldSaved, 3);
    EXPECT_EQ(StoredFile::failingPaths(), QStringList{held});
    ASSERT_TRUE(QDir(dir.path()).mkdir("gone"));
    EXPECT_EQ(StoredFile::retryPending(), 0);
    StoredFile::setFailureHandler({});
    StoredFile::setSavedHandler({});
    EXPECT_EQ(toldSaved, 4);
    EXPECT_TRUE(StoredFile::failingPaths().isEmpty());
    QFile file(held);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("49"));
}

namespace {
// An exit handler that never returns, as a destructor that waits on a thread still running does;
// with a signal given, it is sent to the process from inside exit().
int gSignalWithinExit = 0;
void hangWithinExit()
{
    if (gSignalWithinExit)
        ::kill(::getpid(), gSignalWithinExit);
    for (;;)
        ::pause();
}
void flushAtExit()
{
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, "held lines flushed\n", 19);
}
} // namespace

// exit() ends the process within its grace time, with its own status, however its handlers
// hang, the held log lines flushed first; a termination signal within exit() ends it at once.
TEST(TerminationSignals, EveryExitEndsWithinItsGraceTime)
{
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            alarm(4 * TerminationSignals::kExitGraceSeconds);   // never left behind, watched or not
            std::atexit(hangWithinExit);
            TerminationSignals::install();
            TerminationSignals::atExitBegin(flushAtExit);
            std::exit(7);
        },
        ::testing::ExitedWithCode(7), "held lines flushed.*exit did not finish in time");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2 * TerminationSignals::kExitGraceSeconds));

    const auto signalled = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            alarm(4 * TerminationSignals::kExitGraceSeconds);
            std::atexit(hangWithinExit);
            TerminationSignals::install();
            gSignalWithinExit = SIGTERM;
            std::exit(7);
        },
        ::testing::ExitedWithCode(128 + SIGTERM), "termination signal within exit");
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(TerminationSignals::kExitGraceSeconds));

    // A hook that waits for ever (a writer that never ends) is cut at the same grace time.
    const auto hooked = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            alarm(4 * TerminationSignals::kExitGraceSeconds);
            TerminationSignals::install();
            TerminationSignals::atExitBegin(hangWithinExit);
            std::exit(7);
        },
        ::testing::ExitedWithCode(7), "exit did not finish in time");
    EXPECT_LT(std::chrono::steady_clock::now() - hooked, std::chrono::seconds(2 * TerminationSignals::kExitGraceSeconds));
}

namespace {
// A static made after the watch, as Qt's image plug-ins' loader is at the first picture.
struct MadeLate
{
    ~MadeLate() { [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, "late static destroyed\n", 22); }
};
void hookReports()
{
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, "hook ran\n", 9);
}
} // namespace

// The hooks run while every static is whole, those made after the watch too; and the watch is
// armed before exit(): from the first signal that no main thread reads, and from the end of the
// event loop, whose destructors may wait on a hung disk.
TEST(TerminationSignals, TheHooksRunFirstAndTheWholeEndIsWatched)
{
    EXPECT_EXIT(
        {
            alarm(4 * TerminationSignals::kExitGraceSeconds);
            TerminationSignals::install();
            TerminationSignals::atExitBegin(hookReports);
            static MadeLate late;
            std::exit(3);
        },
        ::testing::ExitedWithCode(3), "hook ran\nlate static destroyed");

    const auto signalled = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            alarm(4 * TerminationSignals::kExitGraceSeconds);
            TerminationSignals::install();
            ::kill(::getpid(), SIGTERM);
            for (;;)
                ::pause();   // a main thread that never returns to its event loop
        },
        ::testing::ExitedWithCode(128 + SIGTERM), "exit did not finish in time");
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2 * TerminationSignals::kExitGraceSeconds));

    const auto ended = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            alarm(4 * TerminationSignals::kExitGraceSeconds);
            TerminationSignals::install();
            TerminationSignals::armExitWatch(4);
            hangWithinExit();   // a destructor waiting for a writer stuck on the disk
        },
        ::testing::ExitedWithCode(4), "exit did not finish in time");
    EXPECT_LT(std::chrono::steady_clock::now() - ended, std::chrono::seconds(2 * TerminationSignals::kExitGraceSeconds));

    // A wait with its own time-out (the runner's package backup) is let end before exit(); the
    // watch then gives the grace time as before.
    const auto held = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            alarm(6 * TerminationSignals::kExitGraceSeconds);
            TerminationSignals::install();
            std::thread([] {
                TerminationSignals::BoundedWait backup;
                std::this_thread::sleep_for(std::chrono::seconds(TerminationSignals::kExitGraceSeconds + 2));
                [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, "backup ended\n", 13);
            }).detach();
            TerminationSignals::armExitWatch(4);
            hangWithinExit();
        },
        ::testing::ExitedWithCode(4), "backup ended\nexit did not finish in time");
    EXPECT_LT(std::chrono::steady_clock::now() - held, std::chrono::seconds(3 * TerminationSignals::kExitGraceSeconds + 2));
}
