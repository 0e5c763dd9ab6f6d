// The day counter document: writers put list positions as ids, readers place
// entries by their order and tell total and cycle apart by the id -1.

#include "resstatisticsparam.h"

#include "globals.h"

#include <QJsonArray>

namespace {

QJsonArray toJsonArray(const QList<int>& values)
{
    QJsonArray array;
    for (int value : values)
        array.append(value);
    return array;
}

QList<int> fromJsonArray(const QJsonValue& value)
{
    QList<int> values;
    const QJsonArray array = value.toArray();
    values.reserve(array.size());
    for (const QJsonValue& element : array)
        values.append(element.toInt(0));
    return values;
}

} // namespace

QJsonObject ResStatisticsParam::StuCountDetectToJson(CountDetect d, int id)
{
    QJsonObject obj;
    obj.insert(QStringLiteral("detectID"), id);
    obj.insert(QStringLiteral("OK"), toJsonArray(d.OK));
    obj.insert(QStringLiteral("NG"), toJsonArray(d.NG));
    return obj;
}

QJsonObject ResStatisticsParam::StuCountCameraToJson(CountCamera c, int id, int& detectsWritten)
{
    QJsonArray data;
    detectsWritten = 0;
    for (const CountDetect& entry : c.detects)
        data.append(StuCountDetectToJson(entry, detectsWritten++));
    data.append(StuCountDetectToJson(c.cycle, -1));
    QJsonObject obj;
    obj.insert(QStringLiteral("cameraID"), id);
    obj.insert(QStringLiteral("data"), data);
    return obj;
}

QJsonObject ResStatisticsParam::StuCountGroupToJson(CountGroup g)
{
    const int detectionsPerCycle = gDNum;
    QJsonArray datas;
    int written = 0;
    int cameras = 0;
    for (const CountCamera& camera : g.cameras)
        datas.append(StuCountCameraToJson(camera, cameras++, written));
    datas.append(StuCountCameraToJson(g.total, -1, written));
    QJsonObject obj;
    obj.insert(QStringLiteral("groupName"), g.groupName);
    obj.insert(QStringLiteral("cameraCount"), cameras);
    obj.insert(QStringLiteral("detectCount"), detectionsPerCycle);
    obj.insert(QStringLiteral("morningStart"), g.morningStart);
    obj.insert(QStringLiteral("nightStart"), g.nightStart);
    obj.insert(QStringLiteral("datas"), datas);
    return obj;
}

QJsonObject ResStatisticsParam::StuCountToJson(CountGroupList l)
{
    QJsonArray groups;
    for (const CountGroup& group : l.groups)
        groups.append(StuCountGroupToJson(group));
    QJsonObject obj;
    obj.insert(QStringLiteral("date"), l.date);
    obj.insert(QStringLiteral("groups"), groups);
    return obj;
}

void ResStatisticsParam::StuCountDetectFromJson(CountDetect& d, QJsonObject o)
{
    d.OK = fromJsonArray(o.value(QLatin1String("OK")));
    d.NG = fromJsonArray(o.value(QLatin1String("NG")));
    d.detectID = o.value(QLatin1String("detectID")).toInt(0);
}

void ResStatisticsParam::StuCountCameraFromJson(CountCamera& c, QJsonObject o)
{
    c.detects.clear();
    const QJsonArray data = o.value(QLatin1String("data")).toArray();
    for (const QJsonValue& element : data) {
        const QJsonObject entry = element.toObject();
        if (entry.value(QLatin1String("detectID")).toInt(0) == -1) {
            StuCountDetectFromJson(c.cycle, entry);
            continue;
        }
        CountDetect detect;
        StuCountDetectFromJson(detect, entry);
        c.detects.append(detect);
    }
    c.cameraID = o.value(QLatin1String("cameraID")).toInt(0);
}

void ResStatisticsParam::StuCountGroupFromJson(CountGroup& g, QJsonObject o)
{
    g.cameras.clear();
    const QJsonArray datas = o.value(QLatin1String("datas")).toArray();
    for (const QJsonValue& element : datas) {
        const QJsonObject entry = element.toObject();
        if (entry.value(QLatin1String("cameraID")).toInt(0) == -1) {
            StuCountCameraFromJson(g.total, entry);
            continue;
        }
        CountCamera camera;
        StuCountCameraFromJson(camera, entry);
        g.cameras.append(camera);
    }
    g.groupName = o.value(QLatin1String("groupName")).toString();
    g.morningStart = o.value(QLatin1String("morningStart")).toInt(8);
    g.nightStart = o.value(QLatin1String("nightStart")).toInt(20);
}

void ResStatisticsParam::StuCountFromJson(CountGroupList& l, QJsonObject o)
{
    l.date = o.value(QLatin1String("date")).toString();
    l.groups.clear();
    const QJsonArray groups = o.value(QLatin1String("groups")).toArray();
    for (const QJsonValue& element : groups) {
        CountGroup group;  // 8, 20, "null", total and cycle -1 with empty lists
        StuCountGroupFromJson(group, element.toObject());
        l.groups.append(group);
    }
}
