#include "apitestkit.h"
#include "clock.h"
#include "cnt_semaphore.h"
#include "globals.h"
#include "recordedprocess.h"
#include "vek_netmn.h"
#include "videothread.h"
#include "viewwatch2zel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QScopeGuard>
#include <QTimer>
#include <QProcess>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>
#include <signal.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// One report as the companion logged it.
struct Report
{
    QString url;
    QJsonObject body;
    QString uuid;
};

// A link to the real companion stand-in, started by the link from the
// application folder as on the box, on a port of its own.
class CompanionLink : public ApiTest
{
protected:
    void SetUp() override
    {
        ApiTest::SetUp();
        link = hub->companionLink();
        ViewWatch2ZEL::setHeartbeatTicks(0);
        const QString program = projectBinaryDir() + QStringLiteral("/bin/companion");
        ASSERT_TRUE(QFile::exists(program));
        ASSERT_TRUE(appDir.writeFile(QStringLiteral("cnt_net/vazir_ovizavi/.keep"), QByteArray()));
        ASSERT_TRUE(QFile::link(program, appDir.filePath(QString::fromLatin1(ViewWatch2ZEL::kCompanionProgram))));
        const quint16 companionPort = freePort();
        link->setCompanion(QString::fromLatin1(ViewWatch2ZEL::kCompanionProgram), companionPort);
        qputenv("MM_COMPANION_PORT", QByteArray::number(companionPort));
        qunsetenv("MM_COMPANION_START_DELAY_MS");
    }
    void TearDown() override
    {
        ApiTest::TearDown();
        qunsetenv("MM_COMPANION_PORT");
        qunsetenv("MM_COMPANION_START_DELAY_MS");
    }

    void setFlags(const QJsonObject& flags)
    {
        ASSERT_TRUE(appDir.writeFile(QStringLiteral("cnt_net/companion.json"), QJsonDocument(flags).toJson()));
    }

    QList<Report> reports(const QString& url = QString()) const
    {
        QList<Report> list;
        for (const QByteArray& line : appDir.readFile(QStringLiteral("cnt_net/companion.log")).split('\n')) {
            const int space = line.indexOf(' ');
            if (!line.startsWith("/inline/") || space < 0)
                continue;
            const QList<QByteArray> sent = line.mid(space + 1).split('\t');
            const Report report{QString::fromUtf8(line.left(space)), QJsonDocument::fromJson(sent.first()).object(),
                                QString::fromUtf8(sent.value(1))};
            if (url.isEmpty() || report.url.endsWith(url))
                list << report;
        }
        return list;
    }

    bool waitAllowed(int state = ViewWatch2ZEL::SendAllowed, int timeoutMs = 15000)
    {
        return waitUntil([&] { return link->isAllowSnd_2_VW() == state; }, timeoutMs);
    }

    ViewWatch2ZEL* link = nullptr;
};

} // namespace

TEST_F(CompanionLink, SlowCompanionIsReconnectedNotRestartedAndADeadOneComesBack)
{
    qputenv("MM_COMPANION_START_DELAY_MS", "2500");
    QElapsedTimer gui;
    gui.start();
    configure(false, true);
    // Starting the companion and trying its port never holds the GUI thread.
    EXPECT_LT(gui.elapsed(), 1000);
    const qint64 first = link->companionPid();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(waitAllowed());
    EXPECT_EQ(link->companionPid(), first);

    const QList<Report> beats = reports("/heartbeat");
    ASSERT_FALSE(beats.isEmpty());
    EXPECT_EQ(beats.first().body.value("deviceBaseinfo").toString(), QString::fromUtf8("cpu：10%，memory：10%，disk：10%"));
    EXPECT_EQ(beats.first().body.value("deviceState").toString(), QString::fromUtf8("检测完毕OK"));
    EXPECT_EQ(beats.first().body.value("cameracount").toInt(), 2);
    EXPECT_FALSE(beats.first().body.value("isPutVideo").toBool());
    // A reconnect offers the (empty) video share again.
    EXPECT_FALSE(reports("/offervideomem").isEmpty());

    ::kill(pid_t(first), SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return link->isAllowSnd_2_VW() < 0; }, 10000));
    qunsetenv("MM_COMPANION_START_DELAY_MS");
    ASSERT_TRUE(waitAllowed(ViewWatch2ZEL::SendAllowed, ViewWatch2ZEL::kAnswerGraceMs + 10000));
    EXPECT_NE(link->companionPid(), first);
}

