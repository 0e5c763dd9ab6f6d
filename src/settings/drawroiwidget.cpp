#include "drawroiwidget.h"

#include "ccomp_diawait.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "colorbutton.h"
#include "combobox.h"
#include "dialogpainter.h"
#include "globals.h"
#include "indexbutton.h"
#include "mainwindowbase.h"
#include "settingsprompt.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QDateTime>
#include <QEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QPainter>
#include <QRegularExpression>

#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {
constexpr int kBlinkIgnorePoints = 2;
// The camera views' "setting regions" state while the editor is open.
constexpr int kResultSettingRegions = 3;
constexpr int kResultOk = 1;
constexpr int kResultNgShown = 2;

constexpr int kRowAllMove = 32;
constexpr int kRowAddTemplate = 48;
constexpr int kRowReturn = 58;
constexpr int kRowResample = 129;
constexpr int kRowOkRecords = 216;
constexpr int kRowNgRecords = 217;
constexpr int kRowAllCameras = 585;
constexpr int kRowCameraN = 586;
constexpr int kRowRect = 846;
constexpr int kRowCircle = 847;
constexpr int kRowPolygon = 848;
constexpr int kRowHand = 849;
constexpr int kRowDeleteArea = 850;
constexpr int kRowCopyGroup = 851;
constexpr int kRowShowIgnore = 852;
constexpr int kRowShowNg = 853;
constexpr int kRowDiscard = 854;
constexpr int kRowSave = 855;
constexpr int kRowSaveQuestion = 856;
constexpr int kRowTemplate = 858;
constexpr int kRowLive = 859;
constexpr int kRowRecentNg = 860;
constexpr int kRowPrevious = 861;
constexpr int kRowNext = 862;
constexpr int kRowShowOneNg = 863;
constexpr int kRowSelectFirst = 864;
constexpr int kRowResampleQuestion = 865;
constexpr int kRowSaveFailed = 867;
constexpr int kRowDeleteIgnore = 870;
constexpr int kRowDeleteIgnoreQuestion = 871;
constexpr int kRowTemplatesFull = 872;

constexpr int kSourceRows[] = {kRowTemplate, kRowLive, kRowRecentNg, kRowOkRecords, kRowNgRecords};
constexpr int kButtonH = 56;
constexpr int kHalfW = (DrawROIWidget::kWidth - 12) / 2;
constexpr int kFullW = DrawROIWidget::kWidth - 8;
constexpr int kButtonClass = 3;
constexpr int kComboPixels = 24;
// The folders the NG image writer stores the OK and NG records in.
constexpr const char* kRecordFolder = "./alarmimage/camera%1/detect%2/%3";

std::function<void(bool)>& detectionPause()
{
    static std::function<void(bool)> pause;
    return pause;
}

void pauseDetection(bool paused)
{
    if (detectionPause())
        detectionPause()(paused);
}

// The three learning steps of a group, in their order.
void learnGroup(CammerWidget* unit, int group)
{
    unit->pRecong->CreateHomoShape(group);
    unit->pRecong->CreateShape(group);
    unit->pRecong->VarTrain(group);
}
// "<who> <row>: <old> -> <new>" for each stored row that changed; "-" stands for a row that is not there.
QStringList rowChanges(const QString& who, const QMap<QString, QString>& before, const QMap<QString, QString>& after)
{
    QStringList changes;
    QStringList names = before.keys() + after.keys();
    names.removeDuplicates();
    std::sort(names.begin(), names.end());
    const QString none = QStringLiteral("-");
    for (const QString& name : qAsConst(names)) {
        const QString was = before.value(name, none).trimmed();
        const QString now = after.value(name, none).trimmed();
        if (was != now)
            changes << QStringLiteral("%1 %2: %3 -> %4").arg(who, name, was, now);
    }
    return changes;
}
}  // namespace

void DrawROIWidget::setDetectionPause(std::function<void(bool)> pause) { detectionPause() = std::move(pause); }

