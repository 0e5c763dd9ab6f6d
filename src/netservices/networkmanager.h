#pragma once

#include "receiveratemeter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QTimer;
struct ShellResult;
template <typename T> class QFutureWatcher;

// One network card as the card files describe it.
struct stu_netinfo
{
    bool isdhcp = false;
    bool iswifi = false;
    bool ispriority = false;
    QString name;
    QString address;
    QString netmask;
    QString gateway;
    QString mac;
    QString dns;
    QString status;
    QString describe;  // the file's "describe" plus "(describe_netplan)"
    bool use = true;
    QString hotname;
    QString passwd;
    // The file's "describe_netplan", so a save writes "describe" without it.
    QString describe_netplan;
};

// One row of the rate table.
struct stu_speedinfo
{
    bool active = false;
    quint64 lastBytes = 0;
    quint64 bytes = 0;
    QString rate = QStringLiteral("0 kb/s");
};

// The program's model of the host's network cards: the two card files, the
// running state and receive rate while the settings dialog is shown, the WiFi
// scan and the card-update script. GUI thread, except the two shell jobs.
class NetworkManager : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* kWiredFile = "/etc/netplan/netplan_prejson.txt";
    static constexpr const char* kWirelessFile = "/etc/netplan/wifi_prejson.txt";
    static constexpr const char* kReportFile = "/etc/network/pyreport.txt";
    static constexpr const char* kScript = "./cnt_net/orulx40_upnetcard.py";
    static constexpr int kScriptTimeoutMs = 120000;
    static constexpr int kIfconfigWaitMs = 200;
    static constexpr int kScanTimeoutMs = 30000;
    static constexpr int kRateEveryTicks = 5;

    // Runs a shell job behind the wait dialog and returns when it is done
    // (set by the dialogs; by default the job simply runs).
    using JobRunner = std::function<void(const std::function<void()>&)>;
    static void setJobRunner(JobRunner runner);
    // False while the settings dialog exists but is hidden: the poll then idles.
    using PollGate = std::function<bool()>;
    static void setPollGate(PollGate gate);

    static NetworkManager* getInstance();
    ~NetworkManager() override;

    bool initnetcard(bool force);
    QMap<QString, stu_netinfo> readNetInfo() const;
    QJsonArray cardList() const { return m_cards; }

    static stu_netinfo json2stu(const QJsonObject& object);
    QJsonObject stu2json(const stu_netinfo& card) const;
    // Writes every card into the wired or wireless card file (temporary file
    // then rename); entries of cards not given keep their places and values.
    // False with the reason when a file could not be written.
    bool writeCardFiles(const QList<stu_netinfo>& cards, QString* error = nullptr) const;

    void NDSpeed_Touch(bool on, int ms);
    bool isPolling() const;
    QMap<QString, stu_speedinfo> speedTable() const { return m_speedTable; }
    // One poll: running state by "ifconfig" (off the GUI thread), rates every fifth tick.
    void pollTick();
    // True while an "ifconfig" of a tick has not come back yet.
    bool ifconfigPending() const;

    QStringList getHotPoints(const QString& card);
    void run_upnetcard();
    void run_wireless();
    QMap<QString, QString> NetInfoChk() const;

    QString priorityCardName() const { return m_priorityName; }
    void setPriorityCardName(const QString& name) { m_priorityName = name; }

    static bool isWifi(const QString& name);
    static bool getProcessAlive(const QString& name);
    static bool chkIPformat(const QString& text);
    // Names that may be handed to a tool: letters, digits and "_.:-", 1 to 15 long,
    // not only dots and not starting with "-".
    static bool isValidCardName(const QString& name);
    // The card names of "/proc/net/dev" except "lo", in file order.
    static QStringList presentCards();

    // Tests shorten the script's time-out.
    void setScriptTimeoutMs(int ms) { m_scriptTimeoutMs = ms; }

private:
    NetworkManager();
    void applyIfconfig(const QByteArray& output);
    void updateRates();
    void finishTick(const ShellResult& result, bool rateDue);

    static NetworkManager* instance;

    QJsonArray m_cards;
    QTimer* m_pollTimer;
    QMap<QString, stu_speedinfo> m_speedTable;
    int m_tick = 0;
    QString m_scanCard;
    QStringList m_hotPoints;
    QString m_priorityName;

    ReceiveRateMeter m_rateMeter;
    std::unique_ptr<QFutureWatcher<ShellResult>> m_ifconfig;
    bool m_rateDue = false;
    int m_scriptTimeoutMs = kScriptTimeoutMs;
};
