#include "qttesthelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kEventSliceMs = 10;
constexpr int kPollPauseMs = 2;   // other threads get on meanwhile
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(kPollPauseMs);
    }
    return true;
}

void fingerStroke(QWindow* window, QPoint from, QPoint to, int holdMs)
{
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, from);
    QTest::qWait(holdMs);
    constexpr int kSteps = 10;
    for (int step = 1; step <= kSteps; ++step) {
        QTest::qWait(15);
        QTest::mouseMove(window, from + (to - from) * step / kSteps);
    }
    QTest::qWait(15);
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, to);
}

int timesMissing(const QString& path, const std::function<void()>& work)
{
    const QByteArray name = QFile::encodeName(path);
    std::atomic<bool> done{false};
    std::atomic<int> missing{0};
    std::thread watcher([&] {
        while (!done)
            missing += ::access(name.constData(), F_OK) != 0;
    });
    work();
    done = true;
    watcher.join();
    return missing;
}

bool writeWholeFile(const QString& path, const QByteArray& content)
{
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    // Written under a hidden name and renamed into place, so that a thread
    // polling the folder never reads a file that is still empty.
    const QString part = info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".part");
    QFile file(part);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.flush();
    file.close();
    if (!written || std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(part);
        return false;
    }
    return true;
}

namespace {
MessageLog* gActiveLog = nullptr;
QtMessageHandler gPreviousHandler = nullptr;

// Worker threads (an IO thread, a pool) log while the test thread does.
QMutex gCollectMutex;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    {
        QMutexLocker lock(&gCollectMutex);
        if (gActiveLog)
            gActiveLog->lines << text;
    }
    if (gPreviousHandler)
        gPreviousHandler(type, context, text);
}
}

MessageLog::MessageLog()
{
    gActiveLog = this;
    gPreviousHandler = qInstallMessageHandler(collect);
}

QStringList MessageLog::linesNow() const
{
    QMutexLocker lock(&gCollectMutex);
    return lines;
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(gPreviousHandler);
    gActiveLog = nullptr;
}

bool startTestChild(QProcess& child, const QString& filter, const char* variable, const QString& value,
                    const QString& dir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(variable), value);
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(dir);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + filter});
    return child.waitForStarted() && waitUntil([&] { return QFile::exists(dir + QStringLiteral("/ready")); }, 20000);
}
