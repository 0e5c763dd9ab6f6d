#include "cameraunitfixture.h"

#include "cammersingleton.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "wizardpara.h"
#include "modalanswerer.h"
#include "wizardparawidget.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QtEndian>
#include <algorithm>
#include <thread>
#include <vector>

namespace {
int countOf(const QStringList& lines, const QString& prefix)
{
    int n = 0;
    for (const QString& line : lines)
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}
}  // namespace

TEST_F(CameraUnitTest, CameraThatDoesNotOpenLeavesTheUnitUnbuilt)
{
    QJsonObject spec = unitCamera("SERIAL-NOPEN");
    spec["open"] = false;
    ASSERT_NE(makeUnit(spec, true), nullptr);
    EXPECT_FALSE(unit->isOpen);
    EXPECT_EQ(callsOf("SERIAL-NOPEN"), QStringList({"setColorMode false", "open false"}));

    // Nothing reaches a camera that did not open, except the settings object and the ROI store.
    unit->SetExposeTime();
    unit->SetHMirror();
    unit->SetSpeed();
    EXPECT_FALSE(unit->CameraStart());
    unit->CameraStop();
    unit->CameraChangeTrig(true);
    unit->ManualUpdateImage();
    unit->initSetting();
    unit->HotCameraUpdateROI();
    EXPECT_EQ(callsOf("SERIAL-NOPEN").mid(2), QStringList({
        QString("applySettings ") + "{\"HMirror\":false,\"ThreeDNoise\":0,\"TwoDNoise\":0,\"VMirror\":false,\"WDR\":false,"
                                    "\"contrast\":0,\"exposetime\":0,\"fps\":-1,\"gain\":0,\"gammma\":0,\"saturation\":0,"
                                    "\"sharp\":0,\"speed\":0,\"sysUsage\":false}",
        "setParam 0 CammerSingleton*"}));
}

TEST_F(CameraUnitTest, OpenSizesTheUnitAndStartsTheCamera)
{
    live->exposeTime[0] = 1234;
    ASSERT_NE(makeUnit(unitCamera("SERIAL-GREY1")), nullptr);
    ASSERT_TRUE(unit->isOpen);
    EXPECT_FALSE(unit->isColor);
    EXPECT_EQ(unit->imagePixels, kWidth * kHeight);
    EXPECT_EQ(unit->frameBytes, kWidth * kHeight);
    EXPECT_FLOAT_EQ(unit->screenSW, 2.0f);
    EXPECT_FLOAT_EQ(unit->screenSH, 2.0f);
    EXPECT_TRUE(unit->isSimulated);
    const QStringList calls = callsOf("SERIAL-GREY1");
    ASSERT_GE(calls.size(), 8);
    EXPECT_EQ(calls.mid(0, 4), QStringList({"setColorMode false", "open true", "isColor false",
                                            QString("getImageSize %1 %2").arg(kWidth).arg(kHeight)}));
    EXPECT_TRUE(calls[4].startsWith("applySettings ") && calls[4].contains("\"exposetime\":1234"));
    EXPECT_EQ(calls.mid(5, 2), QStringList({"setParam 0 CammerSingleton*", "start"}));
    EXPECT_TRUE(calls[7].startsWith("applySettings "));

    // Every group starts with one template: the made-up one when no file exists.
    EXPECT_EQ(unit->templateCount[0], 1);
    EXPECT_EQ(unit->templateCount[1], 1);
    const unsigned char* t = unit->pTemplate[0][0];
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[(kHeight / 2) * kWidth + kWidth / 2], 255);
    EXPECT_EQ(t[(kHeight / 4) * kWidth + kWidth / 4], 255);        // bounds included
    EXPECT_EQ(t[(kHeight / 4) * kWidth + kWidth / 4 - 1], 0);
}

TEST_F(CameraUnitTest, LongSerialIsCutTo99BytesAndTerminated)
{
    const QString serial = QString("S").repeated(150);
    ASSERT_NE(makeUnit(unitCamera(serial)), nullptr);
    EXPECT_EQ(std::strlen(unit->cameraSN), 99u);
    EXPECT_TRUE(unit->isOpen);  // the plug-in still found its camera by the whole serial
}

