// Connect-per-request clients against a server reactor that spreads its sessions over
// three loop threads: no session is ever touched by a thread that does not run it.
#include "netcoretestkit.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>
#include <gtest/gtest.h>

namespace {

// Qt's complaints about objects used outside their thread, collected from every thread.
class AffinityWarnings
{
public:
    AffinityWarnings() { previous_ = qInstallMessageHandler(&AffinityWarnings::handle); }
    ~AffinityWarnings() { qInstallMessageHandler(previous_); }
    QStringList take()
    {
        QMutexLocker lock(&mutex_);
        return std::exchange(seen_, {});
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        for (const char* sign : {"Timers cannot be", "different thread", "Current thread", "another thread"}) {
            if (text.contains(QLatin1String(sign))) {
                QMutexLocker lock(&mutex_);
                if (seen_.size() < 20)
                    seen_ << text;
                break;
            }
        }
        if (type != QtInfoMsg && type != QtDebugMsg)
            previous_(type, context, text);
    }
    static inline QtMessageHandler previous_ = nullptr;
    static inline QMutex mutex_;
    static inline QStringList seen_;
};

// A plain blocking client, light enough for thousands of connections a second.
class OneShot
{
public:
    explicit OneShot(quint16 port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const timeval limit{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~OneShot()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool send(const QByteArray& bytes) { return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == bytes.size(); }
    // The status line and body of one whole reply; empty when none came.
    std::pair<QByteArray, QByteArray> reply()
    {
        QByteArray in;
        char chunk[4096];
        while (fd_ >= 0) {
            const int end = in.indexOf("\r\n\r\n");
            if (end >= 0) {
                const int at = in.toLower().indexOf("content-length:");
                const int length = at < 0 ? 0 : in.mid(at + 15, in.indexOf("\r\n", at) - at - 15).trimmed().toInt();
                if (in.size() >= end + 4 + length)
                    return {in.left(in.indexOf("\r\n")), in.mid(end + 4, length)};
            }
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            in.append(chunk, int(n));
        }
        return {};
    }
    // True when the server ends the connection (read returns 0 or a reset) in the time.
    bool closedByServer()
    {
        char byte;
        const ssize_t n = fd_ < 0 ? 1 : ::recv(fd_, &byte, 1, 0);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

private:
    int fd_ = -1;
};

constexpr int kLoopThreads = 3;
constexpr int kRequestClients = 4;
constexpr int kIdleClients = 2;
constexpr auto kLoad = std::chrono::seconds(8);

} // namespace

// Sessions are made, read, timed out, answered and deleted in their own loop thread while
// clients come and go at full speed and others sit idle past the time-out: Qt says nothing
// of timers or objects used from another thread, every reply is its request's, and the
// program is still standing (a timer left behind by a deleted session crashed it before).
TEST(SessionSpread, ConnectPerRequestClientsOverThreeLoopsStayInTheirThreads)
{
    AffinityWarnings warnings;
    NetLimits limits;
    limits.idleTimeoutMs = 150;
    limits.headerTimeoutMs = 150;
    // Room for every client with one to spare: a connection a client has closed and its loop
    // has not read yet is not counted, so none is refused.
    limits.maxConnectionsPerAddress = kRequestClients + kIdleClients + 1;
    ServiceHost host(4, limits, kLoopThreads);

    std::atomic<bool> stop{false};
    std::atomic<int> served{0}, wrong{0}, idleClosed{0}, idleKept{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kRequestClients; ++c) {
        clients.emplace_back([&, c] {
            for (int n = 0; !stop; ++n) {
                // Mostly answered in the loop thread, some in the service's thread.
                const QByteArray route = n % 8 == 0 ? "/echo" : "/where";
                const QByteArray json = "{\"c\":" + QByteArray::number(c) + ",\"n\":" + QByteArray::number(n) + "}";
                OneShot client(host.port());
                if (!client.send(request("POST", route + "?c=" + QByteArray::number(c) + "&n=" + QByteArray::number(n), json))) {
                    ++wrong;
                    continue;
                }
                const auto [status, body] = client.reply();
                const QJsonObject result = QJsonDocument::fromJson(body).object().value("result").toObject();
                if (route == "/echo" && status.startsWith("HTTP/1.1 503"))
                    ++served;   // while another client's /echo is being handled
                else if (result.value("q_c").toString() == QString::number(c)
                         && result.value("q_n").toString() == QString::number(n))
                    ++served;
                else
                    ++wrong;
            }
        });
    }
    for (int c = 0; c < kIdleClients; ++c) {
        clients.emplace_back([&, c] {
            while (!stop) {
                OneShot client(host.port());
                if (c == 1)
                    client.send("POST /where HTTP/1.1\r\nHost: x\r\n");   // a header never finished
                (client.closedByServer() ? idleClosed : idleKept)++;
            }
        });
    }
    std::this_thread::sleep_for(kLoad);
    stop = true;
    for (std::thread& t : clients)
        t.join();

    EXPECT_EQ(warnings.take(), QStringList());
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(served, 1000);
    EXPECT_GT(idleClosed, 10);
    EXPECT_EQ(idleKept, 0);
    EXPECT_TRUE(waitUntil([&] { return host.sessionCount() == 0; }, 5000));
}
