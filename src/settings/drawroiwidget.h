#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <functional>

#include "colorbutton.h"

class ComboBox;
class CammerWidget;
class MainWindowBase;

// The ROI and template editor ("Area Settings"): a button column at the right
// edge while the camera views show the edited ROIs. It chooses the image
// source, the camera and the detection group, starts the drawing tools,
// deletes, moves and copies ROIs, learns templates, saves the edit stores
// over the active ones and browses the OK and NG records.
class DrawROIWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 240;
    // Image sources (gSource).
    enum Source { SourceTemplate = 0, SourceLive = 1, SourceRecentNg = 2, SourceOkRecords = 3, SourceNgRecords = 4 };

    // Pauses the detection cycle while templates are learnt (set at start-up).
    static void setDetectionPause(std::function<void(bool paused)> pause);

    explicit DrawROIWidget(MainWindowBase* window, QWidget* parent = nullptr);

    // The camera units the editor works on (the main window's list).
    void setCameraUnits(const QVector<CammerWidget*>& units);

    // Record browser (sources 3 and 4 of the camera view).
    QImage recordImage;
    QString recordText;
    int recordCamera = 0;
    int recordCount = 0;
    int recordIndex = 0;

    // Record picture names, newest first by the time in their names.
    static QStringList newestFirst(QStringList names);

    ComboBox* sourceChoice() const { return m_source; }
    ComboBox* cameraChoiceBox() const { return m_camera; }
    ComboBox* detectChoice() const { return m_detect; }
    ColorButton* button(const QString& objectName) const { return findChild<ColorButton*>(objectName); }

public slots:
    // Opens the editor on the edit stores (the "Area Settings" button).
    void Restart();
    // Discards unsaved edits: the active stores are copied over the edit stores.
    void Reset(bool resetSource = true);
    void SlotChangeSource(int source);
    void SlotChangeDetect(int group);
    void SlotChangeCamera(int choice);
    // Finish the shape in progress and (re)start drawing with the tool.
    void SlotDrawRect();
    void SlotDrawCircle();
    void SlotDrawPloygn();
    void SlotDrawHand();
    // First press of a new polygon outline.
    void startDrawPloygn();
    // The camera chosen for the editor (a touch on the alarm view).
    void setCameraChoice(int camera) { cameraChoice = camera; }
    void SlotDelete();
    void SlotMoveAll();
    void SlotCopyGroup();
    // Learns the shown group's template from the current frame.
    void SlotResample();
    // The frame shown becomes a further template of the group.
    void AddTemp();
    void SlotDeleteIgnorePoint();
    void SlotShowHideAlarmPoint();
    void SlotPrevious();
    void SlotNext();
    // Copies the history frame of the shown group into the views (recent NG source).
    void SlotAutoChange();
    void SlotSaveData();
    void SlotReturn();

public:
    int cameraChoice = 0;
    int polygonStarts = 0;  // presses that began a polygon outline

protected:
    void paintEvent(QPaintEvent* event) override;
    // A touch on a camera view may end a drawing or show a camera alone: the column follows.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CammerWidget* shownUnit() const;
    // The units an action works on: the camera shown alone, else all.
    QVector<CammerWidget*> unitsInScope() const;
    void startTool(int mode, bool freeHand);
    void showToolState();
    ColorButton* addButton(int row, const char* name, void (DrawROIWidget::*slot)(), int column, int line);
    void fillDetections();
    void fillCameras();
    void loadRecord();
    void refreshViews();

    MainWindowBase* m_win;
    QVector<CammerWidget*> m_units;
    ComboBox* m_source = nullptr;
    ComboBox* m_camera = nullptr;
    ComboBox* m_detect = nullptr;
    QStringList m_recordFiles;
};