TEST_F(CameraUnitTest, ColourCameraFrameBytes)
{
    live->isColors[0] = 1;
    QJsonObject spec = unitCamera("SERIAL-COLOR");
    spec["color"] = true;
    ASSERT_NE(makeUnit(spec), nullptr);
    EXPECT_TRUE(unit->isColor);
    EXPECT_EQ(unit->frameBytes, 4 * kWidth * kHeight);
    EXPECT_TRUE(callsOf("SERIAL-COLOR").contains("setColorMode true"));
}

TEST_F(CameraUnitTest, TemplateFilesMustMatchSizeAndDepth)
{
    QImage grey(kWidth, kHeight, QImage::Format_Indexed8);
    QVector<QRgb> palette;
    for (int i = 0; i < 256; ++i)
        palette << qRgb(i, i, i);
    grey.setColorTable(palette);
    grey.fill(77);
    QDir().mkpath("cammer11");
    QDir().mkpath("cammer12");
    ASSERT_TRUE(grey.save("cammer11/template1.bmp"));
    QImage rgb(kWidth, kHeight, QImage::Format_RGB888);
    rgb.fill(Qt::white);
    ASSERT_TRUE(rgb.save("cammer12/template0.bmp"));  // 24-bit for a grey camera
    ASSERT_TRUE(grey.copy(0, 0, kWidth / 2, kHeight).save("cammer12/template1.bmp"));  // wrong size

    ASSERT_NE(makeUnit(unitCamera("SERIAL-TMPL1")), nullptr);
    EXPECT_EQ(unit->templateCount[0], 2);  // the file and the made-up template 0
    EXPECT_EQ(unit->pTemplateValid[0][1], 1);
    EXPECT_EQ(unit->pTemplate[0][1][kWidth * kHeight - 1], 77);
    EXPECT_EQ(unit->templateCount[1], 1);
    EXPECT_EQ(unit->pTemplateValid[1][1], 0);
}

TEST_F(CameraUnitTest, LiveSettersSendTheRecordInForce)
{
    live->exposeTime[0] = 500;
    edited->exposeTime[0] = 700;
    ASSERT_NE(makeUnit(unitCamera("SERIAL-SET01")), nullptr);
    QFile::remove(appDir.filePath("calls.log"));

    unit->SetExposeTime();           // settings screen hidden: the live value
    settings->show();
    unit->SetExposeTime();           // shown: the edited value
    settings->SetExposeTime(900);    // the screen's own setter edits and sends at once
    settings->SetHMirror();
    settings->SetSaturation(40);
    settings->hide();
    live->speed = 3;
    unit->SetSpeed();
    EXPECT_EQ(callsOf("SERIAL-SET01"), QStringList({"setExposeTime 500", "setExposeTime 700", "setExposeTime 900",
                                                    "stop", "setHMirror true", "start", "setParam 10 40",
                                                    "stop", "setSpeed 3", "start"}));
    EXPECT_EQ(edited->exposeTime[0], 900);
    EXPECT_EQ(edited->mirrorH[0], 1);
    EXPECT_EQ(live->exposeTime[0], 500);
}

TEST_F(CameraUnitTest, RestoreDefaultsKeepsWhatTheCameraLeavesOut)
{
    edited->gamma[0] = 123;
    edited->speed = 4;
    edited->exposeTime[0] = 1;
    QJsonObject spec = unitCamera("SERIAL-DEF01");
    spec["restoreOmits"] = QJsonArray{"gamma", "speed"};
    spec["defaults"] = QJsonObject{{"exposeTime", 8000}};
    ASSERT_NE(makeUnit(spec), nullptr);
    unit->RestoreDefaultSettings();
    EXPECT_EQ(edited->exposeTime[0], 8000);
    EXPECT_EQ(edited->sharp[0], 50);
    EXPECT_EQ(edited->gamma[0], 123);
    EXPECT_EQ(edited->speed, 4);
}

