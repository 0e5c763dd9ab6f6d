#include "historyring.h"

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QThreadPool>

#include <zlib.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

// Fast setting: the frames are small when the mould is calm, and a
// background core is not to be kept busy.
constexpr int kLevel = 1;

// One background thread compresses for every ring, at the lowest priority.
QThreadPool& packer()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}

} // namespace

struct HistoryRing::State
{
    mutable QMutex mutex;
    std::size_t frameBytes = 0;
    int count = 0;
    std::vector<unsigned char> newest;       // frame 0 as checked
    QByteArray newestPacked;                 // frame 0 compressed, once the packer got to it
    std::array<QByteArray, kFrames> packed;  // frames 1.. compressed (index 0 unused)

    // A raw zlib stream of the exact size. The worst-case output buffer is the
    // packer's own and reused: a fresh one per frame, shrunk afterwards, left
    // the packer's heap fragmented and growing.
    static QByteArray pack(const unsigned char* frame, std::size_t bytes)
    {
        thread_local std::vector<unsigned char> out;
        uLongf length = compressBound(uLong(bytes));
        if (out.size() < length)
            out.resize(length);
        if (compress2(out.data(), &length, frame, uLong(bytes), kLevel) != Z_OK)
            return QByteArray();
        return QByteArray(reinterpret_cast<const char*>(out.data()), int(length));
    }

    // Compresses frame 0 unless done already. Under the lock: the next push to
    // this ring comes a detection later, and the frame is not copied.
    void packNewest()
    {
        QMutexLocker lock(&mutex);
        if (count > 0 && newestPacked.isNull())
            newestPacked = pack(newest.data(), newest.size());
    }
};

HistoryRing::HistoryRing()
    : m_state(std::make_shared<State>())
{
}

HistoryRing::~HistoryRing() = default;

void HistoryRing::reset(std::size_t frameBytes)
{
    QMutexLocker lock(&m_state->mutex);
    State& s = *m_state;
    s.frameBytes = frameBytes;
    s.count = 0;
    std::vector<unsigned char>().swap(s.newest);
    s.newestPacked = QByteArray();
    s.packed.fill(QByteArray());
}

bool HistoryRing::isOn() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->frameBytes > 0;
}

void HistoryRing::push(const unsigned char* frame)
{
    {
        QMutexLocker lock(&m_state->mutex);
        State& s = *m_state;
        if (s.frameBytes == 0 || !frame)
            return;
        if (s.count > 0) {
            // The packer fell behind (frames faster than it compresses): frame 0 is packed here.
            if (s.newestPacked.isNull())
                s.newestPacked = State::pack(s.newest.data(), s.newest.size());
            for (int i = kFrames - 1; i > 1; --i)
                s.packed[size_t(i)] = std::move(s.packed[size_t(i - 1)]);
            s.packed[1] = std::move(s.newestPacked);
            s.newestPacked = QByteArray();
        }
        s.newest.resize(s.frameBytes);
        std::memcpy(s.newest.data(), frame, s.frameBytes);
        s.count = qMin(s.count + 1, int(kFrames));
    }
    std::shared_ptr<State> state = m_state;
    packer().start([state] {
        QThread::currentThread()->setPriority(QThread::LowestPriority);
        state->packNewest();
    });
}

bool HistoryRing::read(int index, unsigned char* dst) const
{
    QMutexLocker lock(&m_state->mutex);
    const State& s = *m_state;
    if (index < 0 || index >= s.count || !dst)
        return false;
    if (index == 0) {
        std::memcpy(dst, s.newest.data(), s.frameBytes);
        return true;
    }
    const QByteArray& packed = s.packed[size_t(index)];
    uLongf length = uLongf(s.frameBytes);
    return !packed.isEmpty()
           && uncompress(dst, &length, reinterpret_cast<const Bytef*>(packed.constData()), uLong(packed.size())) == Z_OK
           && length == s.frameBytes;
}

int HistoryRing::count() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->count;
}

void HistoryRing::flush()
{
    packer().waitForDone();
}
