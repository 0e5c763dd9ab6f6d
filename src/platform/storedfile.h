#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Files the program keeps (counters, settings, pictures) are replaced whole or not
// at all: a full disk leaves the old content in place and the failure is reported.
namespace StoredFile {

// Called once when a path starts failing (not again until it was written once more).
using FailureHandler = std::function<void(const QString& path, const QString& reason)>;
// Called when a failing path is written after all.
using SavedHandler = std::function<void(const QString& path)>;

// The most content held for retries over all paths; past it the oldest held content is dropped.
constexpr qint64 kMaxHeldBytes = 32LL * 1024 * 1024;

enum class Retry { Hold, Drop };

// Writes bytes to a temporary file beside path and renames it into place only when
// every byte reached the disk; false with the reason otherwise, the old file untouched.
// A failed write is held for retryPending() unless Retry::Drop (pictures: their writer
// counts its own losses).
bool write(const QString& path, const QByteArray& bytes, QString* error = nullptr, Retry retry = Retry::Hold);

// Gives the whole file from the name path in one step, over a file of that name: at every
// moment path is the old file or the new one, never missing. false with the reason otherwise.
bool replace(const QString& from, const QString& path, QString* error = nullptr);

// An empty handler leaves only the log line.
void setFailureHandler(FailureHandler handler);
void setSavedHandler(SavedHandler handler);

// For stores that keep their own retry (the record database): the same once-per-failure
// report and the same "saved after all".
void reportFailure(const QString& path, const QString& reason);
void reportSaved(const QString& path);

// Forgets what is held for the files inside folder (other files took their place there, as a
// parameter group's restore puts them): the retry never writes the old content over them.
void forgetHeldUnder(const QString& folder);

// Paths whose last write failed, in the order they started failing.
QStringList failingPaths();
// Contents dropped from the retry to keep within kMaxHeldBytes since the start.
int droppedCount();

// A file of bytes kept on the disk for the moment everything held must be written (a stop on a
// full disk): spendReserve() removes it and so makes room for what the retry holds. keepReserve()
// makes it again (or completes it) when there is room; false when there is not.
bool keepReserve(const QString& path, qint64 bytes);
bool spendReserve();

// Writes again the latest content of every failing path, oldest failure first (the disk
// may have room now); the number still failing.
int retryPending();

} // namespace StoredFile