TEST_F(CameraUnitTest, ExternalTriggerKeepsTheDisplay)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-EXT01")), nullptr);
    const std::vector<unsigned char> checked(static_cast<size_t>(unit->frameBytes), 9);
    unit->showFrame(checked.data());
    live->externalTrigger = 1;
    EXPECT_TRUE(unit->UpdateImage());
    EXPECT_EQ(unit->pShowBuf[0], 9);
    EXPECT_NE(std::memcmp(unit->pCaptureBuf, unit->pShowBuf, static_cast<size_t>(unit->frameBytes)), 0);
    live->externalTrigger = 0;
    QTest::qWait(2);
    unit->UpdateImage();
    EXPECT_EQ(std::memcmp(unit->pCaptureBuf, unit->pShowBuf, static_cast<size_t>(unit->frameBytes)), 0);
}

TEST_F(CameraUnitTest, LostCameraRetriesOnceASecondWithoutPolling)
{
    QJsonObject spec = unitCamera("SERIAL-LOSS1");
    spec["lossAfterFrames"] = 2;
    spec["reconnectFailures"] = 2;
    ASSERT_NE(makeUnit(spec), nullptr);
    unit->UpdateImage();
    QTest::qWait(3);
    unit->UpdateImage();
    QCoreApplication::processEvents();  // the loss arrives from the event loop
    EXPECT_FALSE(unit->isConnected);
    EXPECT_EQ(window->lostCount, 1);
    ASSERT_EQ(window->records.size(), 1);
    EXPECT_EQ(window->records[0].text, lanText(655).arg(1).arg(1));
    EXPECT_EQ(window->records[0].type, QString("info"));

    // A second loss signal while reconnecting changes nothing; the released camera is not polled.
    emit unit->pCamera->sigCameraLost();
    const int grabsBefore = countOf(callsOf("SERIAL-LOSS1"), "grabImage");
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(unit->UpdateImage());
    EXPECT_EQ(countOf(callsOf("SERIAL-LOSS1"), "grabImage"), grabsBefore);
    EXPECT_EQ(unit->lossCount, 1);
    EXPECT_EQ(window->lostCount, 1);

    // The plug-in refuses twice, then takes the camera back: connected only after the third try.
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit->isConnected; }, 10000));
    const QStringList calls = callsOf("SERIAL-LOSS1");
    EXPECT_EQ(calls.filter("reconnect"), QStringList({"reconnect false", "reconnect false", "reconnect true"}));
    const int back = calls.indexOf("reconnect true");
    ASSERT_GE(back, 0);
    ASSERT_GT(calls.size(), back + 1);
    EXPECT_TRUE(calls[back + 1].startsWith("applySettings "));
    EXPECT_EQ(countOf(calls, "release"), 1);
    QTest::qWait(3);
    EXPECT_TRUE(unit->UpdateImage());
}

TEST_F(CameraUnitTest, RetrainImageIsAnEightBitGreyBitmap)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-BMP01")), nullptr);
    for (int i = 0; i < unit->frameBytes; ++i)
        unit->pCaptureBuf[i] = static_cast<unsigned char>((i / kWidth) % 251);
    unit->SaveReTrainImage(1);  // the folder cammer12 does not exist yet
    EXPECT_EQ(std::memcmp(unit->pShowBuf, unit->pCaptureBuf, static_cast<size_t>(unit->frameBytes)), 0);
    EXPECT_EQ(std::memcmp(unit->pTemplate[1][0], unit->pCaptureBuf, static_cast<size_t>(unit->frameBytes)), 0);

    const QByteArray bmp = appDir.readFile("cammer12/template0.bmp");
    ASSERT_GT(bmp.size(), 1078);
    auto u16 = [&bmp](int at) { return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(bmp.constData()) + at); };
    auto u32 = [&bmp](int at) { return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(bmp.constData()) + at); };
    EXPECT_EQ(bmp.left(2), QByteArray("BM"));
    EXPECT_EQ(u32(18), quint32(kWidth));
    EXPECT_EQ(u32(22), quint32(kHeight));
    EXPECT_EQ(u16(28), 8);
    const quint32 pixels = u32(10);
    EXPECT_EQ(pixels, 54u + 256u * 4u);
    EXPECT_EQ(bmp.mid(54 + 4 * 200, 4), QByteArray("\xC8\xC8\xC8\x00", 4));  // palette entry 200 is grey 200
    EXPECT_EQ(static_cast<quint32>(bmp.size()), pixels + quint32(kWidth * kHeight));
    // Rows are stored bottom-up.
    EXPECT_EQ(static_cast<uchar>(bmp[int(pixels)]), (kHeight - 1) % 251);
    EXPECT_EQ(static_cast<uchar>(bmp[int(pixels) + kWidth * (kHeight - 1)]), 0);
}