DrawROIWidget::DrawROIWidget(MainWindowBase* window, QWidget* parent)
    : QWidget(parent)
    , m_win(window)
{
    setObjectName("roiEditor");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(4);
    auto makeCombo = [this, grid](int line) {
        auto* combo = new ComboBox(this);
        combo->setFont(DialogPainter::font(kComboPixels));
        combo->setFixedSize(kFullW, kButtonH - 6);
        combo->setItemHeight(kButtonH - 6);
        grid->addWidget(combo, line, 0, 1, 2);
        return combo;
    };
    m_source = makeCombo(0);
    for (int row : kSourceRows)
        m_source->addItem(lanText(row));
    m_camera = makeCombo(1);
    m_detect = makeCombo(2);
    connect(m_source, QOverload<int>::of(&QComboBox::activated), this, &DrawROIWidget::SlotChangeSource);
    connect(m_camera, QOverload<int>::of(&QComboBox::activated), this, &DrawROIWidget::SlotChangeCamera);
    connect(m_detect, QOverload<int>::of(&QComboBox::activated), this, &DrawROIWidget::SlotChangeDetect);

    // A tool pressed while it is in use finishes its shape and is put down (no tool).
    const struct
    {
        int row;
        const char* name;
        int mode;
        bool freeHand;
        void (DrawROIWidget::*slot)();
        int column, line;
    } tools[] = {
        {kRowRect, "drawRect", kDrawRect, false, &DrawROIWidget::SlotDrawRect, 0, 3},
        {kRowCircle, "drawCircle", kDrawCircle, false, &DrawROIWidget::SlotDrawCircle, 1, 3},
        {kRowPolygon, "drawPolygon", kDrawPolygon, false, &DrawROIWidget::SlotDrawPloygn, 0, 4},
        {kRowHand, "drawHand", kDrawPolygon, true, &DrawROIWidget::SlotDrawHand, 1, 4},
    };
    for (const auto& tool : tools) {
        ColorButton* b = addButton(tool.row, tool.name, nullptr, tool.column, tool.line);
        b->setCheckable(true);
        connect(b, &QPushButton::clicked, this, [this, mode = tool.mode, hand = tool.freeHand, slot = tool.slot] {
            if (m_win && m_win->drawMode == mode && m_win->isFreeHand == hand) {
                if (CammerWidget* unit = shownUnit(); unit && mode == kDrawPolygon)
                    unit->SavePolygon();
                startTool(0, false);
                return;
            }
            (this->*slot)();
        });
    }
    addButton(kRowDeleteArea, "delete", &DrawROIWidget::SlotDelete, 0, 5);
    addButton(kRowAllMove, "moveAll", &DrawROIWidget::SlotMoveAll, 1, 5);
    addButton(kRowCopyGroup, "copyGroup", &DrawROIWidget::SlotCopyGroup, 0, 6);
    addButton(kRowResample, "resample", &DrawROIWidget::SlotResample, 1, 6);
    addButton(kRowShowIgnore, "alarmPoint", &DrawROIWidget::SlotShowHideAlarmPoint, 0, 7);
    addButton(kRowDiscard, "reset", nullptr, 1, 7);
    connect(button("reset"), &QPushButton::clicked, this, [this] { Reset(false); });
    addButton(kRowPrevious, "previous", &DrawROIWidget::SlotPrevious, 0, 8);
    addButton(kRowNext, "next", &DrawROIWidget::SlotNext, 1, 8);
    addButton(kRowAddTemplate, "addTemplate", &DrawROIWidget::AddTemp, 0, 9);
    addButton(kRowDeleteIgnore, "deleteIgnore", &DrawROIWidget::SlotDeleteIgnorePoint, 1, 9);
    addButton(kRowSave, "save", &DrawROIWidget::SlotSaveData, 0, 10);
    addButton(kRowReturn, "return", &DrawROIWidget::SlotReturn, 1, 10);
    grid->setRowStretch(11, 1);
    hide();
}

ColorButton* DrawROIWidget::addButton(int row, const char* name, void (DrawROIWidget::*slot)(), int column, int line)
{
    auto* b = new ColorButton(lanText(row), this, kButtonClass);
    b->setObjectName(QString::fromLatin1(name));
    b->setFixedSize(kHalfW, kButtonH);
    b->fitText();
    if (slot)
        connect(b, &QPushButton::clicked, this, slot);
    static_cast<QGridLayout*>(layout())->addWidget(b, line, column);
    return b;
}


void DrawROIWidget::setCameraUnits(const QVector<CammerWidget*>& units)
{
    for (CammerWidget* unit : qAsConst(m_units))
        unit->removeEventFilter(this);
    m_units = units;
    for (CammerWidget* unit : qAsConst(m_units))
        unit->installEventFilter(this);
}

bool DrawROIWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && isVisible())
        QTimer::singleShot(0, this, &DrawROIWidget::showToolState);
    return QWidget::eventFilter(watched, event);
}

