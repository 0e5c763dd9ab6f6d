#pragma once

// Turns SIGTERM, SIGINT and SIGHUP into a clean QCoreApplication::quit() on
// the main thread (through a socket pair, since nothing else is safe inside
// a signal handler), and makes every exit() end the process within seconds.
namespace TerminationSignals {

// How long exit() (a return from main, or a library's call) may take before the process ends
// without the rest of it: a static's destructor that waits on a thread must not keep it.
constexpr int kExitGraceSeconds = 5;

void install();

// Watches exit() from here on. exit() runs its handlers in the reverse order of their
// registration, statics' destructors among them: called again once the start-up has made its
// statics, the watch starts before their destructors run. install() calls it once.
void watchExit();

// Run in the order given as exit() begins, before the statics made up to the last watchExit()
// are destroyed: threads stop while what they use is whole, held log lines reach the files
// even when the watch has to end the process. At most kMaxExitHooks.
constexpr int kMaxExitHooks = 4;
void atExitBegin(void (*hook)());

} // namespace TerminationSignals
