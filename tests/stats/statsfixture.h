#pragma once

#include "fakeshellrunner.h"
#include "qttesthelpers.h"
#include "tempappdir.h"

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>

class ResStatisticsParam;

// A temporary application folder with a fixed clock, a recording shell
// runner and a recorder in place of the warning box. 2 cameras, 2 detections.
class StatsTest : public AppDirTest
{
protected:
    StatsTest();
    ~StatsTest() override;

    // The shipped template: an empty day database, with or without the table.
    void makeTemplate(bool withTable = true);
    // Runs the sqlite3 program on a file and returns its output.
    QString sqlite(const QString& file, const QString& sql) const;
    // The stored "statisticsjson" document of a day file (empty when none).
    QJsonObject storedDay(const QString& file) const;
    // Writes a day file holding the given document.
    void writeDay(const QString& file, const QJsonObject& day) const;
    void writeConfig(const QJsonObject& config) const;
    // Returns once the database thread has handled everything sent so far.
    static void flush(ResStatisticsParam& param);

    static QDateTime at(const QString& text);
    // A day of one "default" group whose group cycle holds value NG at an hour index.
    static QJsonObject dayWithCycleNG(const QString& date, int hour, int value);
    // The hourly NG counts of the first group's cycle in a stored document.
    static QList<int> cycleNG(const QJsonObject& day);

    FakeShellRunner shell;
    QStringList warnings;
};
