// A server reactor with several threads: connections are spread over them, replies
// stay with their requests, and the connection cap and idle eviction still hold.
#include "netcoretestkit.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTcpSocket>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>
#include <gtest/gtest.h>

#include <set>

namespace {

constexpr int kThreads = 3;
constexpr int kClients = 6;
constexpr int kBatches = 20;
constexpr int kBatch = 8;   // pipelined requests per batch

QJsonObject resultOf(const RawResponse& r)
{
    return QJsonDocument::fromJson(r.body).object().value("result").toObject();
}

} // namespace

TEST(ReactorThreads, ConnectionsAreSpreadRepliesStayWithTheirRequestsAndTheCapHolds)
{
    NetLimits limits;
    limits.maxConnections = kClients;
    limits.evictIdleAfterMs = 300;
    ServiceHost host(4, limits, kThreads);

    std::mutex mutex;
    QSet<QString> threadsSeen;
    std::atomic<int> wrong{0}, unanswered{0}, answered{0}, done{0}, evicted{0};
    std::atomic<bool> release{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            RawClient client(host.port());
            for (int b = 0; b < kBatches && client.connected(); ++b) {
                // Answered in the network thread and in the service's thread, mixed on one connection.
                // The echo route, busy in another client's request, may answer 503: then too
                // the reply must be this request's (its uuid comes back in "User-Agent").
                QByteArray batch;
                for (int i = 0; i < kBatch; ++i) {
                    const int n = b * kBatch + i;
                    batch += request("GET", QStringLiteral("/%1?c=%2&n=%3").arg(i % 2 ? "echo" : "where").arg(c)
                                                .arg(n).toLatin1(),
                                     QByteArray(), "User-Agent: c" + QByteArray::number(c) + "-n" + QByteArray::number(n) + "\r\n");
                }
                client.send(batch);
                // Peers of this dialect match replies by the uuid they echo ("User-Agent"): a handler's
                // reply may pass one made at arrival. Each request gets exactly one reply, its own.
                std::set<int> open;
                for (int i = 0; i < kBatch; ++i)
                    open.insert(b * kBatch + i);
                for (int i = 0; i < kBatch; ++i) {
                    // Generous: a loaded machine must not pass for a lost reply.
                    const RawResponse r = client.readResponse(30000);
                    if (!r.complete) {
                        ++unanswered;
                        continue;
                    }
                    const QJsonObject result = resultOf(r);
                    const QByteArray ua = r.headers.value("user-agent");
                    const QByteArray prefix = "c" + QByteArray::number(c) + "-n";
                    const int n = ua.startsWith(prefix) ? ua.mid(prefix.size()).toInt() : -1;
                    const bool served = r.firstLine.startsWith("HTTP/1.1 200");
                    if (open.erase(n) != 1 || (served && (result.value("q_c").toString().toInt() != c
                                                          || result.value("q_n").toString().toInt() != n))) {
                        ++wrong;
                        continue;
                    }
                    ++answered;
                    if (result.contains("thread")) {
                        std::lock_guard<std::mutex> lock(mutex);
                        threadsSeen.insert(result.value("thread").toString());
                    }
                }
            }
            ++done;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (client.waitClosed(200))
                ++evicted;
        });
    }
    ASSERT_TRUE(waitUntil([&] { return done == kClients; }, 60000));
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(unanswered, 0);
    EXPECT_EQ(answered, kClients * kBatches * kBatch);
    EXPECT_EQ(threadsSeen.size(), kThreads);
    EXPECT_EQ(host.sessionCount(), kClients);

    // All slots taken by idle clients: one of them, in whatever thread, gives its slot up.
    RawClient late(host.port());
    late.send(request("GET", "/where?c=99&n=0"));
    const RawResponse reply = late.readResponse(10000);
    EXPECT_TRUE(reply.complete);
    EXPECT_EQ(resultOf(reply).value("q_c").toString(), QString("99"));
    release = true;
    for (std::thread& t : clients)
        t.join();
    EXPECT_EQ(evicted, 1);
    EXPECT_LE(host.sessionCount(), kClients);
}
