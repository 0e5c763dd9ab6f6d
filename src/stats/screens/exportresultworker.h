#pragma once

#include <QDate>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

// Exports the statistics of a day range to the USB disk in a thread of its
// own: runs the box's export program on the day files, counts its "Done"
// lines, moves its output folders to <disk>/<stamp>/ and flushes the disk.
class ExportResultWorker : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* kProgram = "./cnt_net/export_result_statistics/export_result_statistics";
    static constexpr int kDefaultTimeoutMs = 30 * 60 * 1000;
    static constexpr int kMoveTimeoutMs = 10 * 60 * 1000;
    static constexpr int kSyncTimeoutMs = 5 * 60 * 1000;

    explicit ExportResultWorker(QObject* parent = nullptr);

    // The disk folder the export goes to (the found USB mount path).
    void setTarget(const QString& path);
    QString target() const;
    void setTimeoutMs(int ms);

    // Day files of the range: archived days in date order, then the live day when today is inside.
    static QStringList filesOfRange(const QDate& start, const QDate& end, const QDate& today);

    // Runs the export program; false with the reason when it failed, timed out
    // or did not report every file.
    bool exportToHistogram(const QString& program, const QStringList& arguments, int timeoutMs, QString* error);

    int total = 0;
    int done = 0;

signals:
    void exportProgress(int total, int done);
    // ok only when the program succeeded for every file and the output is on the disk.
    void finish(bool ok, QString reason);

public slots:
    void work(QPair<QString, QString> range);

private:
    bool moveOutput(const QString& destination, QString* error);
    // Removes the export program's output folders (never a day file), so that what a
    // failed export left is not carried along by the next one.
    static void clearOutput();

    mutable QMutex m_mutex;
    QString m_target;
    int m_timeoutMs = kDefaultTimeoutMs;
};

// Runs a program and logs what it prints; true when it exited 0.
bool runAndPrintOutput(const QString& program, const QStringList& arguments, int timeoutMs);
