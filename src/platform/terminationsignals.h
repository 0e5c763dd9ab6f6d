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

// Called as exit() begins, before a static is destroyed: the lines the log holds reach its
// files even when the watch has to end the process.
void setExitFlush(void (*flush)());

} // namespace TerminationSignals
