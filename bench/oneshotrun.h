#pragma once

// Connect-per-request load on loopback, as plant clients that open a connection for every
// request: each client thread connects, POSTs one small JSON body, reads the reply whole
// and closes. wrk keeps its connections open, so it cannot play these clients.

#include "wrkrun.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace oneshotrun {

constexpr int kReplyTimeoutS = 10;

struct Tally
{
    long ok = 0;            // 2xx
    long refused = 0;       // other statuses (503 while the route is in work)
    long unconnected = 0;   // connect failed (refused, or no local port free)
    long noReply = 0;       // connected, but no whole reply: reset, closed early or timed out
    std::vector<double> ms;
};

constexpr int kUnconnected = -1;

// The status of one request on a connection of its own: 0 when no whole reply came,
// kUnconnected when the connection was not made.
inline int oneRequest(quint16 port, const QByteArray& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return kUnconnected;
    timeval timeout{kReplyTimeoutS, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return kUnconnected;
    }
    int status = 0;
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
        QByteArray in;
        char buf[16384];
        qint64 want = -1;
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            in.append(buf, int(n));
            const int end = in.indexOf("\r\n\r\n");
            if (want < 0 && end >= 0) {
                const int at = in.toLower().indexOf("content-length:");
                want = end + 4 + (at >= 0 && at < end ? in.mid(at + 15, in.indexOf('\r', at) - at - 15).trimmed().toLongLong() : 0);
            }
            if (want >= 0 && in.size() >= want) {
                status = in.mid(9, 3).toInt();
                break;
            }
        }
    }
    ::close(fd);
    return status;
}

// `clients` threads send `body` to `path` for `seconds` (a GET when it is empty); figures as
// wrk's, the requests without a reply apart in `tally`.
inline wrkrun::Figures run(quint16 port, const QByteArray& path, const QByteArray& body, int clients, int seconds,
                           Tally* tally = nullptr)
{
    const QByteArray request = body.isEmpty()
        ? "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        : "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
              + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    Tally all;
    std::mutex lock;
    std::atomic<bool> stop{false};
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            Tally mine;
            QElapsedTimer t;
            while (!stop) {
                t.start();
                const int status = oneRequest(port, request);
                if (status == kUnconnected)
                    ++mine.unconnected;
                else if (status == 0)
                    ++mine.noReply;
                else if (status >= 200 && status < 300)
                    ++mine.ok, mine.ms.push_back(t.nsecsElapsed() / 1e6);
                else
                    ++mine.refused;
            }
            std::lock_guard<std::mutex> g(lock);
            all.ok += mine.ok;
            all.refused += mine.refused;
            all.unconnected += mine.unconnected;
            all.noReply += mine.noReply;
            all.ms.insert(all.ms.end(), mine.ms.begin(), mine.ms.end());
        });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread& t : threads)
        t.join();
    const double elapsedS = clock.nsecsElapsed() / 1e9;
    wrkrun::Figures f;
    const long answered = all.ok + all.refused;
    f.rps = answered / elapsedS;
    f.okRps = all.ok / elapsedS;
    f.errorShare = answered > 0 ? double(all.refused) / answered : 0;
    std::sort(all.ms.begin(), all.ms.end());
    if (!all.ms.empty()) {
        f.p50ms = all.ms[all.ms.size() / 2];
        f.p99ms = all.ms[std::min(all.ms.size() - 1, all.ms.size() * 99 / 100)];
    }
    if (tally)
        *tally = std::move(all);
    return f;
}

} // namespace oneshotrun
