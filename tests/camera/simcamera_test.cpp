#include "camerafixture.h"

#include "cameramanager.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <vector>

// The simulated plug-ins as the program meets them: loaded from
// Plugins/Cameras, driven through CameraInterface only.
class SimCameraTest : public CameraPluginTest
{
protected:
    void TearDown() override
    {
        manager.reset();
        CameraPluginTest::TearDown();
    }

    CameraInterface* cameraFor(const QJsonObject& spec, bool real = false)
    {
        installPlugin(real ? "simrealcamera" : "simcamera");
        writeScript(real ? QJsonArray() : QJsonArray{spec}, real ? QJsonArray{spec} : QJsonArray());
        manager->loadPlugins();
        manager->findCameras();
        if (manager->cameras.isEmpty())
            return nullptr;
        return manager->createCamera(manager->cameras.first());
    }

    std::unique_ptr<CameraManager> manager = std::make_unique<CameraManager>();
};

TEST_F(SimCameraTest, OpenFailureIsScriptedAndLogged)
{
    QJsonObject spec = camera("SERIAL-NOPEN");
    spec["open"] = false;
    CameraInterface* cam = cameraFor(spec, true);
    ASSERT_NE(cam, nullptr);
    EXPECT_FALSE(cam->open());
    std::vector<uchar> frame(64 * 48);
    EXPECT_FALSE(cam->grabImage(frame.data()));
    EXPECT_EQ(callsOf("SERIAL-NOPEN"), QStringList({"open false", "grabImage 0"}));
}

TEST_F(SimCameraTest, OversizedCameraInTheScriptIsRefused)
{
    // 140000 x 140000 grey frames would overflow the frame size and ask for 19.6 GB.
    installPlugin("simcamera");
    writeScript(QJsonArray{camera("SERIAL-HUGE1", 140000, 140000), camera("SERIAL-WIDE1", 8193, 4),
                           camera("SERIAL-EDGE1", 8192, 2)}, QJsonArray());
    manager->loadPlugins();
    manager->findCameras();
    ASSERT_EQ(manager->cameras.size(), 1);
    EXPECT_STREQ(manager->cameras.first().serialNumber, "SERIAL-EDGE1") << "the largest side allowed";
}

TEST_F(SimCameraTest, GreyAndColourFramesFromFilesAndPatterns)
{
    QImage picture(8, 4, QImage::Format_RGB32);
    picture.fill(qRgb(10, 20, 30));
    ASSERT_TRUE(picture.save(appDir.filePath("frame.png")));
    QJsonObject spec = camera("SERIAL-FILE1", 8, 4);
    spec["frames"] = QJsonArray{"frame.png"};
    spec["color"] = true;
    CameraInterface* cam = cameraFor(spec);
    ASSERT_NE(cam, nullptr);

    cam->setColorMode(true);
    ASSERT_TRUE(cam->open());
    EXPECT_TRUE(cam->isColor());
    int w = 0, h = 0;
    cam->getImageSize(w, h);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 4);
    cam->start();
    std::vector<uchar> frame(8 * 4 * 4, 0);
    EXPECT_TRUE(cam->grabImage(frame.data()));
    // Blue, green, red, unused.
    EXPECT_EQ(frame[0], 30);
    EXPECT_EQ(frame[1], 20);
    EXPECT_EQ(frame[2], 10);

    // The same camera asked for grey gives one byte per pixel.
    cam->close();
    cam->setColorMode(false);
    ASSERT_TRUE(cam->open());
    EXPECT_FALSE(cam->isColor());
    cam->start();
    std::vector<uchar> grey(8 * 4 + 1, 0xAB);
    EXPECT_TRUE(cam->grabImage(grey.data()));
    EXPECT_EQ(grey[8 * 4], 0xAB);  // nothing written past the frame
    EXPECT_NEAR(grey[0], qGray(10, 20, 30), 1);
}

TEST_F(SimCameraTest, ExternalTriggerDeliversOnlyManualFrames)
{
    CameraInterface* cam = cameraFor(camera("SERIAL-TRIG1"));
    ASSERT_NE(cam, nullptr);
    ASSERT_TRUE(cam->open());
    cam->start();
    cam->setTriggerMode(true);
    std::vector<uchar> frame(64 * 48);
    EXPECT_FALSE(cam->grabImage(frame.data()));
    cam->manualUpdate();
    EXPECT_TRUE(cam->grabImage(frame.data()));
    EXPECT_FALSE(cam->grabImage(frame.data()));
}

