// ROI parameter panel, ROI selection and geometry tuning of the camera unit.
#include "cammerwidget.h"

#include "cameraunithooks.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "choosebox.h"
#include "colorbutton.h"
#include "combobox.h"
#include "dialogpainter.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "miscfunc.h"
#include "panelflow.h"
#include "roifunctiontable.h"
#include "roishapevisit.h"
#include "slider.h"
#include "statecodes.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QLabel>
#include <QTimer>

#include <cmath>

namespace {

using Field = RoiParamField;

constexpr int kRowFunc = 2;
constexpr int kRowParaSwitch = 3;
constexpr int kRowRoiSwitch = 4;
constexpr int kRowMoveU = 5, kRowMoveD = 6, kRowMoveL = 7, kRowMoveR = 8;
constexpr int kRowHideSet = 12, kRowAllMove = 32, kRowSingleDisp = 34;
constexpr int kRowOuterR = 26, kRowCenter = 27, kRowInnerR = 28, kRowRBPoint = 29, kRowTLPoint = 30;
constexpr int kRowPointN = 31;
constexpr int kRowSyncParam = 709;
constexpr int kRowHide = 749, kRowFineTuning = 750;
constexpr int kRowTooManyRois = 36;
constexpr int kRowCopyQuestion = 38;
constexpr int kDrawHintMs = 3000;
constexpr int kPanelRow = 50;
constexpr int kPanelRowH = 44;
constexpr int kAnchorLift = 26;
constexpr int kMaxOutlinePoints = 8095;
constexpr int kDoubleTapMs = 800;
constexpr int kDoubleTapPx = 20;
constexpr int kScreenBand = 3;

// The bottom row: buttons 75 px high ending 6 px above the view's bottom edge,
// from x = 350 on a wide view.
constexpr int kBottomRowX = 350;
constexpr int kBottomRowH = 75;
constexpr int kBottomRowLift = 80;
constexpr int kPanelX = 400;
constexpr int kPanelGap = 10;
constexpr int kViewMargin = 10;
// The title lines painted at the top of the view (in full-screen coordinates).
constexpr int kTitleBand = 140;  // status line, template time and the delay countdown
constexpr int kFuncLabelPixels = 30;

// The editor's colour legend at the bottom left ends before this x.
constexpr int kLegendRight = 400;
constexpr int kLegendH = 90;

using RowItems = QVector<QPair<QWidget*, int>>;  // a widget and its width

// The shown items' places in rows from the left margin to `right`.
QVector<FlowPlace> placesOfShown(const RowItems& items, int right, QVector<QWidget*>* shown = nullptr)
{
    QVector<int> widths;
    for (const auto& [w, width] : items) {
        if (w->isHidden())
            continue;
        widths << width;
        if (shown)
            *shown << w;
    }
    return flowRows(widths, right - kViewMargin, kPanelGap);
}

int rowCount(const QVector<FlowPlace>& places) { return places.isEmpty() ? 0 : places.last().row + 1; }

// Lays the shown widgets in order in rows of height h, `step` px apart, the
// first row at y. A single row starts at preferredX unless it would pass
// `right`; more rows start at the left margin. Button texts shrink to fit.
// Returns the x the rows start at.
int layInRows(const RowItems& items, int preferredX, int right, int y, int h, int step)
{
    QVector<QWidget*> shown;
    const QVector<FlowPlace> places = placesOfShown(items, right, &shown);
    if (places.isEmpty())
        return right;
    const int x0 = rowCount(places) == 1 ? qBound(kViewMargin, right - flowRowWidth(places, 0), preferredX) : kViewMargin;
    for (int i = 0; i < shown.size(); ++i) {
        shown[i]->setGeometry(x0 + places[i].x, y + places[i].row * step, places[i].width, h);
        if (auto* b = qobject_cast<ColorButton*>(shown[i]))
            b->fitText();
    }
    return x0;
}

// Functions offered for a new ROI, in order of preference.
const int kNewRoiFunctions[] = {1, 4, 5, 6, 7, 8, 9};

bool functionEnabled(int code)
{
    if (!gpWPara)
        return code == 0;
    const WizardPara& p = *gpWPara;
    const int flags[RoiFunctionTable::kFunctionCount] = {
        p.enableDefect,      p.enableSpot,      p.enableIgnoreArea,  p.enableManualLocate,
        p.enableBlackArea,   p.enableWhiteArea, p.enableSimilarity,  p.enableWhiteNumber,
        p.enableBlackNumber, p.enableColorSpots, p.angleCorrection,
    };
    return code >= 0 && code < RoiFunctionTable::kFunctionCount && flags[code] != 0;
}

}  // namespace

bool CammerWidget::askYes(int row)
{
    if (!gpChooseBox)
        return false;
    gpChooseBox->setText(lanText(row));
    return gpChooseBox->exec() == 1;
}

void CammerWidget::warn(int row)
{
    if (!gpWarnBox)
        return;
    gpWarnBox->setText(lanText(row));
    gpWarnBox->exec();
}

// ---------------------------------------------------------------- panel construction

