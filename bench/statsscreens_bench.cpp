// Run: statsscreens_bench [--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true]
// The mirror needs a mount point to write to: /dev/shm (tmpfs) is used.

#include "benchratio.h"
#include "camerastatisticswidget.h"
#include "clock.h"
#include "copy2movedisk.h"
#include "exportresultworker.h"
#include "globals.h"
#include "resstatisticsparam.h"
#include "shellrunner.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

namespace {
constexpr int kImages = 20;
constexpr int kImageW = 1280, kImageH = 1024;
constexpr const char* kMountPoint = "/dev/shm";
constexpr int kCameras = 8, kDetections = 8, kDays = 31;

QImage ngImage()
{
    QImage image(kImageW, kImageH, QImage::Format_RGB32);
    for (int y = 0; y < kImageH; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kImageW; ++x)
            line[x] = qRgb((x * 7 + y) & 0xFF, (y * 3) & 0xFF, (x ^ y) & 0xFF);
    }
    return image;
}

// Mirror: the worker encodes and writes every queued NG image to the disk.
void BM_MirrorImages(benchmark::State& state)
{
    const QImage image = ngImage();
    Copy2MoveDisk copy;
    UPanInfo disk;
    disk.uuid = QStringLiteral("bench");
    disk.mountPath = QString::fromLatin1(kMountPoint);
    copy.start();
    copy.diskInfoChange({disk});
    const QString root = QStringLiteral("%1/monitor_bench").arg(kMountPoint);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(root).removeRecursively();
        state.ResumeTiming();
        const QString dir = QStringLiteral("./alarmimage/camera1/detect%1/NG").arg(++round);
        for (int i = 0; i < kImages; ++i)
            copy.add_map_actqueue(dir, QString::number(i), image);
        const QString folder = root + QStringLiteral("/%1/camera1/detect%2/NG").arg(Clock::now().toString("yyyyMMdd")).arg(round);
        while (QDir(folder).entryList({"*.jpg"}, QDir::Files).size() + copy.droppedCount() < kImages * 1)
            QThread::usleep(200);
    }
    state.counters["images/s"] = benchmark::Counter(double(kImages) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["dropped"] = double(copy.droppedCount());
    copy.stop();
    QDir(root).removeRecursively();
}

// Reference: the same pictures already saved as JPEG, copied file by file.
void BM_PlainCopyOfJpegs(benchmark::State& state)
{
    QTemporaryDir local;
    const QImage image = ngImage();
    for (int i = 0; i < kImages; ++i)
        image.save(local.filePath(QString::number(i) + ".jpg"), "JPG");
    const QString root = QStringLiteral("%1/mm-bench-copy").arg(kMountPoint);
    int errors = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        state.ResumeTiming();
        for (int i = 0; i < kImages; ++i)
            errors += QFile::copy(local.filePath(QString::number(i) + ".jpg"), root + "/" + QString::number(i) + ".jpg") ? 0 : 1;
    }
    state.counters["images/s"] = benchmark::Counter(double(kImages) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["errors"] = errors;
    QDir(root).removeRecursively();
}

// Second reference: the same pictures encoded and saved straight with QImage::save.
void BM_PlainJpegSave(benchmark::State& state)
{
    const QImage image = ngImage();
    const QString root = QStringLiteral("%1/mm-bench-save").arg(kMountPoint);
    int errors = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        state.ResumeTiming();
        for (int i = 0; i < kImages; ++i)
            errors += image.save(root + "/" + QString::number(i) + ".jpg", "JPG") ? 0 : 1;
    }
    state.counters["images/s"] = benchmark::Counter(double(kImages) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["errors"] = errors;
    QDir(root).removeRecursively();
}

// A live day with every camera and detection counted in several hours.
void fillModel(ResStatisticsParam& model)
{
    for (int hour = 8; hour < 20; ++hour) {
        for (int cycle = 0; cycle < 10; ++cycle) {
            for (int d = 0; d < kDetections; ++d) {
                QList<bool> cameras;
                for (int c = 0; c < kCameras; ++c)
                    cameras << ((cycle + c + d) % 7 != 0);
                model.addRecord(d, hour, cameras, d == kDetections - 1);
            }
        }
    }
    model.slotUpdateRecord(0, QString());
}

// Every page of the screen (9 cameras x 9 detections) refreshed once.
void BM_RefreshAllPages(benchmark::State& state)
{
    std::vector<std::unique_ptr<CameraStatisticsWidget>> pages;
    for (int c = 0; c <= kCameras; ++c)
        for (int d = 0; d <= kDetections; ++d)
            pages.push_back(std::make_unique<CameraStatisticsWidget>(c, d, nullptr));
    for (auto _ : state)
        for (auto& page : pages)
            page->updateData();
}

