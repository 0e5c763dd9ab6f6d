#pragma once

#include "counttypes.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

class QSqlDatabase;
class QSqlQuery;
class ResStatisticsParam;

// The day files of the production counters: "ResStatistics.db" holds the live
// day, "./ResStatistics/<date>.db" one finished day each. Created in the GUI
// thread, then moved into a thread of its own; every operation opens and
// closes its own connection.
class ResStatisticsDatabase : public QObject
{
    Q_OBJECT
public:
    static const char* const kCurrentDayFile;   // "ResStatistics.db"
    static const char* const kTemplateFile;     // "ResStatisticsNULL.db"
    static const char* const kArchiveDir;       // "./ResStatistics"
    static const char* const kTableName;        // "resstatistics"
    static const char* const kJsonRowName;      // "statisticsjson"
    // Longest range the count query answers, in days.
    static constexpr int kMaxQueryDays = 366;

    ResStatisticsDatabase(ResStatisticsParam* param, QObject* parent);

    void loadCountFromJson(QString path, QJsonObject& out);
    void loadCountFromJson(QString path);
    QJsonObject loadCountFromJson(QSqlQuery query, QString path);
    bool saveCountFromJson(QJsonObject counters, QSqlQuery query);
    // Old-format rows "C%1_D%2" into a group; they read only the globals.
    static bool loadCountFromJson(CountGroup& group, QSqlQuery& query);
    static bool loadCountCamera(CountCamera& camera, int cameraIndex, QSqlQuery query);
    static bool loadCountDetect(CountDetect& detect, QString sql, QSqlQuery query);
    // value1 of the "statisticsjson" row; empty when there is none.
    static QByteArray readJsonText(QSqlQuery& query, bool* rowFound = nullptr);
    // A day built from the old-format rows of an open file, as a counter document.
    static QJsonObject oldFormatDay(QSqlQuery& query, const QString& date, const QString& groupName);

    // Hourly series of a group over a time range ("yyyy-MM-dd hh:mm:ss" both),
    // read from the day files. False, with out untouched, when a time does not
    // parse or the range is longer than kMaxQueryDays.
    static bool loadCount(QString starttime, QString finishtime, QJsonObject& out, QString groupName);

    ResStatisticsParam* param = nullptr;

signals:
    void sigLoadFinish(QJsonObject counters, bool ok);

public slots:
    void slotUpdateRecord(QString path);
    void slotSaveRecord(QString date, QJsonObject counters, bool archive);

private:
    bool archiveCurrentDay(const QString& date);
    // The counters of a day file; false (out untouched) when it is missing or cannot be opened.
    bool readDayFile(const QString& path, QJsonObject& out);

    // Date of a finished day whose archive failed; saves wait until it succeeds.
    QString m_pendingArchive;
};

bool tableExists(QSqlDatabase& db, const QString& name);
// Base name of a day file: "./ResStatistics/2026-03-01.db" gives "2026-03-01".
QString removeSuffix(const QString& path);
