// The camera view of a camera unit on the simulated plug-in: a 1280 x 1024
// grey or colour frame painted into 1920 x 1080 and 960 x 540, with 0 or 100
// NG ROIs tinted, beside a plain QPainter::drawImage of the same frame into the
// same size. Then the start-up of 8 simulated cameras with 10 templates per
// group: time and resident memory. One core, offscreen platform.

#include "benchratio.h"
#include "simcamerafolder.h"

#include "cameramanager.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "globals.h"
#include "languagetable.h"
#include "mainwindowbase.h"
#include "paramdatabase.h"
#include "wizardpara.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace {

constexpr int kW = 1280;
constexpr int kH = 1024;
constexpr int kNgRois = 100;
constexpr int kStartCameras = 8;
constexpr int kStartTemplates = 10;

MainWindowBase* window = nullptr;
QTimer* resultTimer = nullptr;
std::map<std::pair<bool, int>, CammerWidget*> units;  // (colour, ROIs)

QJsonObject cameraSpec(const QString& serial, bool colour)
{
    return QJsonObject{{"serial", serial}, {"width", kW}, {"height", kH}, {"color", colour}, {"pattern", "checker"}, {"fps", 1000}};
}

long residentKb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

CammerWidget* buildUnit(int index, const _cameraInfo& info, bool colour)
{
    gpWPara->isColors[index] = colour ? 1 : 0;
    auto* unit = new CammerWidget(window, index, info);
    return unit->isOpen ? unit : nullptr;
}

CammerWidget* unitFor(bool colour, int rois)
{
    auto& unit = units[{colour, rois}];
    if (unit)
        return unit;
    CameraManager* manager = CameraManager::_instance;
    const int index = colour ? 1 : 0;
    unit = buildUnit(index, manager->cameras.at(index), colour);
    if (!unit)
        return nullptr;
    gSource = -1;
    unit->UpdateImage();
    CammerSingleton& s = *unit->pSingleton;
    for (int r = 0; r < rois; ++r) {
        const int x = 20 + (r % 10) * 188, y = 20 + (r / 10) * 104;
        s.rectRoi[0][r].rect = QRect(x, y, 150, 80);
        s.rectRoi[0][r].setShowA(unit->screenSW, unit->screenSH);
        s.rectRoi[0][r].setImageRect();
        s.roiShape[0][r] = CammerSingleton::kShapeRect;
        unit->roiResult[0][r] = false;
    }
    s.roiCount[0] = rois;
    for (int i = 0; i < unit->imagePixels; i += 17)
        unit->pSensMask[i] = 255;
    unit->camOK = rois == 0;
    return unit;
}

void cameraView(benchmark::State& state, bool colour, int width, int rois)
{
    const QSize size(width, width * 9 / 16);
    CammerWidget* unit = unitFor(colour, rois);
    if (!unit) {
        state.SkipWithError("no camera");
        return;
    }
    unit->resize(size);
    resultTimer->start(600000);
    QImage target(size, QImage::Format_RGB32);
    for (auto _ : state) {
        unit->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}

void drawImageReference(benchmark::State& state, bool colour, int width)
{
    const QSize size(width, width * 9 / 16);
    QImage frame(kW, kH, QImage::Format_RGB32);
    frame.fill(colour ? qRgb(200, 100, 50) : qRgb(90, 90, 90));
    QImage target(size, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(QPoint(0, 0), size), frame);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}

std::string viewName(const char* base, bool colour, int width, int rois)
{
    char name[96];
    std::snprintf(name, sizeof name, "%s/%d/%d/%d", base, colour ? 1 : 0, width, rois);
    return name;
}

void startUp(const QVector<_cameraInfo>& cameras)
{
    const int oldTemplates = gTempNum;
    gTempNum = kStartTemplates;
    gDNum = 2;  // the usual product and mould detections
    const long before = residentKb();
    QElapsedTimer clock;
    clock.start();
    int opened = 0;
    for (int i = 0; i < kStartCameras && i < cameras.size(); ++i)
        opened += buildUnit(i, cameras.at(i), false) ? 1 : 0;
    const qint64 ms = clock.elapsed();
    std::printf("start-up: %d simulated %dx%d grey cameras, %d templates per group, %d groups: %lld ms, resident %ld MB (+%ld MB)\n",
                opened, kW, kH, kStartTemplates, gDNum, static_cast<long long>(ms), residentKb() / 1024, (residentKb() - before) / 1024);
    gTempNum = oldTemplates;
    gDNum = 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    LanguageTable::load();
    QJsonArray cameras{cameraSpec("SN-GREY-0001", false), cameraSpec("SN-COLOUR-001", true)};
    for (int i = 2; i < kStartCameras; ++i)
        cameras.append(cameraSpec(QString("SN-START-%1").arg(i, 4, 10, QChar('0')), false));
    QTemporaryDir dir;
    prepareSimCameraFolder(dir, cameras);

    gShowW = 1920;
    gShowH = 1080;
    gDNum = 2;
    gTempNum = 1;
    numCamera = 8;
    gpWPara = new WizardPara();
    MainWindowBase win;
    window = &win;
    gpWin = &win;
    win.selCamera = numCamera;
    win.pageState = 0;
    resultTimer = new QTimer(&win);
    resultTimer->setSingleShot(true);
    win.resultTimer = resultTimer;

    CameraManager::_instance = new CameraManager();
    CameraManager::_instance->loadPlugins();
    CameraManager::_instance->findCameras();
    if (CameraManager::_instance->cameras.size() < 2) {
        std::fprintf(stderr, "simulated cameras not found (Plugins/Cameras beside the program)\n");
        return 1;
    }

    std::vector<std::pair<std::string, std::string>> pairs;
    for (bool colour : {false, true}) {
        for (int width : {1920, 960}) {
            for (int rois : {0, kNgRois}) {
                const std::string name = viewName("BM_CameraView", colour, width, rois);
                benchmark::RegisterBenchmark(name.c_str(), cameraView, colour, width, rois)->Unit(benchmark::kMillisecond);
                pairs.push_back({name, viewName("BM_DrawImageReference", colour, width, 0)});
            }
            benchmark::RegisterBenchmark(viewName("BM_DrawImageReference", colour, width, 0).c_str(), drawImageReference,
                                         colour, width)->Unit(benchmark::kMillisecond);
        }
    }
    const int rc = benchratio::run(argc, argv, pairs);
    startUp(CameraManager::_instance->cameras);
    return rc;
}