void CammerWidget::buildPanel()
{
    pSliderMinWH = new Slider(0, 10, 1, 25, this, QString());
    pSliderSensitivity = new Slider(0, 100, 1, 25, this, QString());
    pSliderArea = new Slider(0, 1000, 1, 50, this, QString());
    connect(pSliderMinWH, &Slider::valueChanged, this, &CammerWidget::SlotMinWH);
    connect(pSliderSensitivity, &Slider::valueChanged, this, &CammerWidget::SlotSensitivity);
    connect(pSliderArea, &Slider::valueChanged, this, &CammerWidget::SlotArea);

    pLabelFunc = new QLabel(lanText(kRowFunc), this);
    pLabelFunc->setFont(DialogPainter::font(kFuncLabelPixels));
    pLabelFunc->setStyleSheet("color: #4cff4c;");  // bright enough over a dark picture

    auto button = [this](const QString& text, int sizeClass, void (CammerWidget::*slot)(), bool repeat = false) {
        auto* b = new ColorButton(text, this, sizeClass);
        if (repeat)
            b->SetRepeat();
        if (slot)
            connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    pBtnFunc = button(QString(), 3, &CammerWidget::SlotChangeFunc);
    pBtnParaSwitch = button(lanText(kRowParaSwitch), 3, &CammerWidget::SlotChangeParaShow);

    pComboOutN = new ComboBox(this);
    for (int n = 0; n < 4; ++n)
        pComboOutN->addItem(QStringLiteral("N%1").arg(n + 1), n);
    QFont comboFont("wqy-microhei");
    comboFont.setPixelSize(20);
    pComboOutN->setFont(comboFont);
    pComboOutN->setItemHeight(50);
    connect(pComboOutN, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &CammerWidget::SlotOutN);

    pBtnNextROI = button(lanText(kRowRoiSwitch), 3, &CammerWidget::SlotNextROI);
    pBtnObject = button(QString(), 3, &CammerWidget::SlotChangeObject);
    pBtnAdd10 = button(QString(), 3, &CammerWidget::SlotAdd10, true);
    pBtnAdd1 = button(QString(), 3, &CammerWidget::SlotAdd1, true);
    pBtnSub1 = button(QString(), 3, &CammerWidget::SlotSub1, true);
    pBtnSub10 = button(QString(), 3, &CammerWidget::SlotSub10, true);

    pBtnSyncROI = button(lanText(kRowSyncParam), 3, &CammerWidget::SlotSyncROI);
    pBtnSyncParam = button(lanText(kRowSyncParam), 4, &CammerWidget::SlotSyncParam);
    pBtnMove = button(lanText(kRowMoveU), 4, nullptr);
    pBtnMove->setCheckable(true);
    connect(pBtnMove, &QPushButton::toggled, this, [this](bool on) {
        pBtnMove->setChecked(on);
        ShowHideROIPara();
    });
    pBtnMoveT = button(lanText(kRowMoveU), 4, &CammerWidget::SlotMoveT, true);
    pBtnMoveB = button(lanText(kRowMoveD), 4, &CammerWidget::SlotMoveB, true);
    pBtnMoveL = button(lanText(kRowMoveL), 4, &CammerWidget::SlotMoveL, true);
    pBtnMoveR = button(lanText(kRowMoveR), 4, &CammerWidget::SlotMoveR, true);
    pBtnMoveAll = button(QString(), 4, &CammerWidget::SlotMoveAll);

    for (QWidget* w : std::initializer_list<QWidget*>{
             pSliderMinWH, pSliderSensitivity, pSliderArea, pLabelFunc, pBtnFunc, pBtnParaSwitch, pComboOutN,
             pBtnNextROI, pBtnObject, pBtnAdd10, pBtnAdd1, pBtnSub1, pBtnSub10, pBtnSyncROI, pBtnSyncParam,
             pBtnMove, pBtnMoveT, pBtnMoveB, pBtnMoveL, pBtnMoveR, pBtnMoveAll})
        w->hide();
}

// ---------------------------------------------------------------- panel

void CammerWidget::ShowHideROIPara()
{
    if (!pSingletonEdit || !pSliderArea)
        return;
    isSensPreview = false;
    pBtnSyncROI->setVisible(gSource == kSourceEditor);
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || g < 0 || g >= kGroups || curRoi >= pSingletonEdit->roiCount[g]) {
        hideRoiPanel();
        update();
        return;
    }
    const CammerSingleton& s = *pSingletonEdit;
    const int code = (s.roiFunction[g][curRoi] >= 0 && s.roiFunction[g][curRoi] < RoiFunctionTable::kFunctionCount)
                         ? s.roiFunction[g][curRoi] : 0;
    const PanelRows rows = showRoiPanelRows(g, code);
    loadRoiPanelValues(g, code);  // shows and names what the layout then places
    layRoiPanel(g, rows);
    update();
}

// Nothing selected: every control of the panel goes, the move modes reset.
void CammerWidget::hideRoiPanel()
{
    for (QWidget* w : {static_cast<QWidget*>(pSliderSensitivity), static_cast<QWidget*>(pSliderArea),
                       static_cast<QWidget*>(pSliderMinWH), static_cast<QWidget*>(pLabelFunc),
                       static_cast<QWidget*>(pBtnFunc), static_cast<QWidget*>(pBtnParaSwitch),
                       static_cast<QWidget*>(pComboOutN), static_cast<QWidget*>(pBtnNextROI),
                       static_cast<QWidget*>(pBtnObject), static_cast<QWidget*>(pBtnAdd10),
                       static_cast<QWidget*>(pBtnAdd1), static_cast<QWidget*>(pBtnSub1),
                       static_cast<QWidget*>(pBtnSub10), static_cast<QWidget*>(pBtnSyncParam)})
        w->hide();
    pBtnMove->blockSignals(true);
    pBtnMove->setChecked(false);
    pBtnMove->blockSignals(false);
    pBtnMove->hide();
    for (QWidget* w : {pBtnMoveT, pBtnMoveB, pBtnMoveL, pBtnMoveR, pBtnMoveAll})
        w->hide();
    moveMode = 0;
    selNode = 0;
    pBtnMoveAll->setText(lanText(kRowHideSet));
    layBottomRow();
}