TEST_F(CompanionLink, HungCompanionIsRestartedAndOneLeftOverFromAnEarlierRunIsEnded)
{
    // An earlier run's companion, in a process group of its own, recorded as that run did;
    // beside it a process that took over a recorded number (other start time): left alone.
    const QString program = appDir.filePath(QString::fromLatin1(ViewWatch2ZEL::kCompanionProgram));
    const QString pidFile = appDir.filePath(QString::fromLatin1(ViewWatch2ZEL::kPidFile));
    qint64 leftover = 0;
    qint64 stranger = 0;
    ASSERT_TRUE(QProcess::startDetached("setsid", {"sleep", "60"}, appDir.path(), &stranger));
    ASSERT_TRUE(waitUntil([&] { return RecordedProcess::startTime(stranger) >= 0; }));
    auto cleanUp = qScopeGuard([&] {
        for (qint64 pid : {leftover, stranger})
            if (pid > 0)
                ::kill(-pid_t(pid), SIGKILL);
    });
    ASSERT_TRUE(appDir.writeFile(QString::fromLatin1(ViewWatch2ZEL::kPidFile),
                                 QByteArray::number(stranger) + ' '
                                     + QByteArray::number(RecordedProcess::startTime(stranger) + 1)));
    EXPECT_EQ(RecordedProcess::endLeftover(pidFile), -1);
    EXPECT_EQ(::kill(pid_t(stranger), 0), 0) << "a process that is not the recorded one survives";

    ASSERT_TRUE(QProcess::startDetached("setsid", {program, appDir.filePath("cnt_net/config.json")}, appDir.path(),
                                        &leftover));
    // Recorded as a run records its companion: once it leads its own group (setsid has run).
    ASSERT_TRUE(waitUntil([&] { return ::getpgid(pid_t(leftover)) == pid_t(leftover); }));
    ASSERT_TRUE(RecordedProcess::record(pidFile, leftover));

    configure(false, true);
    ASSERT_TRUE(waitAllowed());
    EXPECT_TRUE(waitUntil([&] { return RecordedProcess::startTime(leftover) < 0; }, 5000))
        << "the earlier run's companion still runs";
    const qint64 first = link->companionPid();
    ASSERT_GT(first, 0);
    EXPECT_TRUE(appDir.readFile(QString::fromLatin1(ViewWatch2ZEL::kPidFile)).startsWith(QByteArray::number(first) + ' '));

    // It stops answering but lives (and the kernel still takes connections for it).
    setFlags({{"hang", true}});
    ASSERT_TRUE(waitUntil([&] { return appDir.readFile("cnt_net/companion.log").contains("hanging"); }, 10000));
    setFlags({});
    EXPECT_EQ(link->companionPid(), first);
    ASSERT_TRUE(waitUntil([&] { return link->companionPid() != first; }, ViewWatch2ZEL::kAnswerGraceMs + 8000))
        << "a hung companion is never started again";
    EXPECT_LT(RecordedProcess::startTime(first), 0) << "the hung one is ended, not left beside the new one";
    EXPECT_TRUE(waitAllowed());

    // Ended with networking off: nothing recorded is left for the next run.
    configure(false, false);
    EXPECT_FALSE(QFile::exists(pidFile));
}

TEST_F(CompanionLink, ConnectingToACompanionThatAcceptsNothingNeverHoldsTheGuiThread)
{
    // A peer whose queue of connections is full: the kernel drops further attempts unanswered.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    auto cleanUp = qScopeGuard([&] {
        for (int fd : fillers)
            ::close(fd);
        ::close(listener);
    });
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), length);
        fillers.push_back(fd);
    }
    link->setCompanion(QStringLiteral("./cnt_net/vazir_ovizavi/absent"), ntohs(address.sin_port));

    // The largest pause of the GUI thread's event loop over several reconnect ticks.
    QElapsedTimer since;
    qint64 longest = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = qMax(longest, since.restart());
    });
    configure(false, true);
    since.start();
    probe.start(5);
    QElapsedTimer run;
    run.start();
    waitUntil([] { return false; }, 4 * ViewWatch2ZEL::kHeartbeatTickMs + 500);
    probe.stop();
    // A connect that blocked would wait for the peer's answer, a second at least (the kernel
    // sends its first retry after one): far above what a loaded machine's scheduler costs.
    EXPECT_LT(longest, 500) << "a connect held the GUI thread";
    EXPECT_EQ(link->isAllowSnd_2_VW(), ViewWatch2ZEL::NoLink);
    std::printf("longest GUI pause over %lld ms of reconnects to a silent peer: %lld ms\n", run.elapsed(), longest);
}

