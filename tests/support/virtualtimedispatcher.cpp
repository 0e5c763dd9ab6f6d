#include "virtualtimedispatcher.h"

#include "clock.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <limits>

VirtualTimeDispatcher::VirtualTimeDispatcher(qint64 startMs)
    : m_now(startMs)
{
    MonotonicClock::setSource([this] { return m_now; });
}

VirtualTimeDispatcher::~VirtualTimeDispatcher()
{
    MonotonicClock::setSource({});
}

VirtualTimeDispatcher* VirtualTimeDispatcher::instance()
{
    return qobject_cast<VirtualTimeDispatcher*>(QAbstractEventDispatcher::instance(QThread::currentThread()));
}

bool VirtualTimeDispatcher::sendPosted()
{
    // Posted events may post more; a bounded number of rounds keeps a self-reposting object from hanging the test.
    constexpr int kRounds = 100;
    bool any = false;
    for (int round = 0; round < kRounds && QCoreApplication::instance(); ++round) {
        if (!hasPendingEvents())
            break;
        QCoreApplication::sendPostedEvents();
        any = true;
    }
    return any;
}

const VirtualTimeDispatcher::Timer* VirtualTimeDispatcher::earliestDue(qint64 limit) const
{
    const Timer* best = nullptr;
    for (const Timer& t : m_timers) {
        if (t.due > limit)
            continue;
        if (!best || t.due < best->due || (t.due == best->due && t.sequence < best->sequence))
            best = &t;
    }
    return best;
}

qint64 VirtualTimeDispatcher::nextDue() const
{
    const Timer* t = earliestDue(std::numeric_limits<qint64>::max());
    return t ? t->due : -1;
}

void VirtualTimeDispatcher::advance(qint64 ms)
{
    const qint64 target = m_now + qMax<qint64>(0, ms);
    sendPosted();
    while (const Timer* t = earliestDue(target)) {
        const int id = t->id;
        QObject* object = t->object;
        m_now = qMax(m_now, t->due);
        // As Qt does: a late timer fires once and is due again an interval after now.
        Timer& timer = const_cast<Timer&>(*t);
        timer.due += qMax(1, timer.interval);
        if (timer.due <= m_now)
            timer.due = m_now + qMax(1, timer.interval);
        timer.sequence = ++m_sequence;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        sendPosted();
        if (m_afterDelivery)
            m_afterDelivery();
    }
    m_now = target;
}

bool VirtualTimeDispatcher::processEvents(QEventLoop::ProcessEventsFlags)
{
    // Never waits: time moves only when the test says so.
    const bool any = hasPendingEvents() || earliestDue(m_now);
    advance(0);
    return any;
}

// QtCore's own count of posted events, as its dispatchers use it.
Q_CORE_EXPORT uint qGlobalPostedEventsCount();

bool VirtualTimeDispatcher::hasPendingEvents()
{
    return qGlobalPostedEventsCount() > 0;
}

void VirtualTimeDispatcher::registerSocketNotifier(QSocketNotifier*) {}

void VirtualTimeDispatcher::unregisterSocketNotifier(QSocketNotifier*) {}

void VirtualTimeDispatcher::registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject* object)
{
    m_timers.push_back({timerId, interval, timerType, object, m_now + interval, ++m_sequence});
}

bool VirtualTimeDispatcher::unregisterTimer(int timerId)
{
    const auto it = std::find_if(m_timers.begin(), m_timers.end(), [timerId](const Timer& t) { return t.id == timerId; });
    if (it == m_timers.end())
        return false;
    m_timers.erase(it);
    return true;
}

bool VirtualTimeDispatcher::unregisterTimers(QObject* object)
{
    const auto before = m_timers.size();
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(), [object](const Timer& t) { return t.object == object; }),
                   m_timers.end());
    return m_timers.size() != before;
}

QList<QAbstractEventDispatcher::TimerInfo> VirtualTimeDispatcher::registeredTimers(QObject* object) const
{
    QList<TimerInfo> list;
    for (const Timer& t : m_timers)
        if (t.object == object)
            list << TimerInfo(t.id, t.interval, t.type);
    return list;
}

int VirtualTimeDispatcher::remainingTime(int timerId)
{
    for (const Timer& t : m_timers)
        if (t.id == timerId)
            return int(qMax<qint64>(0, t.due - m_now));
    return -1;
}
