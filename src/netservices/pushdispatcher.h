#pragma once

#include "ctask_formdata.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <map>
#include <memory>

class QTimer;

// Pushes records and pictures to subscribers from one thread. Each push goes out at once on
// its own connection and ends with the subscriber's answer, whatever that holds, with its
// time-out or with a failed connection: an answer never paces the pushes after it. What one
// subscriber holds at once is bounded, records apart from pictures, so a subscriber that never
// answers costs a few sockets and a picture never holds a record back. Only an answered push is
// logged as sent; drops and unanswered pushes are counted per subscriber. Lives in its own thread.
class PushDispatcher : public QObject
{
    Q_OBJECT
public:
    enum Kind { Record, Picture };

    static constexpr int kConnectTimeoutMs = 2000;
    // Waiting for the subscriber's answer once the message is written.
    static constexpr int kAnswerTimeoutMs = 3000;
    // A transfer still running at the answer time-out may go on this long in all.
    static constexpr int kTransferLimitMs = 30000;
    static constexpr int kTransferPollMs = 200;
    // Connections one subscriber may hold at once, per kind. A push lives up to its 3000 ms
    // answer time after it is written: at a cycle a second, three cycles' pushes are in flight
    // when the fourth's leave. So 4 records, and 4 x 8 pictures for up to 8 cameras a cycle.
    static constexpr int kRecordsInFlight = 4;
    static constexpr int kPicturesInFlight = 32;
    // Pushes of a kind waiting for a connection of their subscriber; when full the oldest
    // waiting one is dropped.
    static constexpr int kMaxQueued = 16;
    // Drops and pushes left unanswered are told at once, then counted and told at most this often.
    static constexpr int kDropReportMs = 5000;
    // While too few descriptors are free, waiting pushes are tried again this often: a
    // descriptor freed anywhere in the process, not only by a push of the same subscriber,
    // lets them go.
    static constexpr int kDescriptorRetryMs = 200;

    PushDispatcher();
    ~PushDispatcher() override;

    // Thread-safe: queued into the dispatcher's thread.
    void push(const QString& address, int port, Kind kind, const CTask_FormData& task);
    // Drops the subscribers (address and port) no subscription names any more.
    void retain(const QStringList& addressPortKeys);

private:
    struct Push;
    struct Subscriber;
    void enqueue(const QString& key, const QString& address, int port, Kind kind, const CTask_FormData& task);
    void startWaiting(Subscriber& subscriber);
    void start(Subscriber& subscriber, Kind kind, const CTask_FormData& task);
    void onTimeout(Push& push);
    void end(quint64 id);
    // Counts a push that ends without an answer; false when it was answered.
    bool countUnanswered(Subscriber& subscriber, const Push& push);
    // A drop or an unanswered push is told at once after a quiet spell, then summed.
    void troubleCounted();
    // Tells the drops and unanswered pushes not told yet, of every subscriber or of one; false
    // when there were none.
    bool reportTrouble();
    bool reportTrouble(Subscriber& subscriber);

    std::map<QString, std::unique_ptr<Subscriber>> m_subscribers;   // by address;port
    std::map<quint64, std::unique_ptr<Push>> m_pushes;
    quint64 m_lastId = 0;
    QTimer* m_dropReport;
    QTimer* m_descriptorRetry;
};