int CammerWidget::layBottomRow()
{
    const RowItems row = {{pBtnSyncROI, 180}, {pBtnSyncParam, 180}, {pBtnMove, 110}, {pBtnMoveT, 160},
                          {pBtnMoveB, 160},   {pBtnMoveL, 160},     {pBtnMoveR, 160}, {pBtnMoveAll, 180}};
    const int rows = rowCount(placesOfShown(row, width() - kViewMargin));
    const int top = height() - kBottomRowLift - qMax(0, rows - 1) * (kBottomRowH + kPanelGap);
    const int left = layInRows(row, kBottomRowX, width() - kViewMargin, top, kBottomRowH, kBottomRowH + kPanelGap);
    // Rows that reach the bottom-left corner push the colour legend above them.
    const bool legendAbove = rows > 0 && left < kLegendRight;
    m_legendBottom = legendAbove ? top - kPanelGap : -1;
    if (legendAbove)
        return top - kPanelGap - kLegendH;
    return rows > 0 ? top : height();
}

// Shows the rows the selected ROI's function uses (none while moving).
CammerWidget::PanelRows CammerWidget::showRoiPanelRows(int g, int code)
{
    const bool showAll = gpWPara && gpWPara->showAllParams != 0;
    const bool onlyGeometry = code == 2 || code == 3;
    PanelRows rows;
    rows.sensitivity = moveMode == 0 && !onlyGeometry;
    rows.areaAndMin = moveMode == 0 && !onlyGeometry && code != 6 && !(code == 0 && !showAll);
    bool otherFunction = false;
    for (int c = 1; c < RoiFunctionTable::kFunctionCount; ++c)
        otherFunction = otherFunction || functionEnabled(c);
    const bool showOut = moveMode == 0 && gpWPara
                         && ((g == 0 && gpWPara->ejectorPulseNgNoAlarm) || (g == 1 && gpWPara->cavityNgPulse));

    pSliderSensitivity->setVisible(rows.sensitivity);
    pSliderArea->setVisible(rows.areaAndMin);
    pSliderMinWH->setVisible(rows.areaAndMin);
    pLabelFunc->setVisible(moveMode == 0 && otherFunction);
    pBtnFunc->setVisible(moveMode == 0 && otherFunction);
    for (QWidget* w : {static_cast<QWidget*>(pBtnObject), static_cast<QWidget*>(pBtnAdd10),
                       static_cast<QWidget*>(pBtnAdd1), static_cast<QWidget*>(pBtnSub1),
                       static_cast<QWidget*>(pBtnSub10), static_cast<QWidget*>(pBtnNextROI),
                       static_cast<QWidget*>(pBtnSyncParam)})
        w->setVisible(moveMode == 0);
    pComboOutN->setVisible(showOut);
    if (showOut) {
        pComboOutN->blockSignals(true);
        pComboOutN->setCurrentIndex(qBound(0, pSingletonEdit->roiOutput[curRoi], 3));
        pComboOutN->blockSignals(false);
    }
    return rows;
}

// Block position: above the ROI when it fits, else below, else low on the view,
// always below the title lines and above the bottom row, left of the view's right edge.
void CammerWidget::layRoiPanel(int g, const PanelRows& shown)
{
    const int wide = gLan == 3 ? 30 : 0;
    const RowItems controls = {
        {pLabelFunc, 80 + wide},       {pBtnFunc, 170 + wide},       {pBtnParaSwitch, 170 + wide},
        {pComboOutN, 90},              {pBtnNextROI, 170 + wide},    {pBtnObject, 170 + wide},
        {pBtnAdd10, 90 + wide / 3},    {pBtnAdd1, 90 + wide / 3},    {pBtnSub1, 90 + wide / 3},
        {pBtnSub10, 90 + wide / 3}};
    const int right = width() - kViewMargin;
    const int controlRows = rowCount(placesOfShown(controls, right));
    const int sliders = (shown.sensitivity ? 1 : 0) + (shown.areaAndMin ? 2 : 0);
    const int blockH = kPanelRow * (sliders + controlRows);

    // The panel is a child of the view: the ROI's box in view pixels.
    const QRect box = roiImageRect(*pSingletonEdit, g, curRoi);
    const ViewMapping mapping = viewMapping();
    const int top = int(mapping.toView(QPointF(0, box.top() * screenSH)).y());
    const int bottom = int(mapping.toView(QPointF(0, (box.bottom() + 1) * screenSH)).y());
    const int highest = int(kTitleBand * winSH);
    const int lowest = qMin(gShowH - 70, layBottomRow() - kPanelGap);
    int y;
    if (top - 40 - blockH >= highest)
        y = top - 40 - blockH;
    else if (bottom + 6 + blockH <= lowest)
        y = bottom + 6;
    else
        y = lowest - blockH;
    y = qMax(highest, y);

    const int panelX = qBound(kViewMargin, right - (gShowW / 2 + 424 - kPanelX), kPanelX);
    const int sliderRight = qMin(gShowW / 2 + 424, right);
    for (Slider* slider : {pSliderSensitivity, pSliderArea, pSliderMinWH}) {
        if (slider->isHidden())
            continue;
        slider->setGeometry(QRect(QPoint(panelX, y), QPoint(sliderRight, y + kPanelRowH - 1)));
        y += kPanelRow;
    }
    layInRows(controls, panelX, right, y, kPanelRowH, kPanelRow);
    DialogPainter::fitLabel(pLabelFunc, kFuncLabelPixels);
}

