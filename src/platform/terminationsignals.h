#pragma once

// Turns SIGTERM, SIGINT and SIGHUP into a clean QCoreApplication::quit() on
// the main thread (through a socket pair, since nothing else is safe inside
// a signal handler), and makes every exit() end the process within seconds.
namespace TerminationSignals {

// How long exit() (a return from main, or a library's call) may take before the process ends
// without the rest of it: a static's destructor that waits on a thread must not keep it. The
// first termination signal and the end of the event loop give the same time to their step.
constexpr int kExitGraceSeconds = 5;

void install();

// Watches exit() from here on. An exit() of the calling thread runs the hooks before any
// static is destroyed, those made later included. exit() runs its handlers in the reverse order
// of their registration, statics' destructors among them: for another thread's exit(), called
// again once the start-up has made its statics, the watch starts before their destructors run.
// install() calls it once; it also arms the watch at the first termination signal.
void watchExit();

// Arms the watch now (the end of the event loop): the destructors that follow, exit() and its
// hooks are ended with status when one of them waits past the grace time.
void armExitWatch(int status);

// A wait with its own time-out in progress (a program the runner waits for): before exit() the
// watch lets it end, since it ends anyway (a quit during a package backup stores the package).
class BoundedWait
{
public:
    BoundedWait();
    ~BoundedWait();
    BoundedWait(const BoundedWait&) = delete;
    BoundedWait& operator=(const BoundedWait&) = delete;
};

// Run in the order given as exit() begins, before the statics made up to the last watchExit()
// are destroyed: threads stop while what they use is whole, held log lines reach the files
// even when the watch has to end the process. At most kMaxExitHooks.
constexpr int kMaxExitHooks = 4;
void atExitBegin(void (*hook)());

} // namespace TerminationSignals
