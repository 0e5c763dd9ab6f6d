#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstddef>

// Routes Qt's message functions into glog files under "./cnt_net/workspace/log/"
// and, once per start, turns the previous run's files into at most 20
// numbered archives. One instance per process, created by main before
// anything else logs and never deleted.
class LogManager : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* kLogDir = "./cnt_net/workspace/log/";
    static constexpr const char* kStdoutDir = "./cnt_net/workspace/log_stdout/";
    static constexpr int kMaxArchives = 20;
    static constexpr int kMaxStdoutFiles = 50;
    static constexpr int kFlushSeconds = 1;  // buffered lines reach the files within this time
    // While running: glog starts a new file past this size, and the oldest files of the
    // folder go once all of them pass the total.
    static constexpr int kMaxLogFileMb = 16;
    static constexpr qint64 kMaxLogFolderBytes = 128LL * 1024 * 1024;
    static constexpr int kHousekeepingMs = 10000;

    explicit LogManager(QObject* parent = nullptr);

    static LogManager* __instance;

    // Writes the buffered lines out (the timer, and main at exit).
    static void flush();
    static void outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& msg);
    // Start-up tidying of the log folder; runs before glog opens its files.
    static void clearup_cachelogfile();
    // Keeps the newest kMaxStdoutFiles files of the standard-output folder.
    static void pruneStdoutFiles();
    // Removes the fewest of the oldest files of the log folder (never the ones being written)
    // that bring it to at most maxBytes; none when even all of them would not.
    static void pruneLogFolder(qint64 maxBytes = kMaxLogFolderBytes);
    // Writes the counts of the lines held back in windows that are over.
    static void flushRepeats();
    // At the end of the program: every count held back, then the buffered lines, to the files.
    static void finish();

private:
    QTimer m_housekeeping;
};

// glog's failure writer: each piece of a crash report as one ERROR message.
void SignalHandle(const char* data, std::size_t size);