// The sliders, the function name, the move buttons and the step buttons' texts.
void CammerWidget::loadRoiPanelValues(int g, int code)
{
    CammerSingleton& s = *pSingletonEdit;
    isParaShow = false;
    const RoiFunctionInfo& fn = RoiFunctionTable::info(code);
    int* words[3] = {&s.roiSensitivity[g][curRoi], &s.roiArea[g][curRoi], &s.roiMinWH[g][curRoi]};
    Slider* slidersByField[3] = {pSliderSensitivity, pSliderArea, pSliderMinWH};
    for (int f = 0; f < 3; ++f) {
        const Field& field = fn.field[f];
        slidersByField[f]->blockSignals(true);
        slidersByField[f]->Reset(field.min, field.max, 1, RoiFunctionTable::part(*words[f], field.packing, false),
                                 lanText(field.row));
        slidersByField[f]->blockSignals(false);
    }
    pBtnFunc->setText(lanText(fn.nameRow));

    pBtnMove->show();
    pBtnMove->setText(lanText(pBtnMove->isChecked() ? kRowHide : kRowFineTuning));
    for (QWidget* w : {pBtnMoveT, pBtnMoveB, pBtnMoveL, pBtnMoveR, pBtnMoveAll})
        w->setVisible(pBtnMove->isChecked());
    pBtnParaSwitch->setVisible(code == 1 || code == 7 || code == 8 || code == 9);

    const int kind = s.roiShape[g][curRoi];
    const bool radius = kind == CammerSingleton::kShapeCircle && (selNode == 0 || selNode == 1);
    const QStringList steps = radius ? QStringList{"+10", "+1", "-1", "-10"}
                                     : QStringList{"Y -1", "X -1", "Y +1", "X +1"};
    pBtnAdd10->setText(steps[0]);
    pBtnAdd1->setText(steps[1]);
    pBtnSub1->setText(steps[2]);
    pBtnSub10->setText(steps[3]);
    if (kind == CammerSingleton::kShapeRect)
        pBtnObject->setText(lanText(selNode == 1 ? kRowRBPoint : kRowTLPoint));
    else if (kind == CammerSingleton::kShapeCircle)
        pBtnObject->setText(lanText(selNode == 0 ? kRowOuterR : selNode == 1 ? kRowInnerR : kRowCenter));
    else if (kind == CammerSingleton::kShapePolygon)
        pBtnObject->setText(lanText(kRowPointN).arg(selNode + 1));
}

void CammerWidget::updateSyncROIText(int group)
{
    if (!pSingleton || !pBtnSyncROI)
        return;
    int target = 0;
    pSingleton->getCopyParamIndex(group, target);
    QString source, destination;
    pSingleton->getCopyParamDescri(group, target, source, destination);
    pBtnSyncROI->setText(QStringLiteral("同步至\n%1").arg(destination));
}

bool CammerWidget::GetFuncInitParam(int code, int& sensitivity, int& area, int& minWH)
{
    const int systemArea = gpWPara ? gpWPara->area : 0;
    const int systemFilter = gpWPara ? gpWPara->filterSize : 0;
    switch (code) {
    case 1: sensitivity = 80; area = 500; minWH = 12800; return true;
    case 2: sensitivity = 0; area = 0; minWH = 30; return true;
    case 3: sensitivity = 10; area = 0; minWH = 1; return true;
    case 4: sensitivity = 50; area = 0; minWH = 1000; return true;
    case 5: sensitivity = 200; area = 0; minWH = 1000; return true;
    case 6: sensitivity = 80; return true;
    case 7:
    case 8: sensitivity = 128; area = 6553601; minWH = 1; return true;
    case 9: sensitivity = 6553601; area = 6553601; minWH = 6553601; return true;
    case 10: sensitivity = 1; area = 1; minWH = 1; return true;
    default:
        sensitivity = 45;
        area = systemArea;
        minWH = systemFilter;
        return code == 0;
    }
}

void CammerWidget::SlotChangeFunc()
{
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || !pSingletonEdit || g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const int current = s.roiFunction[g][curRoi];
    int next = -1;
    for (int c = qMax(0, current + 1); c < RoiFunctionTable::kFunctionCount && next < 0; ++c)
        next = functionEnabled(c) ? c : -1;
    for (int c = 0; c < RoiFunctionTable::kFunctionCount && next < 0; ++c)
        next = functionEnabled(c) ? c : -1;
    if (next < 0)
        next = 0;
    int sens = 0, area = 0, minWH = 0;
    GetFuncInitParam(next, sens, area, minWH);
    s.roiSensitivity[g][curRoi] = sens;
    s.roiArea[g][curRoi] = area;
    s.roiMinWH[g][curRoi] = minWH;
    s.roiFunction[g][curRoi] = next;
    ShowHideROIPara();
    isParaShow = false;
}

void CammerWidget::startDrawingHint(int value)
{
    gDrawHint = value;
    if (m_win && m_win->hintTimer)
        m_win->hintTimer->start(kDrawHintMs);
}

void CammerWidget::SlotSensitivity(int v)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || !pSingletonEdit || g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const int code = s.roiFunction[g][curRoi];
    if (code == 9) {
        s.roiSensitivity[g][curRoi] = RoiFunctionTable::withPart(s.roiSensitivity[g][curRoi], Field::Halves, isParaShow, v);
    } else {
        s.roiSensitivity[g][curRoi] = v;
        if (code == 1)
            startDrawingHint(int(std::sqrt(double(qMax(0, v)))));
    }
    if (pRecong)
        pRecong->RunTest(g, curRoi);
}