void DrawROIWidget::showToolState()
{
    if (!m_win)
        return;
    const int mode = m_win->drawMode;
    const bool hand = m_win->isFreeHand;
    const struct { const char* name; bool on; } tools[] = {
        {"drawRect", mode == kDrawRect},
        {"drawCircle", mode == kDrawCircle},
        {"drawPolygon", mode == kDrawPolygon && !hand},
        {"drawHand", mode == kDrawPolygon && hand},
    };
    for (const auto& tool : tools)
        if (ColorButton* b = button(tool.name))
            b->setChecked(tool.on);
    const int shown = m_win->selCamera;
    const QSignalBlocker block(m_camera);
    m_camera->setCurrentIndex(shown >= 0 && shown < m_units.size() ? shown + 1 : 0);
}

void DrawROIWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x20, 0x20, 0x20));
}

CammerWidget* DrawROIWidget::shownUnit() const
{
    const int shown = m_win ? m_win->selCamera : 0;
    return shown >= 0 && shown < m_units.size() ? m_units.at(shown) : nullptr;
}

QVector<CammerWidget*> DrawROIWidget::unitsInScope() const
{
    if (CammerWidget* unit = shownUnit())
        return {unit};
    return m_units;
}

void DrawROIWidget::refreshViews()
{
    for (CammerWidget* unit : qAsConst(m_units)) {
        unit->ShowHideROIPara();
        unit->update();
    }
    if (m_win)
        m_win->update();
}

void DrawROIWidget::fillCameras()
{
    const QSignalBlocker block(m_camera);
    m_camera->clear();
    m_camera->addItem(lanText(kRowAllCameras));
    for (int c = 0; c < m_units.size(); ++c)
        m_camera->addItem(lanText(kRowCameraN).arg(c + 1));
    const int shown = m_win ? m_win->selCamera : numCamera;
    m_camera->setCurrentIndex(shown >= 0 && shown < m_units.size() ? shown + 1 : 0);
}

void DrawROIWidget::fillDetections()
{
    // The groups follow the trigger mode and detection count, which the settings screen may change.
    const QSignalBlocker block(m_detect);
    m_detect->clear();
    const CammerSingleton* names = m_units.isEmpty() ? nullptr : m_units.first()->pSingleton;
    for (int g = 0; g < qMin(gDNum, kMaxDetections); ++g) {
        QString text = QString::number(g + 1);
        QString unused;
        if (names)
            names->getCopyParamDescri(g, g, text, unused);
        m_detect->addItem(text);
    }
    const int current = m_win ? m_win->curDetect : 0;
    if (m_win && (current < 0 || current >= m_detect->count()))
        m_win->curDetect = 0;
    m_detect->setCurrentIndex(m_win ? m_win->curDetect : 0);
}

void DrawROIWidget::Restart()
{
    if (!m_win)
        return;
    if (m_win->pIndexButton) {
        setGeometry(m_win->pIndexButton->geometry());
        m_win->pIndexButton->hide();
    } else {
        setGeometry(m_win->width() - kWidth, 0, kWidth, m_win->height());
    }
    // A standing NG alarm stays what the views, the lamp and Modbus show: the editor opens
    // on the live (alarm) image, whose NG areas blink red.
    const bool alarm = m_win->resultState == kResultNgShown || m_win->pageState == kPageAlarm;
    if (!alarm)
        m_win->resultState = kResultSettingRegions;
    show();
    raise();
    fillCameras();
    Reset(true);
    if (alarm)
        SlotChangeSource(SourceLive);
    m_win->ChangeCammer();
}

void DrawROIWidget::Reset(bool resetSource)
{
    for (CammerWidget* unit : qAsConst(m_units)) {
        if (!unit->pSingleton || !unit->pSingletonEdit)
            continue;
        unit->DeselectROI();
        *unit->pSingletonEdit = *unit->pSingleton;
        unit->BackMask();
        unit->blinkPhase = 0;
    }
    if (m_win)
        m_win->drawMode = 0;
    showToolState();
    fillDetections();
    if (resetSource) {
        m_source->setCurrentIndex(SourceTemplate);
        gSource = SourceTemplate;
    }
    refreshViews();
}

