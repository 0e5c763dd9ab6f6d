#pragma once

#include "counttypes.h"

#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class QDate;
class QDateTime;
class QThread;
class QTimer;
class ResStatisticsDatabase;

// The production counters of the live day and of the day shown on the
// statistics screen, the shift hours and the production day start. Lives in
// the GUI thread; the day files are written by ResStatisticsDatabase in its
// own thread.
class ResStatisticsParam : public QObject
{
    Q_OBJECT
public:
    // The statistics screen sits above this library; it registers how it is
    // refreshed (and created when it does not exist yet).
    struct ScreenHooks
    {
        std::function<void()> checkUpdate;  // after each counted step
        std::function<void()> updateList;   // when a day is being archived
    };
    static void setScreenHooks(ScreenHooks hooks);

    static constexpr int kSaveIntervalMs = 60000;
    // Counts are saved this soon after they change (unless an export pauses it), so a
    // killed program loses at most the cycles of these seconds.
    static constexpr int kQuickSaveMs = 3000;

    explicit ResStatisticsParam(QObject* parent = nullptr);
    ~ResStatisticsParam() override;

    static ResStatisticsParam* getInstance();

    // Starts the day check and the saves.
    void init(QString groupName, int detectCount);
    // Pauses (an export running) or resumes the day check and the quick save.
    void setTimer(bool on);
    // Saves the live day and returns once it is on disk: at every stop and before an export.
    void saveNow();
    void checkCameraDetectCount(int n);

    QString getCurDBDate() const;
    QString getCurGroupName() const { return curGroupName; }
    QStringList getGroups() const;
    CountGroup getGoupFromName(QString name) const;
    void setCurGroup();

    QList<int> getRes(ShiftType t, bool ok, int camera, int detect) const;
    int getCount(ShiftType t, bool ok, int camera, int detect) const;
    QList<int> getShiftTimeList(ShiftType t) const;

    void laodConfig();
    void laodConfigFromJson(QJsonObject obj);
    void saveConfig();
    void createNewTime();
    bool checkParam(QJsonObject& obj) const;
    void readTime();

    // Shift totals of hourly lists whose index 0 is the clock hour startHour
    // (-1: morningsStart); the shifts count by clock hour.
    void calcCount(CountDetect& d, int startHour = -1) const;
    void calcCount(CountCamera& c, int startHour = -1) const;
    void calcCount(CountGroup& g) const;
    void calcCount(CountGroupList& l) const;

    // Fresh entries: each replaces the whole argument.
    static void initStuStatisticsCount(sCount& s);
    static void initStuCountDetect(CountDetect& d);
    static void initStuCountCamera(CountCamera& c);
    static void initStuCountGroup(CountGroup& g, QString name);
    void initStuCount(CountGroupList& l) const;

    // Day counter JSON; the writers write list positions as ids.
    static QJsonObject StuCountDetectToJson(CountDetect d, int id);
    static QJsonObject StuCountCameraToJson(CountCamera c, int id, int& detectsWritten);
    static QJsonObject StuCountGroupToJson(CountGroup g);
    static QJsonObject StuCountToJson(CountGroupList l);
    static void StuCountDetectFromJson(CountDetect& d, QJsonObject o);
    static void StuCountCameraFromJson(CountCamera& c, QJsonObject o);
    static void StuCountGroupFromJson(CountGroup& g, QJsonObject o);
    static void StuCountFromJson(CountGroupList& l, QJsonObject o);

    // The moment a production day starting at that clock hour begins; an hour
    // that a daylight-saving change skips begins when the clocks go on.
    static QDateTime dayStartAt(const QDate& date, int hour);
    // The latest production day start (at morningsStart) that is not after now.
    uint latestDayStart() const;
    // Hour index of now in the current production day, 0..23.
    int currentHourIndex() const;
    // The clock hour the running production day started at.
    int dayStartHour() const;

    ResStatisticsDatabase* database = nullptr;
    QTimer* timer = nullptr;
    uint time = 0;
    QString curGroupName = QStringLiteral("default");
    int detectCount = 2;
    CountGroupList countList;
    CountGroupList showList;
    QString showGroupName;
    QList<bool> cycleFlags;
    bool groupCycleFlag = true;
    int morningsStart = 8;
    int morningsEnd = 20;
    int nightStart = 20;
    int nightEnd = 8;

signals:
    void sigUpdateRecord(QString path);
    void sigLoadFinish(bool ok);
    void sigSaveRecord(QString date, QJsonObject counters, bool archive);

public slots:
    void addRecord(int detect, int hour, QList<bool> cameraOK, bool last);
    void slotUpdateRecord(int row, QString path);
    void slotRecvRecord(QJsonObject json, bool ok);
    void checkDate();

private:
    CountGroup* findLiveGroup(const QString& name);
    CountGroup& liveGroup();
    const CountDetect* selectEntry(const CountGroup& group, int camera, int detect) const;
    void normaliseLiveDay();
    void adoptLiveDayDate();
    bool dayIsOver(qint64 elapsed) const;
    void saveLiveDay(bool archive);

    std::unique_ptr<QThread> m_databaseThread;
    QTimer* m_quickSave = nullptr;
};
