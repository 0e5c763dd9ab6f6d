#pragma once

#include "cvariant.h"
#include "httpmanager.h"
#include "param_roi.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVariant>
#include <atomic>
#include <memory>

class HttpApiServer;
class ViewWatch2ZEL;

// The network hub: the one object through which the system reaches the
// network services. Created on first use, never destroyed while the process runs.
// Lock order: recordLock, then the cycle record's own mutex.
class VEK_NETMN : public HttpManager
{
    Q_OBJECT
public:
    // One detection cycle, copied by value.
    struct sAPI_LastDetect_Info
    {
        QString id;                       // "V18#" + device name + "@" + start ms in hex
        QString starttime;                // "yyyy-MM-dd hh:mm:ss.zzz"
        QJsonObject record;               // empty until the cycle is decided
        QMap<QString, QString> pictures;  // "camera;detect;1|0" -> file path
    };

    static constexpr const char* kConfigPath = "cnt_net/config.json";
    static constexpr const char* kDefaultWorkspace = "./cnt_net/workspace/";
    static constexpr const char* kTimeFormat = "yyyy-MM-dd hh:mm:ss.zzz";

    static VEK_NETMN* __instance;
    static VEK_NETMN* getInstance();
    // Deletes the hub (its API server, companion link and their threads); the next
    // getInstance makes a new one.
    static void endInstance();
    ~VEK_NETMN() override;

    // Key of the ROI result cache: "camera;group;roi" in decimal.
    static QString roiKey(int camera, int group, int roi);
    // Stores one ROI's result; a later result of the same ROI replaces it.
    void insertRoiResult(const param_roi& result);

    // (Re)reads "cnt_net/config.json" and restarts the services.
    void initStart();
    void setWorkTask(bool net, bool video, bool api);

    // The detection cycle's three feeding points and its stop.
    void start_PeriodRecord();
    // ng: the cycle had an NG that its ROI results may not show (a check without ROIs).
    void finish_PeriodRecord(bool ng = false);
    // Called from the picture writer's thread with the id of the cycle the picture was taken in.
    // Recorded and sent under that cycle; one saved before its cycle is decided is held and
    // sent right after the cycle's record.
    void add_PeriodRecord_Picture(int camera, int detect, bool ok, QString path, QString cycleId);
    // Detection stopped: cycle record, ROI results and held pictures emptied.
    void clear_PeriodRecord();

    static QJsonArray Parse_CacheDetectedRoiInfos_2_QJsonArray(QMap<QString, param_roi> cache);
    // One key of "cnt_net/config.json"; invalid when the file or key is missing.
    static QVariant getConfigValue(const QString& key);
    void getNTP_Timing_sync();

    QString deviceName() const { return m_devicename; }
    QString workspace() const { return m_workspace; }
    bool isNetWorking() const { return m_worknetfunc; }
    bool isVideoWorking() const { return m_workvideo; }
    bool isApiWorking() const { return m_workapifunc; }
    HttpApiServer* apiServer() const { return m_apiServer.get(); }
    ViewWatch2ZEL* companionLink() const { return m_link.get(); }
    // The companion link's state code (1 sending allowed).
    int isAllowSnd_2_VW();
    // A copy of the ROI results taken under the record lock.
    QMap<QString, param_roi> roiResultsCopy();
    // Id of the current cycle record, empty when there is none.
    QString currentCycleId() const;

    // The per-ROI results of the current detection cycle (GUI thread only).
    QMap<QString, param_roi> roiResultCache;
    // The current cycle; every access goes through its own mutex.
    CVariant<sAPI_LastDetect_Info> lastDetectInfo;
    // Alarm time (ms) for the companion link, and the first decided cycle's result.
    CVariant<int> alarmTime;
    CVariant<bool> firstCycleResult;

private:
    // Cycles whose sent pictures are remembered, so that none is sent twice.
    static constexpr int kSentCyclesKept = 16;

    struct SavedPicture
    {
        int camera;
        int detect;
        bool ok;
        QString path;
    };

    VEK_NETMN();
    static QString pictureKey(int camera, int detect, bool ok);
    // Under the record lock: true the first time a cycle's picture key is sent.
    bool firstSending(const QString& cycleId, const QString& key);
    // Under the record lock: the held pictures taken out, each only if not sent before.
    QList<SavedPicture> takeHeldPictures(const QString& cycleId);
    // To the API's subscribers and the companion process.
    void sendPicture(const SavedPicture& picture, const QString& cycleId);
    // Offers a saved picture to the API's subscribers.
    void publishPicture(int camera, int detect, bool ok, const QString& path, const QString& cycleId);

    std::unique_ptr<HttpApiServer> m_apiServer;
    std::unique_ptr<ViewWatch2ZEL> m_link;
    QMutex m_recordLock;
    // Under the record lock: pictures of the current cycle saved before its decision, one
    // per key (at most 8 x 8 x 2), and the keys sent of the last cycles, oldest first.
    QMap<QString, SavedPicture> m_heldPictures;
    QList<QPair<QString, QSet<QString>>> m_sentPictures;
    QString m_devicename;
    // Read by the picture writer's thread too.
    std::atomic<bool> m_worknetfunc{false};
    std::atomic<bool> m_workvideo{false};
    std::atomic<bool> m_workapifunc{false};
    QString m_workspace = QString::fromLatin1(kDefaultWorkspace);
};
