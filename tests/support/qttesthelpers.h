#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

// Readable Qt texts in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray& b, std::ostream* os) { *os << '"' << b.toStdString() << '"'; }

// Polls until the condition holds, serving this thread's events (deferred deletes
// included) meanwhile; false when it still fails after the time.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// Qt's QTRY macros, timed out in a gtest body, only return from it: the test passed.
// These fail it.
#undef QTRY_VERIFY_WITH_TIMEOUT
#define QTRY_VERIFY_WITH_TIMEOUT(expr, timeout) ASSERT_TRUE(waitUntil([&] { return bool(expr); }, (timeout))) << #expr
#undef QTRY_COMPARE_WITH_TIMEOUT
#define QTRY_COMPARE_WITH_TIMEOUT(actual, expected, timeout)                                                          \
    do {                                                                                                              \
        waitUntil([&] { return (actual) == (expected); }, (timeout));                                                 \
        ASSERT_EQ(actual, expected);                                                                                  \
    } while (false)

class QProcess;
class QWindow;

// Starts this test program as a child that runs only the tests matching filter, with the
// environment variable set to value and dir as its working folder, and returns once the
// child has written "ready" there (false when it did not start or never got ready).
bool startTestChild(QProcess& child, const QString& filter, const char* variable, const QString& value,
                    const QString& dir);

// A finger on a window: pressed at from, held holdMs, drawn in steps to to, lifted there.
void fingerStroke(QWindow* window, QPoint from, QPoint to, int holdMs = 0);

// Writes the whole file at once (renamed into place), making its folders
// first; false unless every byte was written.
bool writeWholeFile(const QString& path, const QByteArray& content);

// How often another thread, looking all the time, found no file at path while work ran
// (a file replaced by a removal and then a rename is missing for a moment).
int timesMissing(const QString& path, const std::function<void()>& work);

// Collects the texts of the Qt messages logged while it lives, from any thread (read
// lines once the threads that log have stopped); they still reach the handler before it.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    // The lines so far, while threads may still log.
    QStringList linesNow() const;
    QStringList lines;
};
