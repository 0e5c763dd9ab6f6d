// The production count query: hourly series of one group over a time range,
// read straight from the day files, zero-filled where nothing is stored.

#include "resstatisticsdatabase.h"

#include "clock.h"
#include "dayfileconnection.h"
#include "globals.h"
#include "resstatisticsparam.h"
#include "statshooks.h"
#include "wizardpara.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QtDebug>
#include <algorithm>
#include <optional>
#include <vector>

namespace {

const char kTimeFormat[] = "yyyy-MM-dd hh:mm:ss";
const char kReadConnection[] = "dbFindResStatistics";
const char kCurrentDayPath[] = "./ResStatistics.db";
// Days without data are placed as if they started at this hour.
constexpr int kDefaultDayStartHour = 8;
constexpr qint64 kLastHourStart = kSecondsPerDay - kSecondsPerHour;

using Series = std::vector<int>;

struct DetectSeries
{
    Series all;
    Series ng;
    std::vector<Series> allDetail;
    std::vector<Series> ngDetail;
    int detectIndex = 0;  // position + 1 when created for a day without data
};

QDateTime parseTime(const QString& text)
{
    const QDateTime parsed = QDateTime::fromString(text, QLatin1String(kTimeFormat));
    if (!parsed.isValid() || parsed.toString(QLatin1String(kTimeFormat)) != text)
        return QDateTime();
    return parsed;
}

// Hour indexes [first, end) of the day starting at startHour that the range
// touches, the hours holding the start and the finish included; false when
// the day lies wholly outside.
bool hourWindow(const QDate& date, int startHour, const QDateTime& start, const QDateTime& finish,
                int& first, int& end)
{
    const QDateTime dayStart = ResStatisticsParam::dayStartAt(date, startHour);
    const qint64 s = dayStart.secsTo(start);
    const qint64 f = dayStart.secsTo(finish);
    if (s >= kSecondsPerDay || f < 0)
        return false;
    first = s < kSecondsPerHour ? 0 : static_cast<int>(s / kSecondsPerHour);
    end = f >= kLastHourStart ? kHoursPerDay : static_cast<int>(f / kSecondsPerHour) + 1;
    return true;
}

QJsonArray toJson(const Series& series)
{
    QJsonArray array;
    for (int value : series)
        array.append(value);
    return array;
}

QJsonArray toJson(const std::vector<Series>& series)
{
    QJsonArray array;
    for (const Series& one : series)
        array.append(toJson(one));
    return array;
}

// The answer being built. Every series always holds one value per hour
// reported so far, so series added later start with zeros and every series
// of the answer is equally long.
class CountSeries
{
public:
    void completeData(const QDate& date, const QDateTime& start, const QDateTime& finish,
                      const QJsonObject& group, int cameraCount, int detectCount, int morningStart);
    void completeDataForErrorData(const QDate& date, const QDateTime& start, const QDateTime& finish,
                                  int cameraCount, int detectCount);
    void writeTo(QJsonObject& out) const;

private:
    // Per hour of one day: steps (OK + NG) and NG of every camera (-1 total)
    // and detection (-1 cycle), zero where the day holds no entry.
    class DayTable
    {
    public:
        DayTable(int cameras, int detects, int hours)
            : m_detects(detects + 1), m_hours(hours),
              m_values(static_cast<size_t>(cameras + 1) * (detects + 1) * hours * 2, 0) {}
        int* at(int camera, int detect, int hour)
        {
            return &m_values[((static_cast<size_t>(camera + 1) * m_detects + (detect + 1)) * m_hours + hour) * 2];
        }

    private:
        int m_detects;
        int m_hours;
        std::vector<int> m_values;
    };

    void widen(int cameras, int detects, bool markIndex);
    void appendDay(int hours, DayTable* table);

