#pragma once

#include "ctask_formdata.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <deque>
#include <memory>

// Pushes records and pictures to subscribers from one thread with one connection per
// subscriber at most: a subscriber that never answers costs one socket for a few
// seconds, not a thread and a connection per cycle. Lives in its own thread.
class PushDispatcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 2000;
    // Waiting for the subscriber's answer once the message is written.
    static constexpr int kAnswerTimeoutMs = 3000;
    // A transfer still running at the answer time-out may go on this long in all.
    static constexpr int kTransferLimitMs = 30000;
    static constexpr int kTransferPollMs = 200;
    // Pushes waiting behind the one in flight, in order; when full the oldest waiting one
    // goes, so a subscriber that never answers holds no more than this.
    static constexpr int kMaxQueued = 16;

    PushDispatcher();
    ~PushDispatcher() override;

    // Thread-safe: queued into the dispatcher's thread.
    void push(const QString& address, int port, const CTask_FormData& task);
    // Drops the lanes of addresses and ports no subscription names any more.
    void retain(const QStringList& addressPortKeys);

private:
    struct Lane;
    void enqueue(const QString& key, const QString& address, int port, const CTask_FormData& task);
    void startNext(Lane& lane);
    void finish(Lane& lane);
    void onTimeout(Lane& lane);

    QHash<QString, std::shared_ptr<Lane>> m_lanes;
    bool m_answered = false;   // set by the answer parser during one read
};
