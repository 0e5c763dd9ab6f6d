#pragma once

#include <QAbstractEventDispatcher>
#include <QList>

#include <functional>
#include <vector>

// The main thread's event dispatcher on a virtual clock: timers are due at
// virtual times and fire only when the test moves the clock on, so a test
// runs hours of timer-driven work in milliseconds and always in the same order.
// Install it with QCoreApplication::setEventDispatcher before the application
// object is made; MonotonicClock follows it while it lives.
class VirtualTimeDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT
public:
    explicit VirtualTimeDispatcher(qint64 startMs = 100000);
    ~VirtualTimeDispatcher() override;

    // The dispatcher of this thread when it is a virtual one.
    static VirtualTimeDispatcher* instance();

    qint64 now() const { return m_now; }
    // Moves the clock to now + ms, delivering posted events and every timer that
    // comes due, in due order (ties in the order they were started).
    void advance(qint64 ms);
    // The thread is held up: the clock moves on, nothing is delivered.
    void stall(qint64 ms) { m_now += ms; }
    // Delivers the posted events and the timers already due.
    void deliverDue() { advance(0); }
    // Called after each timer delivery (and the posted events it caused).
    void setAfterDelivery(std::function<void()> hook) { m_afterDelivery = std::move(hook); }
    // The earliest due time of a registered timer, or -1 when none runs.
    qint64 nextDue() const;
    int timerCount() const { return int(m_timers.size()); }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;
    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;
    void registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override {}
    void interrupt() override {}
    void flush() override {}

private:
    struct Timer
    {
        int id;
        int interval;
        Qt::TimerType type;
        QObject* object;
        qint64 due;
        quint64 sequence;
    };

    bool sendPosted();
    // The timer due first at or before limit, or null.
    const Timer* earliestDue(qint64 limit) const;

    qint64 m_now;
    quint64 m_sequence = 0;
    std::vector<Timer> m_timers;
    std::function<void()> m_afterDelivery;
};
