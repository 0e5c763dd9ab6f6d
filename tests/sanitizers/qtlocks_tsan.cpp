// Preloaded into a ThreadSanitizer run (tests/sanitizers/run-tsan): the Debian Qt is not
// instrumented, so its locks (futex based, out of line) order nothing in TSan's eyes and
// every field guarded by a QMutex, QSemaphore or QReadWriteLock reads as a race. Each call
// our code makes goes through here to Qt's own and tells TSan the order it makes.
#include <dlfcn.h>

#include <QMutex>
#include <QReadWriteLock>
#include <QSemaphore>

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
