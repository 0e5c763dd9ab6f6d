#pragma once

#include "ctask_formdata.h"
#include "httpmanager.h"
#include "videoshareinfo.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QMap>
#include <QSharedPointer>
#include <QString>
#include <atomic>
#include <memory>

class ChildProcess;
class QTimer;
class VEK_NETMN;
class VideoThread;

// The link to the companion process: starts and watches it, keeps a TCP link
// to it, sends a heartbeat and, while the companion is connected to its server
// and the device is registered there, reports alarms, pictures, cycle results,
// operation records, template lists, working time and the screen video share.
// Everything runs in the GUI thread; the video thread reads only m_allowState.
class ViewWatch2ZEL : public HttpManager
{
    Q_OBJECT
public:
    static constexpr quint16 kPort = 10431;
    static constexpr const char* kCompanionProgram = "./cnt_net/vazir_ovizavi/vazir_ovizavi";
    static constexpr const char* kConfigFile = "cnt_net/config.json";
    static constexpr int kHeartbeatTickMs = 1000;
    static constexpr int kHeartbeatEveryTicks = 3;
    static constexpr int kRestartTicks = 1200;
    static constexpr int kWorkTickMs = 60000;
    static constexpr qint64 kReceiveWindowMs = 8001;
    static constexpr qint64 kWorkingWindowMs = 180000;
    static constexpr int kReportEveryTicks = 12;
    // A companion that has not answered a heartbeat for this long since it was started or
    // since its last answer, gone or alive but hung, is ended (its process group) and started again.
    static constexpr qint64 kAnswerGraceMs = 12000;
    // Where the started companion is recorded, so that a later run ends one left over.
    static constexpr const char* kPidFile = "cnt_net/companion.pid";
    static constexpr int kShareWidth = 1920;
    static constexpr int kShareHeight = 1080;

    // States of isAllowSnd_2_VW.
    enum AllowState { SendAllowed = 1, NoNetworking = -1, NoLink = -2, NoServer = -3, NotRegistered = -4 };
    // alarmState values.
    enum AlarmState { NoAlarm = 0, AlarmRunning = 1, AlarmReleased = 2 };

    explicit ViewWatch2ZEL(VEK_NETMN* hub);
    ~ViewWatch2ZEL() override;

    void init();
    int isAllowSnd_2_VW();
    bool getSoftCnted();

    void sndHeartBeat();
    void sndVideoMeminfo();
    void sndAlarmStartTiming(int detect);
    void updataAlarmInfo();
    void addClearMethod(int camera, int method);
    void sndAlarmFinishTiming();
    // Any thread (the picture writer's): the message leaves from the GUI thread, under the
    // id of the cycle the picture was taken in.
    void sndAlarmPicture(int camera, int detect, bool ok, QString path, QString cycleId);
    void sndRecordOperate(QJsonObject record);
    void syncTempList(QJsonObject list);
    void sndDetectOnceInfo();

    void createVideoShare(int camera, int width, int height);
    void destoryVideoShare();
    void startVideo(bool on);

    // Where the companion is started from and listened for (tests use their own).
    void setCompanion(const QString& program, quint16 port);
    qint64 companionPid() const;
    const QMap<int, VideoShareInfo>& videoShares() const { return m_shares; }
    VideoThread* videoThread() const { return m_video.get(); }
    QString alarmUuid() const { return m_alarmUuid; }
    // The heartbeat's tick count since start (tests start it again).
    static void setHeartbeatTicks(qint64 ticks) { s_ticks = ticks; }

    // Last detection-cycle start (ms since the epoch), set by the hub.
    std::atomic<qint64> workStartMs{0};
    // Written by the detection cycle when it releases an NG alarm.
    std::atomic<int> alarmState{NoAlarm};

public slots:
    void SlotTimerHB();
    void handle_HeartBeat(const CTask_FormData& answer);
    void update_running_time();

private:
    void startCompanion();
    // Ends the companion this program started, and only that.
    void endCompanion();
    bool companionRunning() const;
    // Connects off the GUI thread; onConnected follows when the connection is made.
    void connectReactor();
    void onConnected(bool ok);
    // Sends one report; uuid empty lets the writer stamp one.
    void post(const char* url, const QJsonObject& body, const QString& uuid = QString());
    bool allowed() { return isAllowSnd_2_VW() == SendAllowed; }
    QString deviceState() const;
    void detachShares();

    VEK_NETMN* m_hub;
    QTimer* m_heartbeatTimer;
    QTimer* m_workTimer;
    QMap<int, VideoShareInfo> m_shares;
    std::unique_ptr<VideoThread> m_video;
    std::unique_ptr<ChildProcess> m_companion;
    QString m_program = QString::fromLatin1(kCompanionProgram);
    quint16 m_port = kPort;
    qint64 m_companionStartMs = 0;
    qint64 m_lastAnswerMs = 0;
    int workingMinutes = 0;
    int stoppedMinutes = 0;
    QString m_alarmUuid;
    qint64 m_alarmStartMs = 0;
    QString m_clearMethod;
    bool cntserver = false;
    bool m_register = false;
    bool needokimg = false;
    bool needvideo = false;
    std::atomic<int> m_allowState{NoNetworking};

    static qint64 s_ticks;
    static QString s_lastReportHour;
    static int s_reportRepeats;
};