void DrawROIWidget::SlotChangeSource(int source)
{
    if (source < SourceTemplate || source > SourceNgRecords)
        return;
    gSource = source;
    if (m_source->currentIndex() != source)
        m_source->setCurrentIndex(source);
    const int group = m_win ? m_win->curDetect : 0;
    for (CammerWidget* unit : qAsConst(m_units)) {
        unit->DeselectROI();
        unit->blinkPhase = 0;
        unit->updateSyncROIText(group);
    }
    if (source == SourceRecentNg)
        SlotAutoChange();
    if (source == SourceOkRecords || source == SourceNgRecords) {
        recordIndex = 0;
        loadRecord();
    }
    refreshViews();
}

void DrawROIWidget::SlotChangeDetect(int group)
{
    if (!m_win || group < 0 || group >= qMin(gDNum, kMaxDetections))
        return;
    m_win->curDetect = group;
    for (CammerWidget* unit : qAsConst(m_units)) {
        unit->DeselectROI();
        unit->updateSyncROIText(group);
    }
    if (gSource == SourceRecentNg)
        SlotAutoChange();
    if (gSource == SourceOkRecords || gSource == SourceNgRecords)
        loadRecord();
    refreshViews();
}

void DrawROIWidget::SlotChangeCamera(int choice)
{
    if (!m_win || choice < 0 || choice > m_units.size())
        return;
    for (CammerWidget* unit : qAsConst(m_units))
        unit->DeselectROI();
    m_win->selCamera = choice == 0 ? numCamera : choice - 1;
    cameraChoice = choice == 0 ? 0 : choice - 1;
    if (gSource == SourceOkRecords || gSource == SourceNgRecords)
        loadRecord();
    m_win->ChangeCammer();
    refreshViews();
}

void DrawROIWidget::startTool(int mode, bool freeHand)
{
    // The panel of the ROI let go goes with it: it would take the touches that draw.
    for (CammerWidget* unit : qAsConst(m_units)) {
        unit->DeselectROI();
        unit->ShowHideROIPara();
    }
    if (!m_win)
        return;
    m_win->drawMode = mode;
    m_win->isFreeHand = freeHand;
    showToolState();
}

void DrawROIWidget::SlotDrawRect() { startTool(kDrawRect, false); }

void DrawROIWidget::SlotDrawCircle() { startTool(kDrawCircle, false); }

void DrawROIWidget::SlotDrawPloygn()
{
    // A polygon in progress is finished first; then the tool starts a new one.
    if (CammerWidget* unit = shownUnit())
        unit->SavePolygon();
    startTool(kDrawPolygon, false);
}

void DrawROIWidget::SlotDrawHand()
{
    if (CammerWidget* unit = shownUnit())
        unit->SavePolygon();
    startTool(kDrawPolygon, true);
}

void DrawROIWidget::startDrawPloygn()
{
    // A continued outline starts afresh: the points of the previous one are not carried over.
    ++polygonStarts;
    if (m_win) {
        m_win->drawMode = kDrawPolygon;
        m_win->isFreeHand = false;
    }
}

void DrawROIWidget::SlotDelete()
{
    for (CammerWidget* unit : unitsInScope()) {
        if (unit->curRoi >= 0) {
            unit->DeleteROI(unit->curRoi);
            refreshViews();
            return;
        }
    }
    SettingsPrompt::warn(lanText(kRowSelectFirst));
}

void DrawROIWidget::SlotMoveAll()
{
    for (CammerWidget* unit : unitsInScope()) {
        if (unit->curRoi >= 0) {
            unit->SlotMoveAll();
            return;
        }
    }
    SettingsPrompt::warn(lanText(kRowSelectFirst));
}

void DrawROIWidget::SlotCopyGroup()
{
    // The store asks before it copies.
    for (CammerWidget* unit : unitsInScope())
        unit->SlotSyncROI();
    refreshViews();
}

void DrawROIWidget::SlotResample()
{
    if (!m_win || !SettingsPrompt::ask(lanText(kRowResampleQuestion)))
        return;
    const int group = m_win->curDetect;
    const QVector<CammerWidget*> units = unitsInScope();
    for (CammerWidget* unit : units)
        unit->SaveReTrainImage(group);
    // Learning runs off the GUI thread; the cycle must not check with half-built models meanwhile.
    pauseDetection(true);
    {
        CComp_DiaWait wait([units, group] {
            for (CammerWidget* unit : units)
                if (unit->pRecong)
                    learnGroup(unit, group);
        }, this);
        wait.exec();
    }
    pauseDetection(false);
    for (CammerWidget* unit : units)
        m_win->syncTemplates(unit->camIndex, group);
    gTempTime = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    m_win->InsertRecord(lanText(kRowResample), QStringLiteral("operate"));
    refreshViews();
}

