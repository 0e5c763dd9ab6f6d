#include "terminationsignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdlib.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
int gSignalPipe[2] = {-1, -1};
std::atomic<bool> gExiting{false};
std::atomic<void (*)()> gExitHooks[TerminationSignals::kMaxExitHooks] = {};

void writeStderr(const char* text)
{
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, strlen(text));
}

void onSignal(int signalNumber)
{
    // Within exit() no event loop will quit: ending here is the only way the signal is obeyed.
    if (gExiting.load()) {
        writeStderr("termination signal within exit: ending now\n");
        ::_exit(128 + signalNumber);
    }
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[0], &byte, 1);
}

void onExit(int status, void*)
{
    if (gExiting.exchange(true))
        return;
    // The watch starts before the hooks: a hook that waits for a thread may wait for it to
    // the end, and the statics a late thread uses are never destroyed under it.
    // Only what outlives the statics: the status by value, the clock and _exit.
    std::thread([status] {
        std::this_thread::sleep_for(std::chrono::seconds(TerminationSignals::kExitGraceSeconds));
        writeStderr("exit did not finish in time: ending now\n");
        ::_exit(status);
    }).detach();
    for (const auto& hook : gExitHooks) {
        if (auto* run = hook.load())
            run();
    }
}
} // namespace

namespace TerminationSignals {

void install()
{
    if (gSignalPipe[0] >= 0 || !QCoreApplication::instance())
        return;
    watchExit();
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
    if (::on_exit(onExit, nullptr) != 0)
        qWarning() << "exit is not watched: no exit handler registered";
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
