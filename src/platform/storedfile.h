#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Files the program keeps (counters, settings, pictures) are replaced whole or not
// at all: a full disk leaves the old content in place and the failure is reported.
namespace StoredFile {

// Called once when a path starts failing (not again until it was written once more).
using FailureHandler = std::function<void(const QString& path, const QString& reason)>;

// Writes bytes to a temporary file beside path and renames it into place only when
// every byte reached the disk; false with the reason otherwise, the old file untouched.
bool write(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Gives the whole file from the name path in one step, over a file of that name: at every
// moment path is the old file or the new one, never missing. false with the reason otherwise.
bool replace(const QString& from, const QString& path, QString* error = nullptr);

// An empty handler leaves only the log line.
void setFailureHandler(FailureHandler handler);

// Paths whose last write failed.
QStringList failingPaths();

// Writes again the latest content of every failing path (the disk may have room now);
// the number still failing.
int retryPending();

} // namespace StoredFile