void DrawROIWidget::AddTemp()
{
    if (!m_win)
        return;
    const int group = m_win->curDetect;
    if (group < 0 || group >= kMaxDetections)
        return;
    // "Add all camera templates with one click": one press teaches every camera, also with one shown alone.
    const bool allCameras = gpWPara && gpWPara->addAllTemplates;
    for (CammerWidget* unit : allCameras ? m_units : unitsInScope()) {
        // Slot 0 is the reference of alignment; the added ones are compared only.
        std::vector<int>& valid = unit->pTemplateValid[group];
        const auto free = std::find(valid.begin() + qMin<size_t>(1, valid.size()), valid.end(), 0);
        if (free == valid.end()) {
            SettingsPrompt::warn(lanText(kRowTemplatesFull));
            continue;
        }
        const int slot = int(free - valid.begin());
        std::memcpy(unit->pTemplate[group][size_t(slot)], unit->pShowBuf, size_t(unit->frameBytes));
        if (!unit->SaveTemplateImage(group, slot)) {
            SettingsPrompt::warn(lanText(kRowSaveFailed));
            continue;
        }
        *free = 1;
        ++unit->templateCount[group];
        if (unit->pRecong)
            unit->pRecong->VarTrain(group);
        m_win->syncTemplates(unit->camIndex, group);
    }
    gTempTime = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    m_win->InsertRecord(lanText(kRowAddTemplate), QStringLiteral("operate"));
    refreshViews();
}

void DrawROIWidget::SlotDeleteIgnorePoint()
{
    if (!m_win || !SettingsPrompt::ask(lanText(kRowDeleteIgnoreQuestion)))
        return;
    const int group = m_win->curDetect;
    if (group < 0 || group >= kMaxDetections)
        return;
    for (CammerWidget* unit : unitsInScope()) {
        if (!unit->pIgnoreMask[group])
            continue;
        std::memset(unit->pIgnoreMask[group], 0, size_t(unit->imagePixels));
        unit->SaveIgnorePoint(group);
        if (unit->pRecong)
            unit->pRecong->VarTrain(group);
        m_win->syncTemplates(unit->camIndex, group);
    }
    refreshViews();
}

void DrawROIWidget::SlotShowHideAlarmPoint()
{
    CammerWidget* unit = shownUnit();
    if (!unit || unit->camOK) {
        SettingsPrompt::warn(lanText(kRowShowOneNg));
        return;
    }
    unit->blinkPhase = unit->blinkPhase == kBlinkIgnorePoints ? 0 : kBlinkIgnorePoints;
    button("alarmPoint")->setText(lanText(unit->blinkPhase == kBlinkIgnorePoints ? kRowShowNg : kRowShowIgnore));
    unit->update();
}

void DrawROIWidget::SlotPrevious()
{
    if (gSource == SourceRecentNg) {
        for (CammerWidget* unit : qAsConst(m_units))
            unit->historyIndex = qMax(0, unit->historyIndex - 1);
        SlotAutoChange();
    } else if (gSource == SourceOkRecords || gSource == SourceNgRecords) {
        recordIndex = qMax(0, recordIndex - 1);
        loadRecord();
    }
    refreshViews();
}

void DrawROIWidget::SlotNext()
{
    const int group = m_win ? m_win->curDetect : 0;
    if (gSource == SourceRecentNg) {
        for (CammerWidget* unit : qAsConst(m_units))
            unit->historyIndex = qMin(qMax(0, unit->historyCount[group] - 1), unit->historyIndex + 1);
        SlotAutoChange();
    } else if (gSource == SourceOkRecords || gSource == SourceNgRecords) {
        recordIndex = qMin(qMax(0, recordCount - 1), recordIndex + 1);
        loadRecord();
    }
    refreshViews();
}

void DrawROIWidget::SlotAutoChange()
{
    const int group = m_win ? m_win->curDetect : 0;
    if (group < 0 || group >= kMaxDetections)
        return;
    for (CammerWidget* unit : qAsConst(m_units)) {
        unit->blinkPhase = 0;
        const int count = qMin(unit->historyCount[group], int(CammerWidget::kHistoryFrames));
        if (count <= 0 || !unit->pShowBuf)
            continue;
        unit->historyIndex = qBound(0, unit->historyIndex, count - 1);
        std::vector<unsigned char> frame(size_t(unit->frameBytes));
        if (unit->pHistory[group].read(unit->historyIndex, frame.data()))
            unit->showFrame(frame.data());
    }
}