TEST_F(CameraUnitTest, IgnoreMasksRoundTripAndOtherDepthsReadAsGrey)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-IGN01")), nullptr);
    unit->pIgnoreMask[0][10 * kWidth + 20] = 255;
    unit->SaveIgnorePoint(0);
    QImage colour(kWidth, kHeight, QImage::Format_RGB32);
    colour.fill(Qt::black);
    colour.setPixel(5, 7, qRgb(255, 255, 255));
    QDir().mkpath("cammer12");
    ASSERT_TRUE(colour.save("cammer12/ignorepoint.bmp"));

    unit->pIgnoreMask[0][10 * kWidth + 20] = 0;
    unit->LoadIgnorePoint();
    EXPECT_EQ(unit->pIgnoreMask[0][10 * kWidth + 20], 255);
    EXPECT_EQ(unit->pIgnoreMask[1][7 * kWidth + 5], 255);
    int set = 0;
    for (int i = 0; i < unit->imagePixels; ++i)
        set += unit->pIgnoreMask[1][i] ? 1 : 0;
    EXPECT_EQ(set, 1);

    // A group whose file is gone reloads as clear, whatever its mask held.
    ASSERT_TRUE(QFile::remove("cammer12/ignorepoint.bmp"));
    unit->pIgnoreMask[1][unit->imagePixels - 1] = 9;
    unit->LoadIgnorePoint();
    EXPECT_EQ(std::count(unit->pIgnoreMask[1], unit->pIgnoreMask[1] + unit->imagePixels, 0), unit->imagePixels);
    EXPECT_EQ(unit->pIgnoreMask[0][10 * kWidth + 20], 255);
}

// The start-up sequence of the main window: cameras whose camera does not open
// are dropped, and with none left the simulated cameras stand in.
TEST_F(CameraUnitTest, UnopenedRealCamerasFallBackToSimulatedOnes)
{
    installPlugin("simcamera");
    installPlugin("simrealcamera");
    QJsonObject broken = unitCamera("SERIAL-REAL1");
    broken["open"] = false;
    writeScript(QJsonArray{unitCamera("SIM-00000001")}, QJsonArray{broken});
    manager->loadPlugins();
    manager->loadCameraSN();
    manager->findCameras();
    manager->sortCamera();
    ASSERT_FALSE(manager->simulation);

    auto buildUnits = [this]() {
        QVector<_cameraInfo> kept;
        numCamera = 0;
        for (int i = 0; i < qMin(8, manager->cameras.size()); ++i) {
            auto* candidate = new CammerWidget(window.get(), numCamera, manager->cameras.at(i));
            if (candidate->isOpen) {
                kept << manager->cameras.at(i);
                unit = candidate;
                ++numCamera;
            } else {
                delete candidate;
            }
        }
        manager->cameras = kept;
    };
    buildUnits();
    EXPECT_EQ(numCamera, 0);
    manager->cameras.clear();
    manager->findSumulateCameras();
    buildUnits();
    ASSERT_EQ(numCamera, 1);
    EXPECT_TRUE(unit->isSimulated);
    EXPECT_EQ(QByteArray(unit->cameraSN), QByteArray("SIM-00000001"));

    auto* answer = ModalAnswerer::finishDialog(1);
    manager->checkCameraCount();
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(window->records.last().text, QString("Save SN 1: SIM-00000001"));
}

namespace {
// Counts the paint events a widget gets.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
} // namespace