void CammerWidget::SlotArea(int v)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || !pSingletonEdit || g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const int code = s.roiFunction[g][curRoi];
    if (code == 7 || code == 8 || code == 9) {
        s.roiArea[g][curRoi] = RoiFunctionTable::withPart(s.roiArea[g][curRoi], Field::Halves, isParaShow, v);
    } else {
        s.roiArea[g][curRoi] = v;
        startDrawingHint(int(std::sqrt(double(qMax(0, v)))));
    }
    if (pRecong)
        pRecong->RunTest(g, curRoi);
}

void CammerWidget::SlotMinWH(int v)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || !pSingletonEdit || g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const int code = s.roiFunction[g][curRoi];
    if (code == 1) {
        s.roiMinWH[g][curRoi] = RoiFunctionTable::withPart(s.roiMinWH[g][curRoi], Field::Bytes, isParaShow, v);
    } else if (code == 9) {
        s.roiMinWH[g][curRoi] = RoiFunctionTable::withPart(s.roiMinWH[g][curRoi], Field::Halves, isParaShow, v);
    } else {
        s.roiMinWH[g][curRoi] = v;
        startDrawingHint(v);
    }
    if (pRecong)
        pRecong->RunTest(g, curRoi);
}

void CammerWidget::SlotChangeParaShow()
{
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || !pSingletonEdit || g < 0 || g >= kGroups)
        return;
    isParaShow = !isParaShow;
    CammerSingleton& s = *pSingletonEdit;
    const RoiFunctionInfo& fn = RoiFunctionTable::info(s.roiFunction[g][curRoi]);
    const int words[3] = {s.roiSensitivity[g][curRoi], s.roiArea[g][curRoi], s.roiMinWH[g][curRoi]};
    Slider* sliders[3] = {pSliderSensitivity, pSliderArea, pSliderMinWH};
    for (int f = 0; f < 3; ++f) {
        const Field& field = fn.field[f];
        if (field.packing == Field::Whole)
            continue;
        sliders[f]->blockSignals(true);
        sliders[f]->Reset(field.min, field.max, 1, RoiFunctionTable::part(words[f], field.packing, isParaShow),
                          lanText(isParaShow ? field.rowHigh : field.row));
        sliders[f]->blockSignals(false);
    }
}

void CammerWidget::SlotOutN(int n)
{
    if (curRoi >= 0 && curRoi < kRois && pSingletonEdit)
        pSingletonEdit->roiOutput[curRoi] = n;
}

void CammerWidget::SlotSyncParam()
{
    if (pSingletonEdit && m_win)
        pSingletonEdit->syncParam(curRoi);
}

void CammerWidget::SlotSyncROI()
{
    if (pSingletonEdit && m_win)
        pSingletonEdit->copyParam(m_win->curDetect);
}

// ---------------------------------------------------------------- selection

void CammerWidget::setCurRoi(int roi)
{
    if (roi == curRoi)
        return;
    curRoi = roi;
    if (pSingletonEdit)
        pSingletonEdit->setSelectRoi(roi);
}

bool CammerWidget::selectedShapeIsSelected(int group, int roi) const
{
    bool on = false;
    visitRoiShape(*pSingletonEdit, group, roi, [&on](const auto& shape) { on = shape.IsSelected(); });
    return on;
}

void CammerWidget::setShapeSelected(int group, int roi, bool on)
{
    visitRoiShape(*pSingletonEdit, group, roi, [on](auto& shape) { shape.SetSelected(on); });
}

void CammerWidget::clearShapeSelection(int group, int roi) { setShapeSelected(group, roi, false); }

bool CammerWidget::shapeHit(int group, int roi, QPoint p)
{
    bool hit = false;
    visitRoiShape(*pSingletonEdit, group, roi, [&hit, &p](auto& shape) {
        int h = -1;
        hit = shape.Contains(p) || shape.PtInCtrl(p, &h);
    });
    return hit;
}

void CammerWidget::DeselectROI()
{
    drawState = kDrawStateIdle;
    isPolyStarted = false;
    if (!(gpWPara && gpWPara->continuationArea)) {
        if (m_win)
            m_win->drawMode = kDrawNone;
        polyPointCount = 0;
    }
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi >= 0 && pSingletonEdit && g >= 0 && g < kGroups && curRoi < kRois)
        clearShapeSelection(g, curRoi);
    if (curRoi >= 0)
        curRoi = -1;
}

bool CammerWidget::GetSelectedRect()
{
    const int g = m_win ? m_win->curDetect : 0;
    if (!pSingletonEdit || g < 0 || g >= kGroups)
        return false;
    const int count = qBound(0, pSingletonEdit->roiCount[g], static_cast<int>(kRois));
    for (int r = 0; r < count; ++r) {
        if (selectedShapeIsSelected(g, r)) {
            setCurRoi(r);
            return true;
        }
    }
    return false;
}

bool CammerWidget::PtInRegion(QPoint p)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || !pSingletonEdit || g < 0 || g >= kGroups || curRoi >= pSingletonEdit->roiCount[g])
        return false;
    return shapeHit(g, curRoi, p);
}

