#include "terminationsignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <semaphore.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
int gSignalPipe[2] = {-1, -1};
std::atomic<bool> gExiting{false};
std::atomic<void (*)()> gExitHooks[TerminationSignals::kMaxExitHooks] = {};

// The watch: a thread that, once armed, ends the process when no new arm came within the grace
// time. Armed from a signal handler too, so only lock-free atomics and sem_post reach it there.
sem_t gWatchArmed;
std::atomic<bool> gWatchRunning{false};
std::atomic<bool> gSignalArmed{false};
std::atomic<int> gArms{0};
std::atomic<int> gExitStatus{0};
std::atomic<int> gBoundedWaits{0};
std::once_flag gWatchStarted;

void writeStderr(const char* text)
{
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, strlen(text));
}

// Only what outlives the statics: atomics, the clock and _exit.
void watchUntilTheEnd()
{
    while (::sem_wait(&gWatchArmed) != 0) {
    }
    for (int seen = gArms.load();;) {
        std::this_thread::sleep_for(std::chrono::seconds(TerminationSignals::kExitGraceSeconds));
        const int now = gArms.load();
        if (now == seen && (gExiting.load() || gBoundedWaits.load() == 0))
            break;
        seen = now;
    }
    writeStderr("exit did not finish in time: ending now\n");
    ::_exit(gExitStatus.load());
}

void startWatch()
{
    std::call_once(gWatchStarted, [] {
        ::sem_init(&gWatchArmed, 0, 0);
        std::thread(watchUntilTheEnd).detach();
        gWatchRunning = true;
    });
}

// Each step of the end (the signal, the end of the event loop, exit()) gets the grace time anew:
// there are few of them, so the whole end stays bounded. Safe in a signal handler.
void arm(int status)
{
    gExitStatus = status;
    if (gArms.fetch_add(1) == 0 && gWatchRunning.load())
        ::sem_post(&gWatchArmed);
}

void onSignal(int signalNumber)
{
    // Within exit() no event loop will quit: ending here is the only way the signal is obeyed.
    if (gExiting.load()) {
        writeStderr("termination signal within exit: ending now\n");
        ::_exit(128 + signalNumber);
    }
    // A main thread that never reads the signal (a destructor waiting on a hung disk) is ended too.
    if (!gSignalArmed.exchange(true))
        arm(128 + signalNumber);
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[0], &byte, 1);
}

void onExit(int status, void*)
{
    if (gExiting.exchange(true))
        return;
    // The watch starts before the hooks: a hook that waits for a thread may wait for it to
    // the end, and the statics a late thread uses are never destroyed under it.
    startWatch();
    arm(status);
    for (const auto& hook : gExitHooks) {
        if (auto* run = hook.load())
            run();
    }
}

// Destroyed as exit() begins in its thread, before any static is (thread-local objects go
// first): the handler it registers then is the first exit() runs, whatever statics were made
// after watchExit(), such as the image plug-ins' loader made at the first picture.
struct ExitBegins
{
    ~ExitBegins()
    {
        if (!gExiting.load())
            ::on_exit(onExit, nullptr);
    }
};
} // namespace

namespace TerminationSignals {

void install()
{
    if (gSignalPipe[0] >= 0 || !QCoreApplication::instance())
        return;
    watchExit();
    // Started here, since a signal handler cannot start a thread.
    startWatch();
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) {
        qWarning() << "no socket pair for signal handling";
        return;
    }
    auto* notifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(gSignalPipe[1], &byte, 1);
        qInfo() << "signal" << int(byte) << "received, quitting";
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

void watchExit()
{
    thread_local ExitBegins exitBegins;
    (void)exitBegins;
    if (::on_exit(onExit, nullptr) != 0)
        qWarning() << "exit is not watched: no exit handler registered";
}

void armExitWatch(int status)
{
    startWatch();
    arm(status);
}

BoundedWait::BoundedWait()
{
    ++gBoundedWaits;
}

BoundedWait::~BoundedWait()
{
    --gBoundedWaits;
}

void atExitBegin(void (*hook)())
{
    for (auto& slot : gExitHooks) {
        void (*empty)() = nullptr;
        if (slot.compare_exchange_strong(empty, hook))
            return;
    }
    qWarning() << "exit hook not registered: all taken";
}

} // namespace TerminationSignals