TEST_F(CompanionLink, HeartbeatFlagsTurnReportsOnAndOff)
{
    setFlags({{"cntserver", true}, {"register", false}});
    configure(false, true);
    ASSERT_TRUE(waitAllowed(ViewWatch2ZEL::NotRegistered));
    link->sndRecordOperate({{"remarks", "dropped"}});
    setFlags({{"cntserver", true}, {"register", true}});
    ASSERT_TRUE(waitAllowed());
    link->sndRecordOperate({{"recordtime", "10.11.12"}, {"recordpassword", "Primary"}, {"remarks", "kept"},
                            {"recordtype", "operate"}});
    ASSERT_TRUE(waitUntil([&] { return !reports("/recordoperate").isEmpty(); }));
    const QList<Report> records = reports("/recordoperate");
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records.first().body.value("remarks").toString(), QString("kept"));
    EXPECT_EQ(records.first().body.value("recordpassword").toString(), QString("Primary"));

    // A flag that is not a JSON boolean counts as false; no "result" object clears all.
    CTask_FormData answer;
    answer.json = QJsonObject{{"result", QJsonObject{{"cntserver", true}, {"register", "true"}}}};
    link->handle_HeartBeat(answer);
    EXPECT_EQ(link->isAllowSnd_2_VW(), ViewWatch2ZEL::NotRegistered);
    answer.json = QJsonObject{{"result", "none"}};
    link->handle_HeartBeat(answer);
    EXPECT_EQ(link->isAllowSnd_2_VW(), ViewWatch2ZEL::NoServer);
}