bool CammerWidget::PtInRect(QPoint p)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (!pSingletonEdit || g < 0 || g >= kGroups)
        return false;
    const int count = qBound(0, pSingletonEdit->roiCount[g], static_cast<int>(kRois));
    const int start = (curRoi >= 0 && curRoi < count) ? curRoi : 0;
    for (int i = 0; i < count; ++i) {
        const int r = (start + i) % count;
        if (shapeHit(g, r, p)) {
            setCurRoi(r);
            setPanelAnchor(g, r);
            pressPoint = p;
            return true;
        }
    }
    return false;
}

bool CammerWidget::PtInRectMove(QPoint p)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (!pSingletonEdit || g < 0 || g >= kGroups)
        return false;
    const int count = qBound(0, pSingletonEdit->roiCount[g], static_cast<int>(kRois));
    for (int r = 0; r < count; ++r) {
        if (shapeHit(g, r, p))
            return true;
    }
    return false;
}

void CammerWidget::SlotNextROI()
{
    const int g = m_win ? m_win->curDetect : 0;
    if (!pSingletonEdit || g < 0 || g >= kGroups)
        return;
    const int count = qBound(0, pSingletonEdit->roiCount[g], static_cast<int>(kRois));
    for (int i = 1; i <= count; ++i) {
        const int r = (qMax(curRoi, -1) + i) % count;
        if (!shapeHit(g, r, pressPoint))
            continue;
        DeselectROI();
        setCurRoi(r);
        setPanelAnchor(g, r);
        setShapeSelected(g, r, true);
        ShowHideROIPara();
        update();
        return;
    }
}

void CammerWidget::SlotChangeObject()
{
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || !pSingletonEdit || g < 0 || g >= kGroups)
        return;
    const CammerSingleton& s = *pSingletonEdit;
    int objects = 0;
    switch (s.roiShape[g][curRoi]) {
    case CammerSingleton::kShapeRect: objects = 2; break;
    case CammerSingleton::kShapeCircle: objects = 3; break;
    case CammerSingleton::kShapePolygon: objects = s.polygonRoi[g][curRoi].nodeCount; break;
    default: break;
    }
    selNode = selNode + 1 >= objects ? 0 : selNode + 1;
    ShowHideROIPara();
    update();
}

// ---------------------------------------------------------------- geometry

void CammerWidget::setPanelAnchor(int group, int roi)
{
    const CammerSingleton& s = *pSingletonEdit;
    QPoint first;
    switch (s.roiShape[group][roi]) {
    case CammerSingleton::kShapePolygon:
        first = s.polygonRoi[group][roi].nodes.isEmpty() ? QPoint() : s.polygonRoi[group][roi].nodes.first();
        break;
    case CammerSingleton::kShapeCircle: first = s.circleRoi[group][roi].rect.topLeft(); break;
    default: first = s.rectRoi[group][roi].rect.topLeft(); break;
    }
    panelX = first.x();
    panelY = first.y() - kAnchorLift;
}

void CammerWidget::refreshShape(int group, int roi)
{
    visitRoiShape(*pSingletonEdit, group, roi, [this, group, roi](auto& shape) {
        shape.setShowA(screenSW, screenSH);
        shape.setImageRect();
        roiMaskEdit[group][roi] = shape.UpdateMask();
    });
    setPanelAnchor(group, roi);
}

void CammerWidget::SlotAdd10() { SlotSize(0); }
void CammerWidget::SlotAdd1() { SlotSize(1); }
void CammerWidget::SlotSub1() { SlotSize(2); }
void CammerWidget::SlotSub10() { SlotSize(3); }

void CammerWidget::SlotSize(int step)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (curRoi < 0 || !pSingletonEdit || g < 0 || g >= kGroups || curRoi >= pSingletonEdit->roiCount[g]
        || step < 0 || step > 3)
        return;
    static const QPoint kCornerStep[4] = {{0, -1}, {-1, 0}, {0, 1}, {1, 0}};
    static const int kRadiusStep[4] = {10, 1, -1, -10};
    CammerSingleton& s = *pSingletonEdit;
    switch (s.roiShape[g][curRoi]) {
    case CammerSingleton::kShapeRect: {
        QRect& r = s.rectRoi[g][curRoi].rect;
        if (selNode == 0)
            r.setTopLeft(r.topLeft() + kCornerStep[step]);
        else
            r.setBottomRight(r.bottomRight() + kCornerStep[step]);
        CheckInRange(&r, gShowW, gShowH, false);
        break;
    }
    case CammerSingleton::kShapeCircle: {
        Circle& c = s.circleRoi[g][curRoi];
        if (selNode == 0) {
            c.radius += kRadiusStep[step];
            c.UpdateRect();
        } else if (selNode == 1) {
            c.innerRadius += kRadiusStep[step];
            c.UpdateRect();
        } else {
            c.rect.translate(kCornerStep[step]);
        }
        CheckInRange(&c.rect, gShowW, gShowH, false);
        c.UpdateAll();
        break;
    }
    case CammerSingleton::kShapePolygon: {
        RePolygon& poly = s.polygonRoi[g][curRoi];
        if (selNode >= poly.nodeCount)
            return;
        QPoint node = poly.nodes[selNode] + kCornerStep[step];
        int x = node.x(), y = node.y();
        CheckInRange(&x, 1, gShowW, gShowH);
        CheckInRange(&y, 0, gShowW, gShowH);
        poly.nodes[selNode] = QPoint(x, y);
        poly.BoundingRect();
        break;
    }
    default:
        return;
    }
    refreshShape(g, curRoi);
    update();
}