// Reference: the same sums taken straight from the counter lists, shown in nine labels.
void BM_PlainSumsIntoLabels(benchmark::State& state)
{
    const ResStatisticsParam* model = ResStatisticsParam::getInstance();
    std::vector<std::unique_ptr<QLabel>> labels;
    for (int i = 0; i < 9; ++i)
        labels.push_back(std::make_unique<QLabel>());
    const CountGroup& group = model->showList.groups.first();
    for (auto _ : state) {
        for (int c = 0; c <= kCameras; ++c) {
            const CountCamera& camera = c == kCameras ? group.total : group.cameras.at(c);
            for (int d = 0; d <= kDetections; ++d) {
                const CountDetect& entry = d == kDetections ? camera.cycle : camera.detects.at(d);
                int sums[3][2] = {};
                for (int h = 0; h < kHoursPerDay; ++h) {
                    const int span = h < 12 ? 0 : 1;
                    for (int s : {span, 2}) {
                        sums[s][0] += entry.OK.at(h);
                        sums[s][1] += entry.NG.at(h);
                    }
                }
                for (int s = 0; s < 3; ++s) {
                    const int total = sums[s][0] + sums[s][1];
                    labels[s * 3]->setText(QString::number(total));
                    labels[s * 3 + 1]->setText(QString::number(sums[s][0]));
                    labels[s * 3 + 2]->setText(QString::number(total ? sums[s][0] * 100.0 / total : 0.0, 'g', 4) + '%');
                }
                benchmark::DoNotOptimize(labels[0]->text());
            }
        }
    }
}

QString gAppDir;

// The whole export of 31 archived days to a folder (program, move, sync).
void BM_ExportWorker31Days(benchmark::State& state)
{
    ExportResultWorker worker;
    int errors = 0;
    QObject::connect(&worker, &ExportResultWorker::finish, [&errors](bool ok, QString) { errors += ok ? 0 : 1; });
    for (auto _ : state) {
        // A fresh disk folder each time: the fixed clock repeats the time stamp.
        state.PauseTiming();
        QTemporaryDir disk;
        worker.setTarget(disk.path());
        state.ResumeTiming();
        worker.work({QStringLiteral("2026-01-01"), QStringLiteral("2026-01-31")});
    }
    state.counters["errors"] = errors;
}

// Reference: the export program alone on the same files.
void BM_ExportProgramAlone(benchmark::State& state)
{
    const QStringList files = ExportResultWorker::filesOfRange(QDate(2026, 1, 1), QDate(2026, 1, 31), QDate(2026, 2, 10));
    int errors = 0;
    for (auto _ : state) {
        QProcess program;
        program.start(QString::fromLatin1(ExportResultWorker::kProgram), {files.join(',')});
        errors += program.waitForFinished(-1) && program.exitCode() == 0 ? 0 : 1;
        state.PauseTiming();
        for (const QString& dir : QDir("ResStatistics").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QDir("ResStatistics/" + dir).removeRecursively();
        state.ResumeTiming();
    }
    state.counters["errors"] = errors;
}

void writeArchive()
{
    for (int day = 1; day <= kDays; ++day) {
        ResStatisticsParam* model = ResStatisticsParam::getInstance();
        CountGroupList list = model->showList;
        list.date = QDate(2026, 1, day).toString(QLatin1String(kDayDateFormat));
        QString text = QString::fromUtf8(QJsonDocument(ResStatisticsParam::StuCountToJson(list)).toJson(QJsonDocument::Compact));
        text.replace('\'', QStringLiteral("''"));
        runProgram(QStringLiteral("sqlite3"),
                   {QStringLiteral("ResStatistics/%1.db").arg(list.date),
                    QStringLiteral("CREATE TABLE resstatistics (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, value2 TEXT "
                                   "NOT NULL ); INSERT INTO resstatistics VALUES ('statisticsjson', '%1', '');")
                        .arg(text)});
    }
}
} // namespace

BENCHMARK(BM_MirrorImages)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainCopyOfJpegs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainJpegSave)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RefreshAllPages)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainSumsIntoLabels)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportWorker31Days)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ExportProgramAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir appDir;
    QDir::setCurrent(appDir.path());
    numCamera = kCameras;
    gDNum = kDetections;
    Clock::setFixed(QDateTime(QDate(2026, 2, 10), QTime(21, 0)));
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    model->init(QStringLiteral("default"), kDetections);
    fillModel(*model);
    QDir().mkpath("ResStatistics");
    writeArchive();
    QDir().mkpath("cnt_net/export_result_statistics");
    QFile::copy(QStringLiteral(MM_BENCH_BINARY_DIR "/bin/export_result_statistics"),
                QString::fromLatin1(ExportResultWorker::kProgram));
    const int rc = benchratio::run(argc, argv,
                                   {{"BM_MirrorImages/iterations:5/real_time", "BM_PlainCopyOfJpegs/iterations:5/real_time"},
                                    {"BM_MirrorImages/iterations:5/real_time", "BM_PlainJpegSave/iterations:5/real_time"},
                                    {"BM_RefreshAllPages/real_time", "BM_PlainSumsIntoLabels/real_time"},
                                    {"BM_ExportWorker31Days/iterations:3/real_time",
                                     "BM_ExportProgramAlone/iterations:3/real_time"}});
    delete model;
    return rc;
}
