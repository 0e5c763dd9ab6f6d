#pragma once

// Turns SIGTERM, SIGINT and SIGHUP into a clean QCoreApplication::quit() on
// the main thread (through a socket pair, since nothing else is safe inside
// a signal handler).
namespace TerminationSignals {

void install();

} // namespace TerminationSignals
