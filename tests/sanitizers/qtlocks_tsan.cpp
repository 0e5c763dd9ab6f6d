// Preloaded into a ThreadSanitizer run (tests/sanitizers/run-tsan, run-e2e): the Debian Qt is not
// instrumented, so its locks (futex based, out of line) order nothing in TSan's eyes and
// every field guarded by a QMutex, QSemaphore or QReadWriteLock, waited for with a
// QWaitCondition or left by a QThread that wait() saw end, reads as a race. Each call our code makes goes through here to Qt's own
// and tells TSan the order it makes.
#include <dlfcn.h>

#include <QEvent>
#include <QMetaObject>
#include <QMutex>
#include <QObject>
#include <QReadWriteLock>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QVariant>
#include <QWaitCondition>

#include <functional>
#include <memory>

extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
}

namespace {
template <typename F>
F real(const char* symbol)
{
    return reinterpret_cast<F>(dlvsym(RTLD_NEXT, symbol, "Qt_5"));
}
} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto fn = real<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    fn(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto fn = real<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = fn(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto fn = real<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    fn(this);
}

void QSemaphore::acquire(int n)
{
    static const auto fn = real<void (*)(QSemaphore*, int)>("_ZN10QSemaphore7acquireEi");
    fn(this, n);
    __tsan_acquire(this);
}

bool QSemaphore::tryAcquire(int n)
{
    static const auto fn = real<bool (*)(QSemaphore*, int)>("_ZN10QSemaphore10tryAcquireEi");
    const bool taken = fn(this, n);
    if (taken)
        __tsan_acquire(this);
    return taken;
}

bool QSemaphore::tryAcquire(int n, int timeout)
{
    static const auto fn = real<bool (*)(QSemaphore*, int, int)>("_ZN10QSemaphore10tryAcquireEii");
    const bool taken = fn(this, n, timeout);
    if (taken)
        __tsan_acquire(this);
    return taken;
}

void QSemaphore::release(int n)
{
    static const auto fn = real<void (*)(QSemaphore*, int)>("_ZN10QSemaphore7releaseEi");
    __tsan_release(this);
    fn(this, n);
}

void QReadWriteLock::lockForRead()
{
    static const auto fn = real<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock11lockForReadEv");
    fn(this);
    __tsan_acquire(this);
}

void QReadWriteLock::lockForWrite()
{
    static const auto fn = real<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock12lockForWriteEv");
    fn(this);
    __tsan_acquire(this);
}

void QReadWriteLock::unlock()
{
    static const auto fn = real<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock6unlockEv");
    __tsan_release(this);
    fn(this);
}

// A wait lets go of its lock and takes it again inside Qt, where the calls above do not reach.
// One symbol per instance of the template: its look-up is kept.
template <typename Lock, typename Time>
bool waitUnlocked(const char* symbol, QWaitCondition* condition, Lock* locked, Time time)
{
    static const auto fn = real<bool (*)(QWaitCondition*, Lock*, Time)>(symbol);
    __tsan_release(locked);
    const bool woken = fn(condition, locked, time);
    __tsan_acquire(locked);
    return woken;
}

bool QWaitCondition::wait(QMutex* lockedMutex, QDeadlineTimer deadline)
{
    return waitUnlocked("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer", this, lockedMutex, deadline);
}

bool QWaitCondition::wait(QMutex* lockedMutex, unsigned long time)
{
    return waitUnlocked("_ZN14QWaitCondition4waitEP6QMutexm", this, lockedMutex, time);
}

bool QWaitCondition::wait(QReadWriteLock* lockedReadWriteLock, QDeadlineTimer deadline)
{
    return waitUnlocked("_ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer", this, lockedReadWriteLock, deadline);
}

bool QWaitCondition::wait(QReadWriteLock* lockedReadWriteLock, unsigned long time)
{
    return waitUnlocked("_ZN14QWaitCondition4waitEP14QReadWriteLockm", this, lockedReadWriteLock, time);
}

// A thread's end reaches wait() under Qt's own lock (its threads are detached, never joined):
// its finished() is a release, a wait() that saw it end an acquire. The connection takes the
// addresses of QThread's meta-object and signal, bound as the preload loads: weak, so that the
// programs the tests start without Qt (curl, the shells) still load it.
asm(".weak _ZN7QThread16staticMetaObjectE");
asm(".weak _ZN7QThread8finishedENS_14QPrivateSignalE");
void QThread::start(Priority priority)
{
    static const auto fn = real<void (*)(QThread*, Priority)>("_ZN7QThread5startENS_8PriorityE");
    static const char kWatched[] = "_tsanEndWatched";
    if (!property(kWatched).toBool()) {
        setProperty(kWatched, true);
        connect(this, &QThread::finished, [this] { __tsan_release(this); });
    }
    fn(this, priority);
}

template <typename Time>
bool waitForEnd(const char* symbol, QThread* thread, Time time)
{
    static const auto fn = real<bool (*)(QThread*, Time)>(symbol);
    const bool ended = fn(thread, time);
    if (ended)
        __tsan_acquire(thread);
    return ended;
}

bool QThread::wait(QDeadlineTimer deadline)
{
    return waitForEnd("_ZN7QThread4waitE14QDeadlineTimer", this, deadline);
}

bool QThread::wait(unsigned long time)
{
    return waitForEnd("_ZN7QThread4waitEm", this, time);
}

// A queued call: invokeMethod copies its arguments (or the functor) in the posting thread and
// Qt's event queue, under a lock of its own, hands them to the receiver's thread. The post is
// a release on the receiver and its meta-call event an acquire, for receivers of ours whose
// event() is QObject's (their vtable reaches it through here).
bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret)
{
    static const auto fn = real<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    __tsan_release(object);
    return fn(object, slot, type, ret);
}

bool QMetaObject::invokeMethod(QObject* object, const char* member, Qt::ConnectionType type,
                               QGenericReturnArgument ret, QGenericArgument a0, QGenericArgument a1,
                               QGenericArgument a2, QGenericArgument a3, QGenericArgument a4, QGenericArgument a5,
                               QGenericArgument a6, QGenericArgument a7, QGenericArgument a8, QGenericArgument a9)
{
    static const auto fn = real<bool (*)(QObject*, const char*, Qt::ConnectionType, QGenericReturnArgument,
                                         QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                                         QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                                         QGenericArgument, QGenericArgument)>(
        "_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgument"
        "S7_S7_S7_S7_S7_S7_S7_S7_S7_");
    __tsan_release(object);
    return fn(object, member, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

bool QObject::event(QEvent* event)
{
    static const auto fn = real<bool (*)(QObject*, QEvent*)>("_ZN7QObject5eventEP6QEvent");
    if (event->type() == QEvent::MetaCall)
        __tsan_acquire(this);
    return fn(this, event);
}

// A function handed to a thread pool is made in the starting thread and run in a pool thread,
// handed over under the pool's lock; wrapped here, the start is a release and the run an acquire.
void QThreadPool::start(std::function<void()> work, int priority)
{
    static const auto fn = real<void (*)(QThreadPool*, std::function<void()>, int)>(
        "_ZN11QThreadPool5startESt8functionIFvvEEi");
    auto token = std::make_shared<char>();
    __tsan_release(token.get());
    fn(this, [token, work = std::move(work)] {
        __tsan_acquire(token.get());
        work();
    }, priority);
}