    int m_hours = 0;
    int m_cameras = 0;
    Series m_all;
    Series m_ng;
    std::vector<Series> m_allDetail;
    std::vector<Series> m_ngDetail;
    std::vector<DetectSeries> m_every;
};

void CountSeries::widen(int cameras, int detects, bool markIndex)
{
    for (; m_cameras < cameras; ++m_cameras) {
        m_allDetail.emplace_back(m_hours, 0);
        m_ngDetail.emplace_back(m_hours, 0);
        for (DetectSeries& element : m_every) {
            element.allDetail.emplace_back(m_hours, 0);
            element.ngDetail.emplace_back(m_hours, 0);
        }
    }
    while (static_cast<int>(m_every.size()) < detects) {
        DetectSeries element;
        element.all.assign(m_hours, 0);
        element.ng.assign(m_hours, 0);
        element.allDetail.assign(m_cameras, Series(m_hours, 0));
        element.ngDetail.assign(m_cameras, Series(m_hours, 0));
        element.detectIndex = markIndex ? static_cast<int>(m_every.size()) + 1 : 0;
        m_every.push_back(std::move(element));
    }
}

void CountSeries::appendDay(int hours, DayTable* table)
{
    auto append = [&](Series& all, Series& ng, int camera, int detect) {
        for (int h = 0; h < hours; ++h) {
            const int* value = table ? table->at(camera, detect, h) : nullptr;
            all.push_back(value ? value[0] : 0);
            ng.push_back(value ? value[1] : 0);
        }
    };
    append(m_all, m_ng, -1, -1);
    for (int c = 0; c < m_cameras; ++c)
        append(m_allDetail[c], m_ngDetail[c], c, -1);
    for (int k = 0; k < static_cast<int>(m_every.size()); ++k) {
        DetectSeries& element = m_every[k];
        append(element.all, element.ng, -1, k);
        for (int c = 0; c < m_cameras; ++c)
            append(element.allDetail[c], element.ngDetail[c], c, k);
    }
    m_hours += hours;
}

void CountSeries::completeData(const QDate& date, const QDateTime& start, const QDateTime& finish,
                               const QJsonObject& group, int cameraCount, int detectCount, int morningStart)
{
    int first = 0;
    int end = kHoursPerDay;
    if (!hourWindow(date, morningStart, start, finish, first, end))
        return;

    struct Entry { int camera; int detect; QJsonObject counts; };
    std::vector<Entry> entries;
    // Ids at or above the recorded counts (detections lowered during the day)
    // widen every series alike; ids beyond the system's limits are dropped.
    int cameras = std::clamp(cameraCount, 0, kMaxCameras);
    int detects = std::clamp(detectCount, 0, kMaxDetections);
    const QJsonArray datas = group.value(QLatin1String("datas")).toArray();
    for (const QJsonValue& cameraValue : datas) {
        const QJsonObject cameraObject = cameraValue.toObject();
        const int c = cameraObject.value(QLatin1String("cameraID")).toInt();
        if (c < -1 || c >= kMaxCameras)
            continue;
        cameras = std::max(cameras, c + 1);
        const QJsonArray data = cameraObject.value(QLatin1String("data")).toArray();
        for (const QJsonValue& detectValue : data) {
            const QJsonObject detectObject = detectValue.toObject();
            const int j = detectObject.value(QLatin1String("detectID")).toInt();
            if (j < -1 || j >= kMaxDetections)
                continue;
            detects = std::max(detects, j + 1);
            entries.push_back({c, j, detectObject});
        }
    }
    widen(cameras, detects, false);

    const int hours = std::max(0, end - first);
    DayTable table(m_cameras, static_cast<int>(m_every.size()), hours);
    for (const Entry& entry : entries) {
        const QJsonArray ok = entry.counts.value(QLatin1String("OK")).toArray();
        const QJsonArray ng = entry.counts.value(QLatin1String("NG")).toArray();
        for (int h = 0; h < hours; ++h) {
            const int i = first + h;
            const int okCount = i < ok.size() ? ok.at(i).toInt() : 0;
            const int ngCount = i < ng.size() ? ng.at(i).toInt() : 0;
            int* value = table.at(entry.camera, entry.detect, h);
            value[0] = okCount + ngCount;
            value[1] = ngCount;
        }
    }
    appendDay(hours, &table);
}

void CountSeries::completeDataForErrorData(const QDate& date, const QDateTime& start, const QDateTime& finish,
                                           int cameraCount, int detectCount)
{
    int first = 0;
    int end = kHoursPerDay;
    if (!hourWindow(date, kDefaultDayStartHour, start, finish, first, end))
        return;
    widen(std::clamp(cameraCount, 0, kMaxCameras), std::clamp(detectCount, 0, kMaxDetections), true);
    appendDay(std::max(0, end - first), nullptr);
}

void CountSeries::writeTo(QJsonObject& out) const
{
    QJsonArray every;
    for (const DetectSeries& element : m_every) {
        QJsonObject obj;
        obj.insert(QStringLiteral("detect_index_all"), toJson(element.all));
        obj.insert(QStringLiteral("detect_index_ng"), toJson(element.ng));
        obj.insert(QStringLiteral("detect_index_all_detail"), toJson(element.allDetail));
        obj.insert(QStringLiteral("detect_index_ng_detail"), toJson(element.ngDetail));
        if (element.detectIndex > 0)
            obj.insert(QStringLiteral("detect_index"), element.detectIndex);
        every.append(obj);
    }
    out.insert(QStringLiteral("detect_all"), toJson(m_all));
    out.insert(QStringLiteral("detect_all_detail"), toJson(m_allDetail));
    out.insert(QStringLiteral("detect_ng"), toJson(m_ng));
    out.insert(QStringLiteral("detect_ng_detail"), toJson(m_ngDetail));
    out.insert(QStringLiteral("every_detect"), every);
}

// The counter document of a day file, read only; nullopt when the file is
// missing or does not open. A file without a document is read from its
// old-format rows under the given date and group.
std::optional<QJsonObject> readDay(DayFileConnection& connection, const QString& path,
                                   const QString& oldDate, const QString& oldGroup)
{
    if (!QFileInfo(path).isFile() || !connection.open(path, true))
        return std::nullopt;
    QJsonObject json;
    {
        QSqlQuery query(connection.db());
        const QByteArray text = ResStatisticsDatabase::readJsonText(query);
        if (text.isEmpty())
            json = ResStatisticsDatabase::oldFormatDay(query, oldDate, oldGroup);
        else
            json = QJsonDocument::fromJson(text).object();
    }
    connection.close();
    return json;
}

QString currentGroupName()
{
    return gpWPara ? gpWPara->getCurGroupName() : QStringLiteral("default");
}

} // namespace

