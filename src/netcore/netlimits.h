#pragma once

#include <QtGlobal>

// Every limit of the HTTP layer, named once. Sessions take a NetLimits value
// from their reactor so that tests can shorten the time limits.
namespace NetDefaults {
constexpr int kMaxHeaderBytes = 16 * 1024;           // larger header: 431
constexpr qint64 kMaxBodyBytes = 64LL * 1024 * 1024; // larger body: 413
constexpr int kMessageTimeoutMs = 30000;  // a started message must be complete by then
constexpr int kIdleTimeoutMs = 120000;    // a silent connection is closed after this
constexpr int kSendTimeoutMs = 30000;     // one file transfer, header included
constexpr int kFixLandTimeoutMs = 10000;  // one paced byte-array transfer
constexpr int kMaxConnections = 64;       // sessions of one server reactor
constexpr int kSendChunkBytes = 65536;    // file and paced writes go out in chunks of this
constexpr int kSendHighWaterBytes = 4 * kSendChunkBytes; // refill the socket below this
constexpr int kMaxImageSide = 16384;      // largest width or height of a received image
constexpr int kMaxMultipartParts = 1024;  // parts of one multipart body; more: 400
constexpr int kMaxPartHeadLines = 16;     // lines of one part head; more: 400
// Bodies this large, and every multipart body, are decoded off the connection's thread.
constexpr int kInlineDecodeBytes = 64 * 1024;
constexpr int kMaxPostSyncTimeoutMs = 60000;
// A reply held back to keep a connection's replies in request order waits at most
// this long for the answer to an earlier request.
constexpr int kReplyWaitMs = 30000;
// Bytes a peer may leave unread before nothing more is read from it (a larger reply still goes
// out whole). Every connection may hold this much, and the system's buffers hold as much again:
// peers that never read cannot take the memory of the program.
constexpr qint64 kMaxSendBacklogBytes = 4LL * 1024 * 1024;
constexpr qint64 kReadBufferBytes = 1024 * 1024;   // taken from the kernel per connection at most
constexpr int kMaxReplySlots = 1024;      // requests of one connection awaiting their reply
// Requests of one connection handed on and not yet answered before nothing more is framed
// or read from it: a flood of pipelined requests cannot fill the service's event queue.
constexpr int kMaxPipelinedRequests = 256;
constexpr int kHeaderTimeoutMs = 10000;   // a started request's header must be complete by then
// Connections one client address may hold: one client cannot take every slot.
constexpr int kMaxConnectionsPerAddress = 32;
// Body bytes all connections of one reactor may announce at once (each is held whole).
constexpr qint64 kBodyBudgetBytes = 256LL * 1024 * 1024;
// A connection idle this long gives up its slot to a new one when all are taken.
constexpr int kEvictIdleAfterMs = 1000;
constexpr int kPausedCheckMs = 200;   // while accepting is paused: how often to look for an idle slot
}

struct NetLimits
{
    int maxHeaderBytes = NetDefaults::kMaxHeaderBytes;
    qint64 maxBodyBytes = NetDefaults::kMaxBodyBytes;
    int messageTimeoutMs = NetDefaults::kMessageTimeoutMs;
    int idleTimeoutMs = NetDefaults::kIdleTimeoutMs;
    int sendTimeoutMs = NetDefaults::kSendTimeoutMs;
    int maxConnections = NetDefaults::kMaxConnections;
    int replyWaitMs = NetDefaults::kReplyWaitMs;
    qint64 maxSendBacklogBytes = NetDefaults::kMaxSendBacklogBytes;
    int maxPipelinedRequests = NetDefaults::kMaxPipelinedRequests;
    int headerTimeoutMs = NetDefaults::kHeaderTimeoutMs;
    int maxConnectionsPerAddress = NetDefaults::kMaxConnectionsPerAddress;
    qint64 bodyBudgetBytes = NetDefaults::kBodyBudgetBytes;
    int evictIdleAfterMs = NetDefaults::kEvictIdleAfterMs;
};
