#pragma once

#include "tempappdir.h"

#include <QJsonObject>
#include <QStringList>

class ResStatisticsParam;

// An application folder with a started counter model (the screen's
// instance), the language table, a fixed clock (2026-03-05 10:30, day start
// 08:00), 4 cameras and 2 detections.
class ScreenTest : public AppDirTest
{
protected:
    ScreenTest();
    ~ScreenTest() override;

    // Counts cycles of the whole machine at the current hour: ok good ones, ng bad ones.
    void countCycles(int ok, int ng);
    // Writes a day file holding one group with these cycle counts at hour index 2.
    void writeDay(const QString& file, const QString& date, int ok, int ng) const;

    ResStatisticsParam* model = nullptr;
};
