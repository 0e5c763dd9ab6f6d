#pragma once

// The production counters of one day by parameter group, camera, detection
// and hour. Plain values, copied freely.

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVector>

// Hourly lists hold one value per hour of the production day.
constexpr int kHoursPerDay = 24;
constexpr qint64 kSecondsPerHour = 3600;
constexpr qint64 kSecondsPerDay = 86400;
// Production days are named by the date of their start.
constexpr char kDayDateFormat[] = "yyyy-MM-dd";
// Camera index and detection index that select the group total and the whole cycle.
constexpr int kAllCamerasIndex = 8;
constexpr int kWholeCycleIndex = 8;

enum ShiftType { ShiftMorning = 0, ShiftNight = 1, ShiftDay = 2 };

struct sCount
{
    int ng = 0;
    int ok = 0;
};

struct CountDetect
{
    int detectID = -1;
    QList<int> OK;
    QList<int> NG;
    sCount morning;
    sCount night;
    sCount day;
};

struct CountCamera
{
    int cameraID = -1;
    CountDetect cycle;
    QList<CountDetect> detects;
};

struct CountGroup
{
    int morningStart = 8;
    int nightStart = 20;
    QString groupName = QStringLiteral("null");
    CountCamera total;
    QList<CountCamera> cameras;
};

struct CountGroupList
{
    QString date;
    QVector<CountGroup> groups;
};

Q_DECLARE_METATYPE(CountGroup)