TEST_F(CompanionLink, NgAlarmReportsComeInOrderWithClearMethodAndCycleDetail)
{
    configure(false, true);
    ASSERT_TRUE(waitAllowed());
    window->lastCycleTime = 123;

    hub->start_PeriodRecord();
    const QString cycleId = hub->currentCycleId();
    link->sndAlarmStartTiming(1);
    const QString alarm = link->alarmUuid();
    EXPECT_FALSE(alarm.isEmpty());
    // Not released by the cycle yet: nothing is sent, the text stays.
    link->addClearMethod(0, 5);
    link->addClearMethod(2, 8);
    link->sndAlarmFinishTiming();
    link->alarmState = ViewWatch2ZEL::AlarmReleased;
    link->sndAlarmFinishTiming();
    EXPECT_EQ(link->alarmState.load(), int(ViewWatch2ZEL::NoAlarm));

    for (int roi : {2, 10}) {
        param_roi r;
        r.camera = 0;
        r.group = 1;
        r.roi = roi;
        r.function = 3;
        r.value = 40 + roi;
        r.param1 = 7;
        r.param2 = 9;
        r.result = roi == 10 ? 0 : 1;
        hub->insertRoiResult(r);
    }
    hub->finish_PeriodRecord();
    // The next cycle starts (a later millisecond gives it another id) before the writer
    // has the pictures of this one.
    ASSERT_TRUE(waitUntil([&] {
        hub->start_PeriodRecord();
        return hub->currentCycleId() != cycleId;
    }));
    // Pictures come from the writer's thread; an OK one only when the companion asks for it.
    std::thread writer([&] {
        hub->add_PeriodRecord_Picture(0, 1, true, QStringLiteral("/a/ok.jpg"), cycleId);
        hub->add_PeriodRecord_Picture(0, 1, false, QStringLiteral("/a/ng.jpg"), cycleId);
    });
    writer.join();
    ASSERT_TRUE(waitUntil([&] { return !reports("/alarmpicture").isEmpty(); }));

    QStringList order;
    for (const Report& r : reports())
        if (!r.url.endsWith("/heartbeat") && !r.url.endsWith("/offervideomem"))
            order << r.url.section('/', -1);
    EXPECT_EQ(order, (QStringList{"alarm_starttiming", "alarm_finishtiming", "detectonceinfo", "alarmpicture"}));

    const QJsonObject start = reports("/alarm_starttiming").first().body;
    EXPECT_EQ(start.value("alarm_detect").toInt(), 1);
    EXPECT_EQ(start.value("uuid").toString(), alarm);
    const QJsonObject finish = reports("/alarm_finishtiming").first().body;
    EXPECT_EQ(finish.value("clear_method").toString(), QString::fromUtf8(" 相机1:添加为模板解除 相机3:重检检测OK"));
    EXPECT_EQ(finish.value("uuid").toString(), alarm);

    const QJsonObject once = reports("/detectonceinfo").first().body;
    EXPECT_FALSE(once.value("result").toBool());
    const QJsonArray detail = once.value("detect_detail").toArray();
    ASSERT_EQ(detail.size(), 1);
    const QJsonArray rois = detail.at(0).toObject().value("roi_detail").toArray();
    ASSERT_EQ(rois.size(), 2);
    EXPECT_EQ(rois.at(0).toObject().value("roi_id").toInt(), 10);   // key text order: "0;1;10" < "0;1;2"
    EXPECT_EQ(rois.at(0).toObject().value("is_alarm").toInt(), 0);
    EXPECT_EQ(rois.at(0).toObject().value("algorithm_result").toInt(), 50);
    EXPECT_EQ(rois.at(1).toObject().value("algorithm_areaMin").toInt(), 9);

    const QList<Report> pictures = reports("/alarmpicture");
    ASSERT_EQ(pictures.size(), 1);
    EXPECT_EQ(pictures.first().body.value("alarmpic_path").toString(), QString("/a/ng.jpg"));
    EXPECT_EQ(pictures.first().body.value("result").toInt(), 0);
    EXPECT_EQ(pictures.first().body.value("uuid").toString(), alarm);
    EXPECT_FALSE(cycleId.isEmpty());
    EXPECT_EQ(pictures.first().uuid, cycleId) << "sent under the id of the cycle it was taken in";
}

TEST_F(CompanionLink, WorkingTimeReportsAtTheHourAndEveryTwelveMinutes)
{
    configure(false, true);
    ASSERT_TRUE(waitAllowed());
    // An hour no other test reports in.
    QDateTime moment(QDate(2031, 3, 4), QTime(5, 0, 30));
    Clock::setFixed(moment);
    link->workStartMs = moment.toMSecsSinceEpoch();
    for (int minute = 0; minute < 13; ++minute) {
        window->runState = minute < 4 ? 1 : 3;
        link->update_running_time();
        Clock::advance(60000);
    }
    ASSERT_TRUE(waitUntil([&] { return reports("/working_time_record").size() == 2; }));
    const QList<Report> records = reports("/working_time_record");
    EXPECT_EQ(records.at(0).body.value("working_time").toInt(), 1);
    EXPECT_EQ(records.at(0).body.value("stop_time").toInt(), 0);
    EXPECT_EQ(records.at(0).body.value("record_timepart").toString(), QString("2031-03-04 05:00:30"));
    // Ticks 2..13: 3 working minutes, 9 stopped ones, reported 12 minutes after the first.
    EXPECT_EQ(records.at(1).body.value("working_time").toInt(), 3);
    EXPECT_EQ(records.at(1).body.value("stop_time").toInt(), 9);
    EXPECT_EQ(records.at(1).body.value("record_timepart").toString(), QString("2031-03-04 05:12:30"));
}

namespace {

// A main window whose picture is known: four coloured quarters.
class PaintedWindow : public StandInWindow
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const int w = width() / 2, h = height() / 2;
        painter.fillRect(0, 0, w, h, QColor(200, 30, 30));
        painter.fillRect(w, 0, width() - w, h, QColor(30, 200, 30));
        painter.fillRect(0, h, w, height() - h, QColor(30, 30, 200));
        painter.fillRect(w, h, width() - w, height() - h, QColor(250, 250, 250));
    }
};