bool ResStatisticsDatabase::loadCount(QString starttime, QString finishtime, QJsonObject& out, QString groupName)
{
    const QDateTime start = parseTime(starttime);
    const QDateTime finish = parseTime(finishtime);
    if (!start.isValid() || !finish.isValid()) {
        qWarning().noquote() << "count query: times must be" << kTimeFormat << "- got" << starttime << finishtime;
        return false;
    }
    if (start.secsTo(finish) > kMaxQueryDays * kSecondsPerDay) {
        qWarning().noquote() << "count query: range longer than" << kMaxQueryDays << "days refused";
        return false;
    }
    if (groupName.isEmpty())
        groupName = currentGroupName();

    const QDate today = Clock::now().date();
    const auto& countCameras = StatsHooks::instance().cameraCount;
    const int cameraCount = countCameras ? countCameras() : 0;
    const int detectCount = gDNum;
    DayFileConnection connection(QString::fromLatin1(kReadConnection));

    // The current-day file answers for the production day it holds, which
    // before the day-start hour is yesterday's, not for the calendar date.
    const std::optional<QJsonObject> live = readDay(connection, QString::fromLatin1(kCurrentDayPath),
                                                    today.toString(QLatin1String(kDayDateFormat)), groupName);
    QDate liveDate = today;
    if (live) {
        const QDate stored = QDate::fromString(live->value(QLatin1String("date")).toString(), QLatin1String(kDayDateFormat));
        if (stored.isValid())
            liveDate = stored;
    }

    CountSeries series;
    const QDir archiveDir(QString::fromLatin1(kArchiveDir));
    for (QDateTime d = start.addDays(-2); d < finish;) {
        d = d.addDays(1);
        const QDate date = d.date();
        std::optional<QJsonObject> day;
        if (date == liveDate) {
            day = live;
        } else {
            const QString name = date.toString(QLatin1String(kDayDateFormat));
            day = readDay(connection, archiveDir.filePath(name + QStringLiteral(".db")), name,
                          QStringLiteral("default"));
        }
        const QJsonArray groups = day ? day->value(QLatin1String("groups")).toArray() : QJsonArray();
        // Only the first group of the name counts: the counters never hold two.
        auto found = std::find_if(groups.begin(), groups.end(), [&](const QJsonValue& value) {
            return value.toObject().value(QLatin1String("groupName")).toString() == groupName;
        });
        if (found == groups.end()) {
            series.completeDataForErrorData(date, start, finish, cameraCount, detectCount);
            continue;
        }
        const QJsonObject group = (*found).toObject();
        series.completeData(date, start, finish, group,
                            group.value(QLatin1String("cameraCount")).toInt(),
                            group.value(QLatin1String("detectCount")).toInt(),
                            group.value(QLatin1String("morningStart")).toInt(kDefaultDayStartHour));
    }
    series.writeTo(out);
    return true;
}