// The unit polls ten times a second; a poll without a new frame copies only
// into a buffer that does not hold the newest frame yet. The mark written
// below (the unit never writes there) shows whether a copy was made.
TEST_F(SimCameraTest, APollWithoutANewFrameCopiesOnlyWhereTheFrameIsMissing)
{
    CameraInterface* cam = cameraFor(camera("SERIAL-SKIP1"));
    ASSERT_NE(cam, nullptr);
    ASSERT_TRUE(cam->open());
    cam->start();
    cam->setTriggerMode(true);
    std::vector<uchar> a(64 * 48, 0), b(64 * 48, 0);
    cam->manualUpdate();
    EXPECT_TRUE(cam->grabImage(a.data()));
    const std::vector<uchar> first = a;
    EXPECT_NE(first, std::vector<uchar>(first.size(), 0)) << "the first poll must deliver the frame";

    a[0] ^= 0xFF;
    EXPECT_FALSE(cam->grabImage(a.data()));
    EXPECT_NE(a[0], first[0]) << "nothing new: the buffer is left alone";
    EXPECT_FALSE(cam->grabImage(b.data()));
    EXPECT_EQ(b, first) << "another buffer gets the frame";

    cam->manualUpdate();
    EXPECT_TRUE(cam->grabImage(a.data()));
    EXPECT_FALSE(cam->grabImage(b.data()));
    EXPECT_EQ(a, b) << "a new frame reaches every buffer";
    EXPECT_NE(a, first);

    // Opened again, the frames are made anew: copied even without a new one.
    cam->close();
    ASSERT_TRUE(cam->open());
    cam->start();
    b.assign(b.size(), 0);
    EXPECT_FALSE(cam->grabImage(b.data()));
    EXPECT_EQ(b, first);
}

TEST_F(SimCameraTest, ScriptedLossAndFailingReconnects)
{
    QJsonObject spec = camera("SERIAL-LOSS1");
    spec["lossAfterFrames"] = 2;
    spec["reconnectFailures"] = 2;
    CameraInterface* cam = cameraFor(spec);
    ASSERT_NE(cam, nullptr);
    int losses = 0;
    // Pointer-to-member connection: works only with one CameraInterface meta-object.
    ASSERT_TRUE(QObject::connect(cam, &CameraInterface::sigCameraLost, [&losses] { ++losses; }));
    ASSERT_TRUE(cam->open());
    cam->start();
    std::vector<uchar> frame(64 * 48);
    EXPECT_TRUE(cam->grabImage(frame.data()));
    QTest::qWait(5);
    EXPECT_TRUE(cam->grabImage(frame.data()));
    EXPECT_EQ(losses, 0);  // delivered from the event loop
    QCoreApplication::processEvents();
    EXPECT_EQ(losses, 1);
    EXPECT_FALSE(cam->grabImage(frame.data()));

    cam->release();
    EXPECT_FALSE(cam->reconnect());
    EXPECT_FALSE(cam->reconnect());
    EXPECT_TRUE(cam->reconnect());
    QTest::qWait(5);
    EXPECT_TRUE(cam->grabImage(frame.data()));
    QCoreApplication::processEvents();
    EXPECT_EQ(losses, 1);  // the scripted loss happens once
    EXPECT_EQ(callsOf("SERIAL-LOSS1").filter("reconnect"),
              QStringList({"reconnect false", "reconnect false", "reconnect true"}));
}

TEST_F(SimCameraTest, LossWhenAFileAppears)
{
    QJsonObject spec = camera("SERIAL-FLAG1");
    spec["lossWhenFile"] = "lose.flag";
    CameraInterface* cam = cameraFor(spec);
    ASSERT_NE(cam, nullptr);
    QSignalSpy lost(cam, &CameraInterface::sigCameraLost);
    ASSERT_TRUE(cam->open());
    cam->start();
    EXPECT_FALSE(lost.wait(300));
    ASSERT_TRUE(appDir.writeFile("lose.flag", "x"));
    EXPECT_TRUE(lost.wait(2000));
    EXPECT_EQ(lost.count(), 1);
}