class VideoShare : public CompanionLink
{
protected:
    void SetUp() override
    {
        // The segment's key is the same for every program of the box: this test keeps to its own IPC namespace.
        if (unshare(CLONE_NEWIPC) != 0)
            GTEST_SKIP() << "needs root for an IPC namespace";
        CompanionLink::SetUp();
    }
};

bool segmentExists(int shmid)
{
    shmid_ds info{};
    return shmctl(shmid, IPC_STAT, &info) == 0;
}

} // namespace

TEST_F(VideoShare, WindowIsSharedAsI420AndSwitchOffFreesSegmentAndSemaphore)
{
    PaintedWindow painted;
    painted.resize(960, 540);   // half the share: padded, never read past
    gpWin = &painted;
    configure(false, true, QJsonObject{{"device_workvideo", true}});
    ASSERT_TRUE(waitAllowed());
    const VideoShareInfo share = link->videoShares().value(0);
    ASSERT_TRUE(share.usable());
    shmid_ds info{};
    ASSERT_EQ(shmctl(share.shmid, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_segsz, size_t(1920 * 1080 * 3 / 2));
    EXPECT_EQ(info.shm_nattch, 1u);
    const QJsonArray offered = reports("/offervideomem").first().body.value("memoryinfo").toArray();
    ASSERT_EQ(offered.size(), 1);
    EXPECT_EQ(offered.at(0).toObject().value("shmid").toInt(), share.shmid);
    EXPECT_EQ(offered.at(0).toObject().value("semid").toInt(), share.semid);
    EXPECT_EQ(offered.at(0).toObject().value("fps").toInt(), 20);

    ASSERT_TRUE(waitUntil([&] { return link->videoThread() && link->videoThread()->framesWritten() > 1; }));
    // The frame read back pixel by pixel against OpenCV's own conversion of the expected picture.
    QImage expected(1920, 1080, QImage::Format_RGB32);
    expected.fill(Qt::black);
    {
        QPainter painter(&expected);
        painter.drawImage(0, 0, painted.grab().toImage());
    }
    const cv::Mat bgra(1080, 1920, CV_8UC4, expected.bits(), size_t(expected.bytesPerLine()));
    cv::Mat wanted;
    cv::cvtColor(bgra, wanted, cv::COLOR_BGRA2YUV_I420);
    const auto* frame = static_cast<const uchar*>(shmat(share.shmid, nullptr, SHM_RDONLY));
    ASSERT_NE(frame, reinterpret_cast<const uchar*>(-1));
    sembuf take{0, -1, SEM_UNDO}, give{0, 1, SEM_UNDO};
    ASSERT_EQ(semop(share.semid, &take, 1), 0);
    int mismatches = 0;
    for (int i = 0; i < share.size; ++i)
        mismatches += frame[i] != wanted.data[i];
    semop(share.semid, &give, 1);
    shmdt(frame);
    EXPECT_EQ(mismatches, 0);
    // The semaphore is back to free: one writer at a time (the writer may hold it at a given moment).
    EXPECT_TRUE(waitUntil([&] { return semctl(share.semid, 0, GETVAL) == 1; }, 3000))
        << "semaphore value " << semctl(share.semid, 0, GETVAL);

    // A second start keeps the same segment, attached once.
    hub->initStart();
    EXPECT_EQ(link->videoShares().value(0).shmid, share.shmid);
    EXPECT_EQ(link->videoShares().value(0).semid, share.semid);
    ASSERT_EQ(shmctl(share.shmid, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_nattch, 1u);

    // Switched off: both objects are gone (as ipcs lists them), the ids still offered.
    configure(false, false);
    EXPECT_FALSE(segmentExists(share.shmid));
    EXPECT_EQ(semctl(share.semid, 0, GETVAL), -1);
    QProcess ipcs;
    ipcs.start(QStringLiteral("ipcs"), {QStringLiteral("-m")});
    ASSERT_TRUE(ipcs.waitForFinished(5000));
    EXPECT_FALSE(QString::fromLatin1(ipcs.readAllStandardOutput()).contains(QStringLiteral(" %1 ").arg(share.shmid)));
    EXPECT_EQ(link->videoShares().value(0).shmid, share.shmid);
    gpWin = window.get();
}

TEST(VideoFrame, SmallerOrLargerPicturesAreFittedNotOverread)
{
    QImage small(100, 50, QImage::Format_ARGB32);
    small.fill(QColor(10, 20, 30));
    const QImage fitted = VideoThread::fitFrame(small, 1920, 1080);
    ASSERT_EQ(fitted.size(), QSize(1920, 1080));
    EXPECT_EQ(fitted.pixel(99, 49), QColor(10, 20, 30).rgb());
    EXPECT_EQ(fitted.pixel(100, 49), QColor(Qt::black).rgb());
    QImage large(3840, 2400, QImage::Format_RGB32);
    large.fill(QColor(200, 100, 50));
    const QImage down = VideoThread::fitFrame(large, 1920, 1080);
    ASSERT_EQ(down.size(), QSize(1920, 1080));
    EXPECT_EQ(down.pixel(1727, 1079), QColor(200, 100, 50).rgb());
    EXPECT_EQ(down.pixel(1919, 0), QColor(Qt::black).rgb());
}

TEST(VideoFrame, AHeldSemaphoreSkipsTheFrameInTimeAndIsNeverReset)
{
    QTemporaryFile keyFile;
    ASSERT_TRUE(keyFile.open());
    const int key = ftok(keyFile.fileName().toLocal8Bit().constData(), 1);
    VideoShareInfo share;
    share.width = 64;
    share.height = 32;
    share.size = 64 * 32 * 3 / 2;
    share.shmid = shmget(IPC_PRIVATE, size_t(share.size), IPC_CREAT | 0600);
    ASSERT_NE(share.shmid, -1);
    share.address = shmat(share.shmid, nullptr, 0);
    share.semaphore = QSharedPointer<CNT_Semaphore>::create(key);
    share.semid = share.semaphore->create_sem(1);
    ASSERT_NE(share.semid, -1);
    ASSERT_EQ(semctl(share.semid, 0, GETVAL), 1);

    // A reader that died holding the frame (without SEM_UNDO): the writer waits its bound, skips.
    sembuf take{0, -1, 0};
    ASSERT_EQ(semop(share.semid, &take, 1), 0);
    // Making the share again opens the same set and leaves its value: no second writer is let in.
    CNT_Semaphore again(key);
    EXPECT_EQ(again.create_sem(1), share.semid);
    EXPECT_EQ(semctl(share.semid, 0, GETVAL), 0);
    QImage picture(64, 32, QImage::Format_RGB32);
    picture.fill(QColor(90, 160, 220));
    // Nothing allows sending, so only the calls below write: the frame's bits as the loop hands them.
    VideoThread video({{0, share}}, nullptr);
    video.UpdateMemory(0, nullptr);
    video.UpdateMemory(1, picture.bits());
    EXPECT_EQ(video.framesWritten() + video.framesSkipped(), 0) << "no bits or no share: nothing to write";
    QElapsedTimer timer;
    timer.start();
    video.UpdateMemory(0, picture.bits());
    EXPECT_EQ(video.framesSkipped(), 1);
    EXPECT_GE(timer.elapsed(), CNT_Semaphore::kWaitMs - 20);
    EXPECT_LT(timer.elapsed(), 3 * CNT_Semaphore::kWaitMs);

    sembuf give{0, 1, 0};
    ASSERT_EQ(semop(share.semid, &give, 1), 0);
    video.UpdateMemory(0, picture.bits());
    EXPECT_EQ(video.framesWritten(), 1);
    video.idestory();
    EXPECT_EQ(semctl(share.semid, 0, GETVAL), 1);
    const cv::Mat bgra(32, 64, CV_8UC4, picture.bits(), size_t(picture.bytesPerLine()));
    cv::Mat wanted;
    cv::cvtColor(bgra, wanted, cv::COLOR_BGRA2YUV_I420);
    EXPECT_EQ(std::memcmp(share.address, wanted.data, size_t(share.size)), 0);

    shmdt(share.address);
    shmctl(share.shmid, IPC_RMID, nullptr);
    EXPECT_TRUE(share.semaphore->remove());
}
