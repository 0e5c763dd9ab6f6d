// Production count query over many archived days, beside the time to read
// and parse the same day files' JSON alone (what any reader must pay).

#include "benchratio.h"
#include "clock.h"
#include "globals.h"
#include "resstatisticsdatabase.h"
#include "resstatisticsparam.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

namespace {

constexpr int kGroups = 3;
constexpr int kCameras = 8;
constexpr int kDetections = 8;
constexpr int kArchivedDays = 366;
const QDate kFirstDay(2025, 1, 1);

// The groups' counters of one day, with varying values.
QJsonObject dayDocument(const QDate& date)
{
    CountGroupList day;
    day.date = date.toString(QLatin1String(kDayDateFormat));
    for (int g = 0; g < kGroups; ++g) {
        CountGroup group;
        ResStatisticsParam::initStuCountGroup(group, g == 0 ? QStringLiteral("default") : QStringLiteral("group-%1").arg(g));
        auto fill = [&](CountDetect& d, int seed) {
            for (int h = 0; h < kHoursPerDay; ++h) {
                d.OK[h] = (seed * 31 + h * 7 + date.day()) % 500;
                d.NG[h] = (seed + h) % 5;
            }
        };
        for (int c = 0; c < group.cameras.size(); ++c) {
            for (int j = 0; j < group.cameras[c].detects.size(); ++j)
                fill(group.cameras[c].detects[j], c * 10 + j);
            fill(group.cameras[c].cycle, c);
        }
        for (int j = 0; j < group.total.detects.size(); ++j)
            fill(group.total.detects[j], 90 + j);
        fill(group.total.cycle, 99);
        day.groups.append(group);
    }
    return ResStatisticsParam::StuCountToJson(day);
}

QString dayFile(const QDate& date)
{
    return QStringLiteral("./ResStatistics/%1.db").arg(date.toString(QLatin1String(kDayDateFormat)));
}

void writeDayFile(const QString& path, const QJsonObject& doc)
{
    const QString name = QStringLiteral("bench-writer");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS resstatistics (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, value2 TEXT NOT NULL )"));
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO resstatistics VALUES ('statisticsjson', :v, '')"));
        query.bindValue(QStringLiteral(":v"), QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented)));
        query.exec();
    }
    QSqlDatabase::removeDatabase(name);
}

// The reference: open each day file, read its document's bytes and parse them.
qint64 readAndParse(const QDate& first, int days)
{
    qint64 groups = 0;
    const QString name = QStringLiteral("bench-reader");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        for (int i = 0; i < days; ++i) {
            db.setDatabaseName(dayFile(first.addDays(i)));
            if (!db.open())
                continue;
            {
                QSqlQuery query(db);
                if (query.exec(QStringLiteral("select CAST(value1 AS BLOB) from resstatistics where name='statisticsjson'"))
                    && query.next())
                    groups += QJsonDocument::fromJson(query.value(0).toByteArray()).object().value("groups").toArray().size();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return groups;
}

// The last `days` archived production days, 08:00 to 07:59:59.
QString rangeStart(int days)
{
    return QDateTime(kFirstDay.addDays(kArchivedDays - days), QTime(8, 0)).toString("yyyy-MM-dd hh:mm:ss");
}
QString rangeEnd()
{
    return QDateTime(kFirstDay.addDays(kArchivedDays), QTime(7, 59, 59)).toString("yyyy-MM-dd hh:mm:ss");
}

// Peak resident memory since the last reset, in MiB (Linux: VmHWM, reset through clear_refs).
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}
double peakMemoryMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

std::map<std::string, double> gPeakMiB;

template <typename Body>
void measure(benchmark::State& state, const std::string& key, Body body)
{
    double peak = 0;
    for (auto _ : state) {
        resetPeakMemory();
        body();
        peak = std::max(peak, peakMemoryMiB());
    }
    state.counters["peak_rss_MiB"] = peak;
    gPeakMiB[key] = peak;
}

void BM_LoadCount(benchmark::State& state)
{
    const int days = static_cast<int>(state.range(0));
    measure(state, "loadCount/" + std::to_string(days), [&] {
        QJsonObject out;
        ResStatisticsDatabase::loadCount(rangeStart(days), rangeEnd(), out, QStringLiteral("default"));
        benchmark::DoNotOptimize(out);
    });
}

// The same files loadCount opens: the day before the range start, then the range's days.
void BM_ReadAndParseJson(benchmark::State& state)
{
    const int days = static_cast<int>(state.range(0));
    measure(state, "parse/" + std::to_string(days), [&] {
        benchmark::DoNotOptimize(readAndParse(kFirstDay.addDays(kArchivedDays - days - 1), days + 1));
    });
}

BENCHMARK(BM_LoadCount)->Arg(31)->Arg(366)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_ReadAndParseJson)->Arg(31)->Arg(366)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    numCamera = kCameras;
    gDNum = kDetections;
    QDir().mkpath(QStringLiteral("ResStatistics"));
    std::printf("writing %d day files (%d groups of %d cameras x %d detections)...\n", kArchivedDays, kGroups,
                kCameras, kDetections);
    for (int i = 0; i < kArchivedDays; ++i)
        writeDayFile(dayFile(kFirstDay.addDays(i)), dayDocument(kFirstDay.addDays(i)));
    // The live day lies after the archive; its file is absent.
    Clock::setFixed(QDateTime(kFirstDay.addDays(kArchivedDays), QTime(9, 0)));

    const int result = benchratio::run(argc, argv, {
        {"BM_LoadCount/31/iterations:5/real_time", "BM_ReadAndParseJson/31/iterations:5/real_time"},
        {"BM_LoadCount/366/iterations:5/real_time", "BM_ReadAndParseJson/366/iterations:5/real_time"},
    });
    for (const auto& [name, peak] : gPeakMiB)
        std::printf("peak memory %-14s %.1f MiB\n", name.c_str(), peak);
    return result;
}