void CammerWidget::SlotMoveT() { SlotMove(0, -1); }
void CammerWidget::SlotMoveB() { SlotMove(0, 1); }
void CammerWidget::SlotMoveL() { SlotMove(-1, 0); }
void CammerWidget::SlotMoveR() { SlotMove(1, 0); }

void CammerWidget::SlotMove(int dx, int dy)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (!pSingletonEdit || g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const int count = qBound(0, s.roiCount[g], static_cast<int>(kRois));
    QVector<int> moved;
    if (moveMode == 2) {
        for (int r = 0; r < count; ++r)
            moved << r;
    } else if (curRoi >= 0 && curRoi < count) {
        moved << curRoi;
    }
    // All or nothing: a polygon that would enter the border band stops the whole move.
    for (int r : moved) {
        if (s.roiShape[g][r] != CammerSingleton::kShapePolygon)
            continue;
        for (const QPoint& node : s.polygonRoi[g][r].nodes) {
            const int x = node.x() + dx, y = node.y() + dy;
            if (x < kScreenBand || y < kScreenBand || x >= gShowW - kScreenBand || y >= gShowH - kScreenBand)
                return;
        }
    }
    for (int r : moved) {
        switch (s.roiShape[g][r]) {
        case CammerSingleton::kShapePolygon: {
            RePolygon& poly = s.polygonRoi[g][r];
            for (QPoint& node : poly.nodes)
                node += QPoint(dx, dy);
            poly.BoundingRect();
            break;
        }
        case CammerSingleton::kShapeCircle: {
            Circle& c = s.circleRoi[g][r];
            c.rect.translate(dx, dy);
            CheckInRange(&c.rect, gShowW, gShowH, true);
            c.UpdateAll();
            break;
        }
        case CammerSingleton::kShapeRect: {
            QRect& rect = s.rectRoi[g][r].rect;
            rect.translate(dx, dy);
            CheckInRange(&rect, gShowW, gShowH, true);
            break;
        }
        default:
            continue;
        }
        refreshShape(g, r);
    }
    ShowHideROIPara();
    update();
}

void CammerWidget::SlotMoveAll()
{
    if (curRoi < 0)
        return;
    moveMode = (moveMode + 1) % 3;
    static const int kRows[3] = {kRowHideSet, kRowAllMove, kRowSingleDisp};
    pBtnMoveAll->setText(lanText(kRows[moveMode]));
    ShowHideROIPara();
}

void CammerWidget::initNewRoiParams(int group, int n)
{
    CammerSingleton& s = *pSingletonEdit;
    if (n == 0) {
        const int code = firstEnabledFunction();
        int sens = 0, area = 0, minWH = 0;
        GetFuncInitParam(code, sens, area, minWH);
        s.roiFunction[group][n] = code;
        s.roiSensitivity[group][n] = sens;
        s.roiArea[group][n] = area;
        s.roiMinWH[group][n] = minWH;
    } else {
        s.roiMinWH[group][n] = s.roiMinWH[group][n - 1];
        s.roiSensitivity[group][n] = s.roiSensitivity[group][n - 1];
        s.roiArea[group][n] = s.roiArea[group][n - 1];
        s.roiFunction[group][n] = s.roiFunction[group][n - 1];
    }
    if (group == 0)
        s.roiOutput[n] = 0;
    roiValue[group][n] = 0;
}

int CammerWidget::firstEnabledFunction() const
{
    for (int code : kNewRoiFunctions) {
        if (functionEnabled(code))
            return code;
    }
    return 0;
}

void CammerWidget::SlotCopyArea(QPoint p)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (!pSingletonEdit || g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const int count = qBound(0, s.roiCount[g], static_cast<int>(kRois));
    if (count == 0 || !askYes(kRowCopyQuestion))
        return;
    if (count >= kRois) {
        warn(kRowTooManyRois);
        return;
    }
    int source = curRoi;
    if (source < 0 || source >= count)
        source = (prevRoi >= 0 && prevRoi < count) ? prevRoi : count - 1;
    const int n = count;
    const int kind = s.roiShape[g][source];
    switch (kind) {
    case CammerSingleton::kShapePolygon: {
        RePolygon copy = s.polygonRoi[g][source];
        const QPoint shift = copy.nodes.isEmpty() ? QPoint() : p - copy.nodes.first();
        for (QPoint& node : copy.nodes) {
            int x = node.x() + shift.x(), y = node.y() + shift.y();
            CheckInRange(&x, 1, gShowW, gShowH);
            CheckInRange(&y, 0, gShowW, gShowH);
            node = QPoint(x, y);
        }
        copy.BoundingRect();
        copy.SetHand(s.polygonRoi[g][source].getHand());
        s.polygonRoi[g][n] = copy;
        break;
    }
    case CammerSingleton::kShapeCircle: {
        Circle copy = s.circleRoi[g][source];
        copy.rect.translate(p - copy.rect.center());
        CheckInRange(&copy.rect, gShowW, gShowH, true);
        copy.UpdateAll();
        s.circleRoi[g][n] = copy;
        break;
    }
    default: {
        ClustomRect copy = s.rectRoi[g][source];
        copy.rect.translate(p - copy.rect.center());
        CheckInRange(&copy.rect, gShowW, gShowH, true);
        s.rectRoi[g][n] = copy;
        break;
    }
    }
    s.roiShape[g][n] = kind;
    s.roiMinWH[g][n] = s.roiMinWH[g][source];
    s.roiSensitivity[g][n] = s.roiSensitivity[g][source];
    s.roiArea[g][n] = s.roiArea[g][source];
    s.roiFunction[g][n] = s.roiFunction[g][source];
    roiValue[g][n] = 0;
    if (g == 0)
        s.roiOutput[n] = s.roiOutput[source];
    refreshShape(g, n);
    setShapeSelected(g, n, true);
    setShapeSelected(g, source, false);
    s.roiCount[g] = n + 1;
    setCurRoi(n);
    ShowHideROIPara();
    update();
}

