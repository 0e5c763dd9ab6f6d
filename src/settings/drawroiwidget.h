#pragma once

#include <QImage>
#include <QString>
#include <QVector>
#include <QWidget>

class CammerWidget;
class MainWindowBase;

// The ROI editor. For now only its entry points that the camera units call:
// the drawing-tool slots, the start of a polygon and the record browser the
// camera view reads. The full editor screen fills in the rest.
class DrawROIWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DrawROIWidget(MainWindowBase* window, QWidget* parent = nullptr);

    // The camera units the editor works on (the main window's list).
    void setCameraUnits(const QVector<CammerWidget*>& units) { m_units = units; }

    // Record browser (sources 3 and 4 of the camera view).
    QImage recordImage;
    QString recordText;
    int recordCamera = 0;
    int recordCount = 0;
    int recordIndex = 0;

public slots:
    // Finish the shape in progress and (re)start drawing with the tool.
    void SlotDrawRect();
    void SlotDrawCircle();
    void SlotDrawPloygn();
    void SlotDrawHand();
    // First press of a new polygon outline.
    void startDrawPloygn();
    // The camera chosen for the editor (a touch on the alarm view).
    void setCameraChoice(int camera) { cameraChoice = camera; }

public:
    int cameraChoice = 0;
    int polygonStarts = 0;  // presses that began a polygon outline

private:
    CammerWidget* shownUnit() const;
    void startTool(int mode, bool freeHand);

    MainWindowBase* m_win;
    QVector<CammerWidget*> m_units;
};
