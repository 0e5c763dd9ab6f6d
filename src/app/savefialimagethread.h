#pragma once

#include "globals.h"

#include <QString>
#include <QThread>

// Writes the NG and OK images that the detection cycle marks in the shared
// table (gpFailImage, gisSaveFail, gFailIndex under pMutexSaveFail) as JPEG
// files under "./alarmimage/camera<c>/detect<d>/NG|OK", keeping at most the
// configured number of files per folder. Polls the table every 100 ms.
class SaveFialImageThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 100;
    static constexpr const char* kRootDir = "./alarmimage";
    static constexpr const char* kTimeFormat = "yyyy-MM-dd_hh.mm.ss";

    explicit SaveFialImageThread(QObject* parent = nullptr);
    ~SaveFialImageThread() override;

    // The size of camera c's images (the table holds 4 bytes per pixel); set
    // under pMutexSaveFail together with the table once the thread runs.
    void setImageSize(int camera, int width, int height);
    // One pass over the table; the number of files written.
    int saveOnce();
    void stop();

    static QString folderFor(int camera, int detection, int slot);

signals:
    // A file was written (the USB copy and the network side take it from here).
    void sigImageSaved(int camera, int detection, bool ok, QString path);

protected:
    void run() override;

private:
    void prune(const QString& folder, int keep) const;

    int m_width[kMaxCameras] = {};
    int m_height[kMaxCameras] = {};
};