void CammerWidget::SavePolygon()
{
    if (drawState != kDrawStateShape || !m_win || m_win->drawMode != kDrawPolygon || !pSingletonEdit)
        return;
    const int g = m_win->curDetect;
    if (g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    if (s.roiCount[g] >= kRois) {
        warn(kRowTooManyRois);
        return;
    }
    if (polyPointCount < 3) {
        polyPointCount = 0;
        return;
    }
    const int points = qMin(polyPointCount, kMaxOutlinePoints);
    const int n = s.roiCount[g];
    RePolygon poly(points, polyPoints);
    poly.SetHand(m_win->isFreeHand);
    s.polygonRoi[g][n] = poly;
    s.roiShape[g][n] = CammerSingleton::kShapePolygon;
    refreshShape(g, n);
    s.polygonRoi[g][n].SetSelected(true);
    initNewRoiParams(g, n);
    s.roiCount[g] = n + 1;
    setCurRoi(n);
    setPanelAnchor(g, n);
    isPolyStarted = false;
    drawState = kDrawStateIdle;
    if (!(gpWPara && gpWPara->continuationArea && m_win->isFreeHand))
        m_win->drawMode = kDrawNone;
    polyPointCount = 0;
    ShowHideROIPara();
    update();
}

void CammerWidget::SlotCheckDoubleClicked(QPoint p)
{
    const bool second = m_haveTap && m_lastTap.elapsed() < kDoubleTapMs
                        && std::abs(p.x() - m_lastTapPoint.x()) < kDoubleTapPx
                        && std::abs(p.y() - m_lastTapPoint.y()) < kDoubleTapPx;
    m_haveTap = true;
    m_lastTap.start();
    m_lastTapPoint = p;
    const auto& restartTool = CameraUnitHooks::instance().editorToolRestarted;
    if (!second || !(gpWPara && gpWPara->continuationArea) || gSource != kSourceEditor || !m_win || !restartTool)
        return;
    switch (m_win->drawMode) {
    case kDrawRect: restartTool(EditorTool::Rect); break;
    case kDrawCircle: restartTool(EditorTool::Circle); break;
    case kDrawPolygon:
        if (m_win->isFreeHand) {
            restartTool(EditorTool::Hand);
        } else {
            polyPointCount = qMax(0, polyPointCount - 1);
            isPolyDblTap = true;
            restartTool(EditorTool::Polygon);
        }
        break;
    default:
        break;
    }
}

void CammerWidget::MUpdateXYV(int x, int y)
{
    if (!m_win)
        return;
    const QPoint display = viewMapping().toDisplay(QPointF(x, y));
    const int ix = int(std::floor(display.x() / ShapeGeometry::safeScale(screenSW)));
    const int iy = int(std::floor(display.y() / ShapeGeometry::safeScale(screenSH)));
    m_win->pickX = ix;
    m_win->pickY = iy;
    if (ix < 0 || iy < 0 || ix >= imageW || iy >= imageH || !pShowBuf)
        return;
    const size_t at = static_cast<size_t>(iy) * imageW + ix;
    if (isColor) {
        quint32 word = 0;
        std::memcpy(&word, pShowBuf + 4 * at, 4);
        m_win->pickValue = int(word);
    } else {
        m_win->pickValue = pShowBuf[at];
    }
}

QPoint CammerWidget::getPointsCenter() const
{
    int minX = 999999, minY = 999999, maxX = 0, maxY = 0;
    for (int i = 0; i < polyPointCount; ++i) {
        minX = qMin(minX, polyPoints[i].x());
        maxX = qMax(maxX, polyPoints[i].x());
        minY = qMin(minY, polyPoints[i].y());
        maxY = qMax(maxY, polyPoints[i].y());
    }
    return QPoint((minX + maxX) / 2, (minY + maxY) / 2);
}

void CammerWidget::BackMask()
{
    for (int g = 0; g < qMin(gDNum, static_cast<int>(kGroups)); ++g)
        for (int r = 0; r < kRois; ++r)
            roiMaskEdit[g][r] = roiMask[g][r];
}

void CammerWidget::RestorMask()
{
    for (int g = 0; g < qMin(gDNum, static_cast<int>(kGroups)); ++g)
        for (int r = 0; r < kRois; ++r) {
            // A region saved without the mask of its shape would fail every check.
            if (pSingletonEdit && r < pSingletonEdit->roiCount[g]) {
                const QRect box = roiImageRect(*pSingletonEdit, g, r);
                if (roiMaskEdit[g][r].empty() || roiMaskEdit[g][r].size() != cv::Size(box.width(), box.height()))
                    visitRoiShape(*pSingletonEdit, g, r,
                                  [this, g, r](const auto& shape) { roiMaskEdit[g][r] = shape.UpdateMask(); });
            }
            roiMask[g][r] = roiMaskEdit[g][r];
        }
}

void CammerWidget::TimerShowAlarm()
{
    if (camOK) {
        blinkPhase = 0;
        pTimerShowAlarm->stop();
    } else if (blinkPhase == 0 || blinkPhase == 1) {
        blinkPhase = 1 - blinkPhase;
    }
    update();
}
