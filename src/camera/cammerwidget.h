#pragma once

#include "camerainterface.h"
#include "cameraunitstate.h"
#include "circle.h"
#include "historyring.h"
#include "clustomrect.h"
#include "displaypixels.h"
#include "viewmapping.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class CammerRecong;
class ColorButton;
class ComboBox;
class MainWindowBase;
class QLabel;
class QTimer;
class Slider;
class WizardPara;

// The camera unit: owns one camera, its frame buffers, the active and edited
// ROI parameters and the recognition engine; shows the frame with ROIs and
// results, is the touch surface for ROI editing, carries the ROI parameter
// panel and stores NG, re-train and ignore images. GUI thread only.
// The engine's plain state (sizes, buffers, masks, templates, results) is the
// CameraUnitState base.
class CammerWidget : public QWidget, public CameraUnitState
{
    Q_OBJECT
public:
    static constexpr int kSerialBytes = 100;
    static constexpr int kHistoryFrames = HistoryRing::kFrames;
    static constexpr int kMaxPolyPoints = 8096;
    static constexpr int kRetryMs = 1000;
    static constexpr int kFpsPollMs = 1000;

    CammerWidget(MainWindowBase* parent, int camIndex, _cameraInfo info);
    ~CammerWidget() override;

    // Camera control and image settings.
    void CameraOpen();
    void initSetting();
    void CameraClose();
    bool CameraStart();
    void CameraStop();
    void SetSpeed();
    void SetExposeTime();
    void SetAdjustPlus();
    void SetSharp();
    void SetContrast();
    void SetGamma();
    void SetSaturation();
    void Set3DNoise();
    void Set2DNoise();
    void SetWDR();
    void SetHMirror();
    void SetVMirror();
    bool UpdateImage();
    // Shows another frame than the live one (a checked or recorded frame); the
    // next poll in live view brings the live frame back.
    void showFrame(const unsigned char* frame);
    void ManualUpdateImage();
    void CameraChangeTrig(bool on);
    void RestoreDefaultSettings();
    void HotCameraUpdateROI();

    // ROI parameter panel.
    void ShowHideROIPara();
    void updateSyncROIText(int group);
    static bool GetFuncInitParam(int code, int& sensitivity, int& area, int& minWH);

    // ROI selection and geometry.
    void setCurRoi(int roi);
    void DeselectROI();
    bool GetSelectedRect();
    bool PtInRegion(QPoint p);
    bool PtInRect(QPoint p);
    bool PtInRectMove(QPoint p);
    void SavePolygon();
    void MUpdateXYV(int x, int y);
    QPoint getPointsCenter() const;
    // Masks of the active store over the edit masks (with the rows, on a reset).
    void BackMask();
    // Edit masks over the active ones at a save; a missing or stale one is rebuilt from its shape.
    void RestorMask();
    void setWinSW();
    void setWinSH();
    void setShowSW();
    void setShowSH();

    // Touch editing.
    void DeleteROI(int roi);

    // NG images, re-train images, ignore masks.
    void LoadIgnorePoint();
    void SaveIgnorePoint(int group);
    // A false NG taught away: the NG pixels of the group's NG ROIs become ignore
    // points, are saved and learnt. false when there was nothing to add.
    bool IgnoreNgPixels(int group);
    // Writes template slot `slot` of a group to its file; false when it cannot.
    bool SaveTemplateImage(int group, int slot);

