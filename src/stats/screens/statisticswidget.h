#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

class CamereaTabWidget;
class ComboBox;
class ExportResultWorker;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QThread;

// The statistics screen: production counts of the live and the archived
// days by group, camera and detection, the shift hours and the export.
class StatisticsWidget : public QWidget
{
    Q_OBJECT
public:
    static StatisticsWidget* instance;
    static constexpr int kMaxCameraTabs = 9;

    explicit StatisticsWidget(QWidget* parent = nullptr);
    ~StatisticsWidget() override;

    void createWidget(QStringList detectNames);
    void initWidget();
    void updateList();
    void updateGroupsList(bool block);
    void checkUpdate();
    // Refreshes the page on view.
    void refreshPage();

    ExportResultWorker* exportWorker() const { return worker; }
    bool exportAllowed() const { return exportAllow; }
    QTabWidget* cameraTabs() const { return cameraTab; }
    CamereaTabWidget* cameraTabAt(int i) const { return i >= 0 && i < kMaxCameraTabs ? cameraTabsList[i] : nullptr; }
    QListWidget* dayList() const { return dateList; }
    ComboBox* groupChooser() const { return groupCombo; }
    ComboBox* shiftChooser(int index) const { return index >= 0 && index < 4 ? shiftCombos[index] : nullptr; }

signals:
    void sigUpdateRecord(int row, QString path);
    void sigExportData(QPair<QString, QString> range);
    void sigExportProgress(int total, int done);
    void sigExportDataFinish();

public slots:
    void UpdateRecord(QListWidgetItem* item);
    void slotUpdateRecord(bool ok);
    void SlotConfirm();
    void SlotExportData();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void exportFinished(bool ok, const QString& reason);

    ExportResultWorker* worker = nullptr;
    bool exportAllow = true;
    QTabWidget* cameraTab = nullptr;
    CamereaTabWidget* cameraTabsList[kMaxCameraTabs] = {};
    ComboBox* groupCombo = nullptr;
    ComboBox* shiftCombos[4] = {};  // morning start, morning end, night start, night end
    QListWidget* dateList = nullptr;
    std::unique_ptr<QThread> m_exportThread;
    bool m_timerWasOn = false;
};