TEST_F(CameraUnitTest, AViewRepaintsOnlyWhenItsShownFrameChanges)
{
    QJsonObject spec = unitCamera("SERIAL-IDLE1");
    spec["fps"] = 1;  // one frame, then nothing new during the test
    ASSERT_NE(makeUnit(spec), nullptr);
    PaintCounter counter;
    unit->installEventFilter(&counter);
    unit->show();
    unit->UpdateImage();
    QCoreApplication::processEvents();
    const int settled = counter.paints;
    ASSERT_GT(settled, 0) << "the view was never painted";

    // The cycle polls every 100 ms; without a new frame nothing is painted.
    for (int i = 0; i < 10; ++i) {
        unit->UpdateImage();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(counter.paints, settled);

    // A checked frame was shown: the live frame comes back once, then quiet again.
    const std::vector<unsigned char> checked(static_cast<size_t>(unit->frameBytes), 9);
    unit->showFrame(checked.data());
    EXPECT_EQ(unit->pShowBuf[0], 9);
    for (int i = 0; i < 5; ++i) {
        unit->UpdateImage();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(counter.paints, settled + 1);
    EXPECT_EQ(std::memcmp(unit->pCaptureBuf, unit->pShowBuf, static_cast<size_t>(unit->frameBytes)), 0);
}

// A grey frame shown scaled is scaled from its own bytes; the 32-bit copy that
// a zoomed view draws is made again when needed, never a stale one.
TEST_F(CameraUnitTest, GreyViewShowsTheShownFrameOnEveryPath)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-GREY1")), nullptr);
    unit->show();
    unit->resize(kWidth / 2, kHeight / 2);
    const QPoint probe(unit->width() - 4, unit->height() - 4);
    const size_t bytes = static_cast<size_t>(unit->frameBytes);
    auto show = [&](unsigned char level) { unit->showFrame(std::vector<unsigned char>(bytes, level).data()); };
    auto shown = [&] { return unit->grab().toImage().pixel(probe); };
    window->selCamera = unit->camIndex;

    show(50);
    window->zoomScale = 2.0;
    EXPECT_EQ(shown(), qRgb(50, 50, 50));
    window->zoomScale = 1.0;
    show(200);
    EXPECT_EQ(shown(), qRgb(200, 200, 200));
    window->zoomScale = 2.0;
    EXPECT_EQ(shown(), qRgb(200, 200, 200));
    window->zoomScale = 1.0;
    show(120);  // a new frame: scaled again
    EXPECT_EQ(shown(), qRgb(120, 120, 120));
    EXPECT_FALSE(unit->holdsDisplayPixels()) << "the scaled grey view holds no 32-bit copy";
    window->zoomScale = 2.0;
    EXPECT_EQ(shown(), qRgb(120, 120, 120));
    EXPECT_TRUE(unit->holdsDisplayPixels());
}

// What the views paint from the grey bytes and from the 32-bit copy made only
// when needed are the pixels the view painted when it always drew from a
// 32-bit copy: a noisy frame, unzoomed and at the zooms and offsets of the
// touch gestures, checked below the header lines.
TEST_F(CameraUnitTest, GreyViewPaintsThePixelsOfTheThirtyTwoBitPath)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-GREY2")), nullptr);
    unit->show();
    window->selCamera = unit->camIndex;
    std::vector<unsigned char> frame(static_cast<size_t>(unit->frameBytes));
    quint32 seed = 12345;
    for (size_t i = 0; i < frame.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        frame[i] = static_cast<unsigned char>((i % unit->imageW) / 4 + ((seed >> 16) & 0x3F));
    }
    QImage wide(unit->imageW, unit->imageH, QImage::Format_RGB32);
    for (int y = 0; y < unit->imageH; ++y)
        for (int x = 0; x < unit->imageW; ++x)
            wide.setPixel(x, y, 0xFF000000u | (0x010101u * frame[size_t(y) * unit->imageW + x]));

    const struct { QSize size; double zoom; int dx, dy; } cases[] = {
        {{kWidth / 2, kHeight / 2}, 1.0, 0, 0}, {{kWidth * 3 / 4, kHeight * 2 / 3}, 1.0, 0, 0},
        {{kWidth / 2, kHeight / 2}, 1.5, -40, -30}, {{kWidth / 2, kHeight / 2}, 2.0, -200, -100},
        {{kWidth, kHeight}, 3.0, -500, -300}, {{kWidth, kHeight}, 1.0, 0, 0},
        {{kWidth / 4, kHeight / 3}, 1.0, 0, 0}, {{kWidth / 4, kHeight / 3}, 1.1, -7, -3},
        {{kWidth * 3 / 4, kHeight * 2 / 3}, 1.33f, -61, -17}, {{kWidth / 2, kHeight / 2}, 1.75f, -133, -91},
        {{kWidth, kHeight}, 2.6f, -777, -401}, {{kWidth / 2, kHeight / 2}, 5.0, -1000, -600},
        {{kWidth, kHeight}, 1.2f, 13, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1x%2 zoom %3").arg(c.size.width()).arg(c.size.height()).arg(c.zoom).toStdString());
        unit->resize(c.size);
        window->zoomScale = c.zoom;
        window->zoomX = c.dx;
        window->zoomY = c.dy;
        unit->showFrame(frame.data());
        const QImage shown = unit->grab().toImage().convertToFormat(QImage::Format_RGB32);

        QImage expected(unit->size(), QImage::Format_RGB32);
        expected.fill(Qt::black);
        QPainter painter(&expected);
        const bool sameSize = unit->imageW == gShowW && unit->imageH == gShowH;
        painter.translate(c.dx, c.dy);
        painter.scale(c.zoom, c.zoom);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, !sameSize);
        if (c.zoom == 1.0 && !sameSize)
            painter.drawImage(QPoint(0, 0), wide.scaled(unit->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        else
            painter.drawImage(unit->rect(), wide);
        painter.end();

        // Where the frame lies, clear of the header lines and the bottom texts.
        const QRect frameArea = QTransform().translate(c.dx, c.dy).scale(c.zoom, c.zoom)
                                    .mapRect(QRectF(unit->rect())).toRect().adjusted(1, 1, -1, -1)
                                    .intersected(QRect(0, unit->height() / 3, unit->width(), unit->height() / 2));
        ASSERT_FALSE(frameArea.isEmpty());
        int differing = 0;
        for (int y = frameArea.top(); y <= frameArea.bottom(); ++y)
            for (int x = frameArea.left(); x <= frameArea.right(); ++x)
                differing += shown.pixel(x, y) != expected.pixel(x, y);
        EXPECT_EQ(differing, 0);
        if (c.dx > 0) {  // the view is opaque: what the frame leaves is black like the window
            EXPECT_EQ(shown.pixel(c.dx / 2, unit->height() / 2), qRgb(0, 0, 0));
        }
    }
    window->zoomScale = 1.0;
    window->zoomX = window->zoomY = 0;
}

// The ROI editor's "lately" view shows the history frame chosen, exactly as
// checked, newest first, for the groups the unit keeps history for.
TEST_F(CameraUnitTest, EditorShowsTheChosenHistoryFrameExactly)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-HIST1")), nullptr);
    ASSERT_TRUE(unit->pHistory[0].isOn());
    EXPECT_FALSE(unit->pHistory[kMaxDetections - 1].isOn()) << "a group not in use keeps none";
    std::vector<std::vector<unsigned char>> frames;
    for (int n = 0; n < 3; ++n) {
        frames.emplace_back(size_t(unit->frameBytes));
        for (size_t i = 0; i < frames.back().size(); ++i)
            frames.back()[i] = static_cast<unsigned char>((i * (n + 3)) ^ (i >> 7));
        unit->pHistory[0].push(frames.back().data());
    }
    unit->historyCount[0] = 3;
    window->curDetect = 0;
    for (int index : {1, 0, 2, 9}) {
        unit->historyIndex = index;
        editor->SlotAutoChange();
        const int shown = std::min(index, 2);
        EXPECT_EQ(unit->historyIndex, shown);
        EXPECT_TRUE(std::equal(frames[size_t(2 - shown)].begin(), frames[size_t(2 - shown)].end(), unit->pShowBuf))
            << index;
    }
}