    // Main window and settings screen access.
    MainWindowBase* mainWindow() const { return m_win; }

public slots:
    void TimerFPS();
    void TimerShowAlarm();
    void SlotLoss();
    void SlotChangeFunc();
    void SlotSensitivity(int v);
    void SlotArea(int v);
    void SlotMinWH(int v);
    void SlotChangeParaShow();
    void SlotOutN(int n);
    void SlotSyncParam();
    void SlotSyncROI();
    void SlotNextROI();
    void SlotChangeObject();
    void SlotAdd10();
    void SlotAdd1();
    void SlotSub1();
    void SlotSub10();
    void SlotSize(int step);
    void SlotMoveT();
    void SlotMoveB();
    void SlotMoveL();
    void SlotMoveR();
    void SlotMove(int dx, int dy);
    void SlotMoveAll();
    void SlotCopyArea(QPoint p);
    void SlotCheckDoubleClicked(QPoint p);
    void SaveFailImage(int group, int slot);
    void UpdateFailImage(int group, int slot);
    void SaveReTrainImage(int group);

signals:
    void clicked(QPoint pos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

public:
    CammerRecong* pRecong = nullptr;
    char cameraSN[kSerialBytes] = {};
    QString pluginName;
    bool isOpen = false;
    float showSW = 1.0f;
    float showSH = 1.0f;
    float winSW = 1.0f;
    float winSH = 1.0f;
    unsigned char* pShowBuf = nullptr;
    // Whether the view holds the frame as 32-bit pixels (tints, zoom, colour).
    bool holdsDisplayPixels() const { return m_display.held(); }
    QTimer* pTimerShowAlarm = nullptr;
    QTimer* pTimerFPS = nullptr;

    // Touch-editing state.
    int handle = -1;
    int drawState = 0;  // 0 idle, 1 drawing, 2 moving, 3 dragging a handle, 5 new shape pressed
    bool isShapeEdit = false;
    ClustomRect newRect;
    Circle newCircle;
    QPoint lastPoint;
    QPoint curPoint;
    QPoint pressPoint;
    QPoint polyPoints[kMaxPolyPoints];
    int polyPointCount = 0;
    bool isPolyStarted = false;
    bool isPressed = false;

    bool isParaShow = false;
    bool groupPassed[kGroups] = {};

    // ROI parameter panel.
    int panelX = 0;
    int panelY = 0;
    Slider* pSliderMinWH = nullptr;
    Slider* pSliderSensitivity = nullptr;
    Slider* pSliderArea = nullptr;
    QLabel* pLabelFunc = nullptr;
    ColorButton* pBtnFunc = nullptr;
    ColorButton* pBtnParaSwitch = nullptr;
    ComboBox* pComboOutN = nullptr;
    int selNode = 0;
    ColorButton* pBtnObject = nullptr;
    ColorButton* pBtnAdd10 = nullptr;
    ColorButton* pBtnAdd1 = nullptr;
    ColorButton* pBtnSub1 = nullptr;
    ColorButton* pBtnSub10 = nullptr;
    ColorButton* pBtnNextROI = nullptr;
    ColorButton* pBtnSyncParam = nullptr;
    ColorButton* pBtnSyncROI = nullptr;
    int moveMode = 0;
    ColorButton* pBtnMove = nullptr;
    ColorButton* pBtnMoveT = nullptr;
    ColorButton* pBtnMoveB = nullptr;
    ColorButton* pBtnMoveL = nullptr;
    ColorButton* pBtnMoveR = nullptr;
    ColorButton* pBtnMoveAll = nullptr;

    int curRoi = -1;
    int prevRoi = -1;
    bool reTrainPending[kGroups] = {};
    int blinkPhase = 0;
    int fps = 0;
    int lossCount = 0;
    bool isConnected = true;
    int detectTimeMs = 0;
    HistoryRing pHistory[kGroups];  // on for the groups in use
    QString historyTime[kGroups][kHistoryFrames];
    int historyIndex = 0;
    int historyCount[kGroups] = {};
    bool isSimulated = false;
    bool isPolyDblTap = false;
    CameraInterface* pCamera = nullptr;

    // Where a ROI label is drawn: its parameter text differs between them.
    enum class LabelPlace { View, Editor, NgImage };
    QString roiParamText(int group, int roi, LabelPlace place) const;
    // "n: parameters / value" beside a ROI; the value alone once a group has many ROIs.
    QString roiLabel(int group, int roi, int count, LabelPlace place) const;

private:
    // The record in force for the live setters: the settings screen's copy while it is visible.
    const WizardPara* settingsRecord() const;
    static bool settingsScreenShown();
    template <typename Send> void applySetting(bool stopAround, Send send);
    void retryReconnect();
    int groupCount() const;
    // A zeroed buffer that lives as long as the unit.
    unsigned char* newFrameBuffer(size_t bytes);
    void loadTemplates(int groups);
    void buildPanel();
    QString folderFor(int group) const;
    bool ensureFolder(int group) const;
    QVector<QRgb> greyPalette() const;
    // Hands a finished NG/OK picture to the writer's table.
    void storeFailPicture(const QImage& picture, int group, int slot);

    // The shared message and question boxes with a language row.
    static void warn(int row);
    static bool askYes(int row);

    // Panel and geometry helpers.
    void setPanelAnchor(int group, int roi);
    void refreshShape(int group, int roi);
    void startDrawingHint(int value);
    int firstEnabledFunction() const;
    void initNewRoiParams(int group, int n);
    bool selectedShapeIsSelected(int group, int roi) const;
    void clearShapeSelection(int group, int roi);
    void setShapeSelected(int group, int roi, bool on);
    bool shapeHit(int group, int roi, QPoint p);

    // The ROI parameter panel of the selected ROI.
    struct PanelRows
    {
        bool sensitivity = false;
        bool areaAndMin = false;
    };
    void hideRoiPanel();
    PanelRows showRoiPanelRows(int group, int code);
    void layRoiPanel(int group, const PanelRows& shown);
    // Lays the sync, fine-tuning and move buttons along the view's bottom edge
    // (in more rows on a narrow view); returns the top of what the bottom holds
    // (the rows, and the colour legend when it had to go above them).
    int layBottomRow();
    int m_legendBottom = -1;  // the legend's lowest line when above the rows, else -1
    void loadRoiPanelValues(int group, int code);

    // Painting helpers.
    static void drawLabel(QPainter& painter, const QRect& box, const QString& text);
    // The frame as opaque 32-bit pixels in m_display, or in dst.
    void frameToRGBA(const unsigned char* frame);
    void frameToRGB32(const unsigned char* frame, QRgb* dst) const;
    void tintBoxes(const QRect& imageBox, const unsigned char* mask, QRgb colour);
    QString detectionName(int group) const;
    // Sets the pen and returns the status word of the first title line.
    QString statusWord(QPainter& painter, int group, bool full) const;
    void paintRecordView(QPainter& painter);
    void paintRecentNg(QPainter& painter);
    void paintCameraView(QPainter& painter);
    // What one paint of the camera view works on.
    struct ViewPaint
    {
        const CammerSingleton* store = nullptr;
        const WizardPara* para = nullptr;
        int group = 0;
        int count = 0;
        int page = 0;
        bool editor = false;       // ROI editing on the edited parameters
        bool alarmEditor = false;  // the editor's view of the NG alarm
        bool selected = false;     // the camera the zoom applies to
    };
    void zoomPainter(QPainter& painter) const;
    // Paints in the ROI store's display coordinates from here on.
    void displayPainter(QPainter& painter) const;
    // The shown frame as last converted (and scaled) for a paint.
    struct PaintCache
    {
        quint64 frame = 0;                 // m_shownSerial of the frame it was made from, 0 none
        bool converted = false;            // m_display holds that frame (a grey one is scaled from its bytes)
        bool tinted = false;               // tints were painted into the converted pixels
        QImage scaled;                     // the converted frame at the view's size
    };
    PaintCache m_paintCache;
    DisplayPixels m_display;
    bool m_showIsLive = false;  // pShowBuf holds the frame the last poll copied from the capture
    quint64 m_shownSerial = 1;  // counts the frames copied into pShowBuf
    QRect viewRoiBox(const ViewPaint& view, int roi) const;
    // Fills view for the camera view's paint; false when there is nothing to paint.
    bool describeView(ViewPaint& view) const;
    // How the frame layer paints this view's frame.
    struct FrameLayer
    {
        bool tintNg = false, tintIgnored = false, tintPreview = false, tinted = false;
        bool sameSize = false;
        bool direct = false;        // drawn through the painter's transform (zoom, same size)
        bool greyScaled = false;    // scaled from the grey bytes
        bool showTemplate = false;  // template 0 instead of the frame
    };
    FrameLayer frameLayer(const ViewPaint& view) const;
    // Whether the camera view's frame covers every pixel of the view.
    bool frameCoversView() const;
    void paintFrameLayer(QPainter& painter, const ViewPaint& view);
    void paintResultWord(QPainter& painter, const ViewPaint& view);
    QString paintRoiLayer(QPainter& painter, const ViewPaint& view);
    void paintEditorLegend(QPainter& painter, const WizardPara* para);
    void paintRoiSizeMarks(QPainter& painter, const ViewPaint& view, int roi);
    bool paintRoiOutline(QPainter& painter, const ViewPaint& view, int roi, QPoint& anchor);
    void paintStatusTexts(QPainter& painter, const ViewPaint& view, const QString& keptLabel);
    void paintShapeInProgress(QPainter& painter, const ViewPaint& view);

public:
    // This view's pixels against the display coordinates of the ROI store
    // (the zoom applies to the camera shown alone).
    ViewMapping viewMapping() const;

private:
    // Touch helpers: a touch in display coordinates.
    QPoint viewPoint(const QPointF& pos) const;
    void pressInEditor(const QPoint& p);
    void pressToSelect(const QPoint& p, int group);
    void pressOnSelected(const QPoint& p, int group);
    void pressToDraw(const QPoint& p, int group);
    void hoverInEditor(const QPoint& p, int group, bool selected, Qt::MouseButtons buttons, const QPoint& drag);
    bool inMoveDeadZone(const QPoint& p) const;
    void moveOutline(const QPoint& p, int group, bool selected);
    void moveBoxShape(const QPoint& p, int group, bool selected);
    void moveInEditor(const QPoint& p, Qt::MouseButtons buttons, const QPoint& drag);
    void releaseInEditor();
    // false when the group is full (the drawing goes on); true when created or too small.
    bool createDrawnShape(int group);

    MainWindowBase* m_win = nullptr;
    std::unique_ptr<CammerSingleton> m_singleton;
    std::unique_ptr<CammerSingleton> m_singletonEdit;
    std::unique_ptr<CammerRecong> m_recong;
    QTimer* m_retryTimer = nullptr;
    ZeroedBuffers m_frames;  // show and RGBA buffers
    QPoint m_lastTouch;  // last press or move position, for the pan's drag movement
    QElapsedTimer m_lastTap;
    QPoint m_lastTapPoint;
    bool m_haveTap = false;
};