QStringList DrawROIWidget::newestFirst(QStringList names)
{
    // The names hold the time they were written, after the first NG ROI number
    // of an NG picture ("2_2026-...") and before the count of a second picture
    // in the same second ("..._2"); neither number must order them.
    static const QRegularExpression kStamp(QStringLiteral("(\\d{4}-\\d\\d-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d)(?:_(\\d+))?\\.jpg$"));
    struct Key
    {
        QString time;
        int second = 0;
    };
    const auto key = [](const QString& name) {
        const QRegularExpressionMatch m = kStamp.match(name);
        return m.hasMatch() ? Key{m.captured(1), m.captured(2).toInt()} : Key{};
    };
    std::stable_sort(names.begin(), names.end(), [&key](const QString& a, const QString& b) {
        const Key ka = key(a), kb = key(b);
        if (ka.time != kb.time)
            return ka.time > kb.time;
        return ka.second != kb.second ? ka.second > kb.second : a > b;
    });
    return names;
}

void DrawROIWidget::loadRecord()
{
    const int group = m_win ? m_win->curDetect : 0;
    recordCamera = m_win && m_win->selCamera < m_units.size() ? qMax(0, m_win->selCamera) : cameraChoice;
    const QString folder = QString::fromLatin1(kRecordFolder)
                               .arg(recordCamera + 1)
                               .arg(group + 1)
                               .arg(gSource == SourceOkRecords ? "OK" : "NG");
    m_recordFiles = newestFirst(QDir(folder).entryList({"*.jpg"}, QDir::Files));
    recordCount = m_recordFiles.size();
    recordIndex = recordCount > 0 ? qBound(0, recordIndex, recordCount - 1) : 0;
    if (recordCount == 0) {
        recordImage = QImage();
        recordText.clear();
        return;
    }
    const QString path = QDir(folder).filePath(m_recordFiles.at(recordIndex));
    recordImage = QImage(path);
    recordText = QFileInfo(path).completeBaseName();
}

void DrawROIWidget::SlotSaveData()
{
    if (!m_win || !SettingsPrompt::ask(lanText(kRowSaveQuestion)))
        return;
    bool allSaved = true;
    QStringList changes;
    for (CammerWidget* unit : qAsConst(m_units)) {
        if (!unit->pSingleton || !unit->pSingletonEdit)
            continue;
        unit->DeselectROI();
        changes << rowChanges(lanText(kRowCameraN).arg(unit->camIndex + 1), unit->pSingleton->storedRows(),
                              unit->pSingletonEdit->storedRows());
        *unit->pSingleton = *unit->pSingletonEdit;
        unit->RestorMask();
        allSaved = unit->pSingleton->SaveDatatoFile() && allSaved;
        if (!unit->pRecong)
            continue;
        for (int g = 0; g < qMin(gDNum, kMaxDetections); ++g)
            if (gpWPara && gpWPara->detectEnable[g])
                learnGroup(unit, g);
    }
    // One "set" record lists every change of this save.
    QString record = lanText(kRowSave);
    if (!changes.isEmpty())
        record += QStringLiteral(": ") + changes.join(QStringLiteral("; "));
    m_win->InsertRecord(record, QStringLiteral("set"));
    if (!allSaved)
        SettingsPrompt::warn(lanText(kRowSaveFailed));
    refreshViews();
}

void DrawROIWidget::SlotReturn()
{
    SettingsPrompt::hideKeypads();
    gSource = -1;
    for (CammerWidget* unit : qAsConst(m_units)) {
        unit->DeselectROI();
        unit->blinkPhase = 0;
        unit->HotCameraUpdateROI();
    }
    hide();
    if (!m_win)
        return;
    m_win->drawMode = 0;
    // An NG shown meanwhile (or before) stays shown.
    if (m_win->resultState == kResultSettingRegions)
        m_win->resultState = kResultOk;
    if (m_win->pIndexButton)
        m_win->pIndexButton->show();
    // Back to all cameras; a standing NG alarm stays until the operator clears it.
    m_win->selCamera = numCamera;
    m_win->ChangeCammer();
    refreshViews();
}


