// The camera view: frame, NG and ignore tints, ROI outlines with labels, status lines.
#include "cammerwidget.h"

#include "cameraunithooks.h"
#include "cammersingleton.h"
#include "globals.h"
#include "headerlines.h"
#include "mainwindowbase.h"
#include "miscfunc.h"
#include "roifunctiontable.h"
#include "roishapevisit.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QPainter>
#include <QTimer>

#include <cmath>
#include <cstring>

namespace {

constexpr int kMaxLabelledRois = 37;  // from this many ROIs on, labels lose the parameter part
constexpr int kFontTitle = 35;
constexpr int kFontResult = 100;
constexpr int kFontCountdown = 45;
constexpr int kFontRoi = 30;
constexpr float kCountdownFloor = 0.02f;
const QColor kAreaColour("#E9967A");
// The filter swatch is pure blue; its caption a lighter blue readable on grey.
const QColor kFilterLegendColour("#6fa8ff");
const QRgb kTintRed = qRgb(255, 0, 0);
const QRgb kTintCyan = qRgb(0, 255, 255);

// Language rows of the view.
constexpr int kRowOkRecords = 216, kRowNgRecords = 217, kRowRecordTitle = 218;
constexpr int kRowOkImages = 699, kRowNgImages = 700;
constexpr int kRowResampling = 310, kRowStopping = 311, kRowDetecting = 312, kRowDetected = 528, kRowWaiting = 529;
constexpr int kRowCamStatus = 313, kRowLately = 314, kRowTemplates = 315, kRowCounters = 316;
constexpr int kRowRecheck = 701, kRowFilterSize = 22, kRowArea = 24, kRowDoubleClick = 711, kRowColour = 712;

bool timerRunning(const QTimer* t) { return t && t->isActive(); }

QFont viewFont(int pixels)
{
    QFont font("wqy-microhei");
    font.setPixelSize(pixels);
    font.setWeight(50);
    return font;
}


}  // namespace

void CammerWidget::drawLabel(QPainter& painter, const QRect& box, const QString& text)
{
    // Left-aligned and vertically centred like drawText(box, AlignLeft | AlignVCenter),
    // without a text layout per label (a view may carry 100 of them).
    const QFontMetrics metrics = painter.fontMetrics();
    const int baseline = box.top() + (box.height() + metrics.ascent() - metrics.descent()) / 2;
    painter.drawText(QPoint(box.left(), baseline), text);
}

void CammerWidget::frameToRGBA(const unsigned char* frame)
{
    m_paintCache.frame = 0;  // the pixels no longer hold the last painted frame
    QImage& pixels = m_display.image(imageW, imageH);
    if (!pixels.isNull())
        frameToRGB32(frame, reinterpret_cast<QRgb*>(pixels.bits()));
}

void CammerWidget::frameToRGB32(const unsigned char* frame, QRgb* dst) const
{
    // Opaque pixels: the frames leave byte 3 unused, and a scaled RGB32 image
    // with alpha 0 would be drawn transparent.
    const int n = imagePixels;
    if (isColor) {
        const auto* src = reinterpret_cast<const quint32*>(frame);
        for (int i = 0; i < n; ++i)
            dst[i] = src[i] | 0xFF000000u;
    } else {
        for (int i = 0; i < n; ++i)
            dst[i] = 0xFF000000u | (0x010101u * frame[i]);
    }
}

void CammerWidget::tintBoxes(const QRect& imageBox, const unsigned char* mask, QRgb colour)
{
    // Boxes near the edge may reach past the frame: clip before touching pixels.
    const QRect box = imageBox.intersected(QRect(0, 0, imageW, imageH));
    QImage& image = m_display.image(imageW, imageH);
    if (box.isEmpty() || !mask || image.isNull())
        return;
    auto* pixels = reinterpret_cast<QRgb*>(image.bits());
    for (int y = box.top(); y <= box.bottom(); ++y) {
        const size_t row = static_cast<size_t>(y) * imageW;
        for (int x = box.left(); x <= box.right(); ++x) {
            if (mask[row + x])
                pixels[row + x] = colour;
        }
    }
}

QString CammerWidget::detectionName(int group) const
{
    const int trigMode = gpWPara ? gpWPara->trigMode : 0;
    if (trigMode == 1 || trigMode == 2)
        return lanText(372 + group);
    if (trigMode == kAllGroupsTrigMode)
        return lanText(477 + group);
    return lanText(263 + group);
}

QString CammerWidget::roiParamText(int group, int r, LabelPlace place) const
{
    const bool editor = place == LabelPlace::Editor;
    const CammerSingleton& s = editor ? *pSingletonEdit : *pSingleton;
    const WizardPara* p = gpWPara;
    const bool showAll = p && p->showAllParams;
    const int sens = s.roiSensitivity[group][r];
    const int area = s.roiArea[group][r];
    const int minWH = s.roiMinWH[group][r];
    const auto low16 = [](int v) { return static_cast<unsigned>(v) & 0xFFFFu; };
    const auto high16 = [](int v) { return (static_cast<unsigned>(v) >> 16) & 0xFFFFu; };
    switch (s.roiFunction[group][r]) {
    case 0:
        if (showAll)
            return editor ? QStringLiteral("%1,%2,%3").arg(sens).arg(area).arg(minWH) : QString::number(area);
        return editor ? QStringLiteral("%1, %2, %3").arg(sens).arg(p ? p->area : 0).arg(p ? p->filterSize : 0)
                      : QString::number(p ? p->area : 0);
    case 1:
        return editor ? QStringLiteral("%1--%2,%3--%4").arg(sens).arg(area).arg(minWH & 0xFF).arg((minWH >> 8) & 0xFF)
                      : QStringLiteral("%1--%2").arg(sens).arg(area);
    case 4:
    case 5:
        // The live view adds the minimum width/height; the NG image shows the area alone.
        if (editor)
            return QStringLiteral("%1, %2").arg(sens & 0xFF).arg(area);
        return place == LabelPlace::View ? QStringLiteral("%1--%2").arg(area).arg(minWH) : QString::number(area);
    case 6:
        return QString::number(sens);
    case 7:
    case 8:
        return editor ? QStringLiteral("%1,%2--%3,%4").arg(sens & 0xFF).arg(low16(area)).arg(high16(area)).arg(minWH)
                      : QStringLiteral("%1--%2").arg(low16(area)).arg(high16(area));
    case 9:
        return QStringLiteral("%1, %2").arg(p ? p->minColorArea : 0).arg(p ? p->maxColorArea : 0);
    default:
        return QString::number(area);
    }
}

QString CammerWidget::roiLabel(int group, int r, int count, LabelPlace place) const
{
    const QString value = QString::number(roiValue[group][r]);
    return count < kMaxLabelledRois ? QStringLiteral("%1: %2 / %3 ").arg(r + 1).arg(roiParamText(group, r, place), value)
                                    : QStringLiteral("%1: %2").arg(r + 1).arg(value);
}

QString CammerWidget::statusWord(QPainter& painter, int g, bool full) const
{
    if (reTrainPending[g]) {
        painter.setPen(Qt::cyan);
        return lanText(kRowResampling);
    }
    if (m_win->runState == kRunStopped) {
        painter.setPen(Qt::red);
        return lanText(kRowStopping) + (full && gisTempAlarm ? QStringLiteral("   温度报警") : QString());
    }
    painter.setPen(Qt::green);
    if (!full)
        return lanText(kRowDetecting);
    if (m_win->recheckActive)
        return lanText(kRowRecheck).arg((gpWPara ? gpWPara->recheckTimes : 0) - m_win->recheckMade[g]);
    static const int kDetectStateRows[4] = {-1, kRowDetecting, kRowDetected, kRowWaiting};
    const int state = m_win->detectState;
    return state >= 1 && state <= 3 ? lanText(kDetectStateRows[state]) : QString();
}

void CammerWidget::paintEvent(QPaintEvent*)
{
    // The view is opaque, so that a new frame repaints the view alone and not
    // the window behind it: whatever the frame leaves uncovered is painted
    // black here, as the window's own background is.
    QPainter painter(this);
    const bool camera = gSource != kSourceOkRecords && gSource != kSourceNgRecords && gSource != kSourceRecentNg
                        && camIndex < numCamera;
    if (!isOpen || !pShowBuf || !m_win || !camera || !frameCoversView())
        painter.fillRect(rect(), Qt::black);
    if (!isOpen || !pShowBuf || !m_win)
        return;
    painter.setFont(viewFont(kFontTitle));
    if (gSource == kSourceOkRecords || gSource == kSourceNgRecords)
        paintRecordView(painter);
    else if (gSource == kSourceRecentNg)
        paintRecentNg(painter);
    else if (camIndex < numCamera)
        paintCameraView(painter);
}

void CammerWidget::paintRecordView(QPainter& painter)
{
    const auto& recordBrowser = CameraUnitHooks::instance().recordBrowser;
    const std::optional<RecordBrowserView> editor = recordBrowser ? recordBrowser() : std::nullopt;
    const QString title = lanText(gSource == kSourceOkRecords ? kRowOkRecords : kRowNgRecords);
    painter.setFont(viewFont(kFontTitle));
    painter.setPen(Qt::green);
    if (!editor)
        return;
    if (editor->count >= 1 && !editor->image.isNull()) {
        painter.save();
        painter.translate(m_win->zoomX, m_win->zoomY);
        painter.scale(m_win->zoomScale, m_win->zoomScale);
        painter.drawImage(rect(), editor->image);
        painter.restore();
    }
    const QString name = detectionName(m_win->curDetect);
    if (gLan == 3) {
        HeaderLines header(painter, width(), 40, 45);
        header.draw(lanText(kRowRecordTitle).arg(editor->camera + 1).arg(name), 5);
        header.newLine();
        header.draw(editor->text, 655);
        return;
    }
    HeaderLines header(painter, width(), 40, 45);
    header.draw(title + lanText(kRowRecordTitle).arg(editor->camera + 1).arg(name), 5);
    header.draw(QStringLiteral("%1 %2 / %3")
                    .arg(lanText(gSource == kSourceOkRecords ? kRowOkImages : kRowNgImages))
                    .arg(editor->index + 1)
                    .arg(editor->count),
                705);
    header.draw(editor->text, 1205);
}

void CammerWidget::paintRecentNg(QPainter& painter)
{
    frameToRGBA(pShowBuf);
    painter.save();
    painter.translate(m_win->zoomX, m_win->zoomY);
    painter.scale(m_win->zoomScale, m_win->zoomScale);
    painter.drawImage(rect(), m_display.image(imageW, imageH));
    painter.restore();
    const int g = qBound(0, m_win->curDetect, kGroups - 1);
    const QString status = statusWord(painter, g, false);
    painter.setFont(viewFont(kFontTitle));
    HeaderLines header(painter, width(), 40, 40);
    header.draw(lanText(kRowCamStatus).arg(camIndex + 1).arg(detectionName(g), status), 5);
    painter.setPen(Qt::green);
    header.draw(lanText(kRowLately).arg(detectionName(g)).arg(historyIndex + 1)
                    .arg(qMin(historyCount[g], static_cast<int>(kHistoryFrames))),
                700);
    header.newLine();
    if (historyIndex >= 0 && historyIndex < kHistoryFrames)
        header.draw(historyTime[g][historyIndex], 5);
}

bool CammerWidget::describeView(ViewPaint& view) const
{
    view.editor = gSource == kSourceEditor;
    view.store = view.editor ? pSingletonEdit : pSingleton;
    if (!view.store || !m_win)
        return false;
    view.group = qBound(0, view.editor ? m_win->curDetect : m_win->checkDetect, kGroups - 1);
    view.count = qBound(0, view.store->roiCount[view.group], static_cast<int>(kRois));
    view.page = m_win->pageState;
    view.alarmEditor = view.page == kPageAlarm && gSource == kSourceLive;
    view.selected = camIndex == m_win->selCamera;
    view.para = gpWPara;
    return true;
}

void CammerWidget::paintCameraView(QPainter& painter)
{
    ViewPaint view;
    if (!describeView(view))
        return;

    painter.save();
    if (view.selected)
        zoomPainter(painter);
    paintFrameLayer(painter, view);
    paintResultWord(painter, view);
    QString keptLabel;
    if (view.page == kPageLive || view.page == kPageOk || view.editor || view.alarmEditor)
        keptLabel = paintRoiLayer(painter, view);
    painter.restore();

    paintStatusTexts(painter, view, keptLabel);
    if (drawState == kDrawStateShape)
        paintShapeInProgress(painter, view);
}

void CammerWidget::zoomPainter(QPainter& painter) const
{
    painter.translate(m_win->zoomX, m_win->zoomY);
    painter.scale(m_win->zoomScale, m_win->zoomScale);
}

void CammerWidget::displayPainter(QPainter& painter) const { painter.setTransform(viewMapping().transform()); }

QRect CammerWidget::viewRoiBox(const ViewPaint& view, int r) const
{
    return roiImageRect(*view.store, view.group, r);
}

CammerWidget::FrameLayer CammerWidget::frameLayer(const ViewPaint& view) const
{
    FrameLayer f;
    f.tintNg = (!camOK && timerRunning(m_win->resultTimer)) || (view.alarmEditor && blinkPhase == 0);
    f.tintIgnored = view.editor || (view.alarmEditor && blinkPhase == 2);
    f.tintPreview = isSensPreview && curRoi >= 0 && curRoi < view.count;
    f.tinted = f.tintNg || f.tintIgnored || f.tintPreview;
    f.sameSize = imageW == gShowW && imageH == gShowH;
    const bool zoomed = view.selected && (m_win->zoomScale != 1.0 || m_win->zoomX != 0 || m_win->zoomY != 0);
    f.direct = f.sameSize || zoomed || size().isEmpty();
    // An untinted grey frame shown scaled is scaled from its own bytes: the
    // same pixels as from the 32-bit copy, without making that copy.
    f.greyScaled = !isColor && !f.tinted && !f.direct;
    const WizardPara* p = view.para;
    f.showTemplate = p && p->NgShowSwitch && !camOK && view.alarmEditor && blinkPhase == 1 && !pTemplate[view.group].empty();
    return f;
}

bool CammerWidget::frameCoversView() const
{
    // Only the frame scaled to the view's size, drawn without zoom, is known
    // to cover every pixel.
    ViewPaint view;
    if (!describeView(view))
        return false;
    const FrameLayer f = frameLayer(view);
    return !f.direct && !f.showTemplate;
}

// The frame with its NG and ignore tints, or template 0 in the alarm view's second blink phase.
void CammerWidget::paintFrameLayer(QPainter& painter, const ViewPaint& view)
{
    const int g = view.group;
    const FrameLayer f = frameLayer(view);
    const bool tintNg = f.tintNg, tintIgnored = f.tintIgnored, tintPreview = f.tintPreview, tinted = f.tinted;
    const bool sameSize = f.sameSize, direct = f.direct, greyScaled = f.greyScaled;
    // An untinted frame is converted (and scaled) once, however often the view repaints.
    const bool reuse = !tinted && !m_paintCache.tinted && (greyScaled || m_paintCache.converted)
                       && m_paintCache.frame == m_shownSerial;
    if (!reuse) {
        if (!greyScaled) {
            frameToRGBA(pShowBuf);
            if (tintNg) {
                for (int r = 0; r < view.count; ++r) {
                    if (!roiResult[g][r])
                        tintBoxes(viewRoiBox(view, r), pSensMask, kTintRed);
                }
            }
            if (tintIgnored) {
                for (int r = 0; r < view.count; ++r)
                    tintBoxes(viewRoiBox(view, r), pIgnoreMask[g], kTintCyan);
            }
            if (tintPreview)
                tintBoxes(viewRoiBox(view, curRoi), pSensMask, kTintCyan);
        } else {
            // Scaled from the grey bytes: the 32-bit pixels go back to the system.
            m_display.release();
        }
        m_paintCache.frame = m_shownSerial;
        m_paintCache.converted = !greyScaled;
        m_paintCache.tinted = tinted;
        m_paintCache.scaled = QImage();
    }

    // Drawn straight into the widget's rectangle: no scaled copy per paint.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !sameSize);
    if (f.showTemplate) {
        const QImage tmpl = isColor ? QImage(pTemplate[g][0], imageW, imageH, 4 * imageW, QImage::Format_RGB32)
                                    : QImage(pTemplate[g][0], imageW, imageH, imageW, QImage::Format_Grayscale8);
        painter.drawImage(rect(), tmpl);
        return;
    }
    if (direct) {
        painter.drawImage(rect(), m_display.image(imageW, imageH));
        return;
    }
    // Without zoom the smooth scaling is done once per frame and kept.
    if (m_paintCache.scaled.size() != size()) {
        const QImage source = m_paintCache.converted
                                  ? m_display.image(imageW, imageH)
                                  : QImage(pShowBuf, imageW, imageH, imageW, QImage::Format_Grayscale8);
        m_paintCache.scaled = source.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    painter.drawImage(rect().topLeft(), m_paintCache.scaled);
}

// The large OK / NG word.
void CammerWidget::paintResultWord(QPainter& painter, const ViewPaint& view)
{
    const int page = view.page;
    if (!(page == kPageOk || (gSource == kSourceLive && page >= kPageLive && page <= kPageAlarm)))
        return;
    painter.save();
    painter.scale(winSW, winSH);
    painter.setFont(viewFont(kFontResult));
    painter.setPen(camOK ? Qt::green : Qt::red);
    painter.drawText(QPoint(5, 200), camOK ? QStringLiteral("OK") : QStringLiteral("NG"));
    painter.restore();
}

// The editor's legend of the filter and area colours at the bottom left: the
// swatches stand right of the longer caption, the values right of the swatches.
void CammerWidget::paintEditorLegend(QPainter& painter, const WizardPara* p)
{
    const int h = m_legendBottom >= 0 ? m_legendBottom + 15 : height() - 1;
    const bool showAll = p && p->showAllParams;
    const QString captions[2] = {QStringLiteral("%1 :").arg(lanText(kRowFilterSize)),
                                 QStringLiteral("%1 :").arg(lanText(kRowArea))};
    const int captionW = qMax(150, qMax(painter.fontMetrics().horizontalAdvance(captions[0]),
                                        painter.fontMetrics().horizontalAdvance(captions[1])) + 4);
    const int swatchX = 10 + captionW;
    const struct
    {
        int top;
        QColor text, swatch;
        int value;
    } lines[2] = {{h - 89, kFilterLegendColour, Qt::blue, p ? p->filterSize : 0},
                  {h - 44, kAreaColour, kAreaColour, p ? p->area : 0}};
    for (int i = 0; i < 2; ++i) {
        painter.setPen(lines[i].text);
        painter.drawText(QRect(10, lines[i].top, captionW, 30), Qt::AlignLeft | Qt::AlignVCenter, captions[i]);
        painter.fillRect(QRect(swatchX, lines[i].top, 30, 30), lines[i].swatch);
        if (!showAll)
            painter.drawText(QRect(swatchX + 45, lines[i].top, 150, 30), Qt::AlignLeft | Qt::AlignVCenter,
                             QString::number(lines[i].value));
    }
}

// Size marks of the filter and the area, a quarter box width left and right of
// the centre, and the "double click to end" hint while drawing goes on.
void CammerWidget::paintRoiSizeMarks(QPainter& painter, const ViewPaint& view, int r)
{
    const CammerSingleton* store = view.store;
    const WizardPara* p = view.para;
    const int g = view.group;
    const int fn = store->roiFunction[g][r];
    const QRect box = viewRoiBox(view, r);
    int filterSide = 0, areaSide = 0;
    if (p && !p->showAllParams) {
        filterSide = p->filterSize;
        areaSide = int(std::sqrt(double(qMax(0, p->area))));
    } else if (fn == 0) {
        filterSide = store->roiMinWH[g][r];
        areaSide = int(std::sqrt(double(qMax(0, store->roiArea[g][r]))));
    } else if (fn == 7 || fn == 8) {
        filterSide = 2 * store->roiMinWH[g][r] + 1;
    }
    const QPointF centre = QRectF(box).center();
    painter.save();
    displayPainter(painter);
    auto mark = [&](double cx, int side, const QColor& colour) {
        if (side <= 0)
            return;
        // In display coordinates, like the editor's shapes.
        const QRectF square((cx - side / 2.0) * screenSW, (centre.y() - side / 2.0) * screenSH,
                            side * screenSW, side * screenSH);
        painter.fillRect(square, colour);
    };
    mark(centre.x() - box.width() / 4.0, filterSide, Qt::blue);
    mark(centre.x() + box.width() / 4.0, areaSide, kAreaColour);
    const int mode = m_win->drawMode;
    if (p && p->continuationArea && curRoi >= 0
        && (mode == kDrawRect || mode == kDrawCircle || (mode == kDrawPolygon && m_win->isFreeHand))) {
        painter.setPen(Qt::green);
        const QPoint c(int(centre.x() * screenSW), int(centre.y() * screenSH));
        painter.drawText(QRect(c - QPoint(200, 20), QSize(400, 40)), Qt::AlignCenter, lanText(kRowDoubleClick));
    }
    painter.restore();
}

// Draws ROI r's outline (and the selected polygon node in the editor);
// returns whether it gets a label and moves anchor to its label corner.
bool CammerWidget::paintRoiOutline(QPainter& painter, const ViewPaint& view, int r, QPoint& anchor)
{
    const CammerSingleton* store = view.store;
    const int g = view.group;
    switch (store->roiShape[g][r]) {
    case CammerSingleton::kShapePolygon: {
        const RePolygon& poly = store->polygonRoi[g][r];
        poly.Draw(painter);
        if (!poly.nodes.isEmpty())
            anchor = poly.nodes.first();
        if (view.editor && r == curRoi && selNode < poly.nodeCount) {
            const QPoint node = poly.nodes[selNode];
            painter.setPen(QPen(Qt::cyan, 2));
            painter.drawEllipse(QRect(node - QPoint(5, 5), node + QPoint(4, 4)));
        }
        return !view.editor;  // polygons in the editor get no label
    }
    case CammerSingleton::kShapeCircle:
        store->circleRoi[g][r].Draw(painter);
        anchor = store->circleRoi[g][r].rect.topLeft();
        return true;
    case CammerSingleton::kShapeRect:
        store->rectRoi[g][r].Draw(painter);
        anchor = store->rectRoi[g][r].rect.topLeft();
        return true;
    default:
        return true;
    }
}

// The ROI outlines with their labels; returns the selected ROI's label, which
// the editor shows in its title line instead of beside the ROI.
QString CammerWidget::paintRoiLayer(QPainter& painter, const ViewPaint& view)
{
    const int g = view.group;
    const int count = view.count;
    const bool editor = view.editor;
    QString keptLabel;
    painter.setFont(viewFont(kFontRoi));
    if (editor)
        paintEditorLegend(painter, view.para);
    QPoint anchor(5, 80);
    for (int r = 0; r < count; ++r) {
        const bool isSel = r == curRoi;
        if (editor && !(curRoi < 0 || isSel || moveMode == 2))
            continue;
        if (editor && (isSel || curRoi < 0))
            paintRoiSizeMarks(painter, view, r);
        painter.save();
        displayPainter(painter);
        QColor pen = view.page == kPageLive ? QColor(Qt::darkBlue)
                                            : ((camOK || roiResult[g][r]) ? QColor(Qt::green) : QColor(Qt::red));
        if (view.store->roiFunction[g][r] == 2)
            pen = Qt::yellow;
        painter.setPen(pen);
        const bool labelled = paintRoiOutline(painter, view, r, anchor);
        const QString label = roiLabel(g, r, count, editor ? LabelPlace::Editor : LabelPlace::View);
        if (editor && curRoi >= 0) {
            if (view.store->roiShape[g][r] != CammerSingleton::kShapePolygon)
                keptLabel = label;
        } else if (labelled) {
            painter.setPen(pen);
            const int lift = editor ? 29 : 26;
            drawLabel(painter, QRect(QPoint(anchor.x(), anchor.y() - lift), QPoint(anchor.x() + 399, anchor.y() - lift + 24)),
                      label);
        }
        painter.restore();
    }
    // The size hint of a parameter slider, on the selected ROI.
    if (editor && curRoi >= 0 && curRoi < count && timerRunning(m_win->hintTimer) && gDrawHint > 0) {
        const QPointF c = QRectF(viewRoiBox(view, curRoi)).center();
        painter.save();
        displayPainter(painter);
        painter.setPen(Qt::yellow);
        painter.drawRect(QRectF((c.x() - gDrawHint / 2.0) * screenSW, (c.y() - gDrawHint / 2.0) * screenSH,
                                gDrawHint * screenSW, gDrawHint * screenSH));
        painter.restore();
    }
    return keptLabel;
}

// Title line, delay countdown, templates or counters.
void CammerWidget::paintStatusTexts(QPainter& painter, const ViewPaint& view, const QString& keptLabel)
{
    const int g = view.group;
    const WizardPara* p = view.para;
    painter.save();
    painter.scale(winSW, winSH);
    const QString status = statusWord(painter, g, true);
    const QPen statusPen = painter.pen();
    painter.setFont(viewFont(kFontTitle));
    HeaderLines header(painter, qRound(width() / qMax(0.01f, winSW)), 40, 40);
    header.draw(lanText(kRowCamStatus).arg(camIndex + 1).arg(detectionName(g), status), 5);
    painter.setPen(Qt::green);
    if (view.editor) {
        header.draw(lanText(kRowTemplates).arg(curTemplate + 1).arg(templateCount[g]).arg(keptLabel), 850);
        header.newLine();
        header.draw(gTempTime, 5);
        if (view.selected && view.page != kPageOk && isColor) {
            const auto v = static_cast<quint32>(m_win->pickValue);
            header.draw(lanText(kRowColour)
                            + QStringLiteral("%1, %2, %3").arg((v >> 16) & 0xFF).arg((v >> 8) & 0xFF).arg(v & 0xFF),
                        800);
        }
    } else {
        const int c = qBound(0, camIndex, kMaxCameras - 1);
        header.draw(lanText(kRowCounters).arg(gFailCycleNum[c]).arg(gAllCycleNum[c]).arg(fps), 750);
        if (p && p->showDetectTime)
            painter.drawText(QPoint(20, height() - 100), QStringLiteral("检测耗时 %1 ms").arg(detectTimeMs));
    }

    // The delay countdown below the header lines.
    for (int d = 0; d < qMin(gDNum, static_cast<int>(kMaxDetections)); ++d) {
        if (!timerRunning(m_win->delayTimer[d]))
            continue;
        if (m_win->delayCountdown[d] > kCountdownFloor) {
            painter.setPen(statusPen);
            painter.setFont(viewFont(kFontCountdown));
            painter.drawText(QPoint(5, qMax(90, header.baseline() + 55)),
                             QString::number(double(m_win->delayCountdown[d]), 'g', 3));
        }
        break;
    }
    painter.restore();
}

// The shape the finger is drawing.
void CammerWidget::paintShapeInProgress(QPainter& painter, const ViewPaint& view)
{
    const WizardPara* p = view.para;
    painter.save();
    displayPainter(painter);
    painter.setPen(Qt::green);
    const int tool = m_win->drawMode;
    if (tool == kDrawPolygon && polyPointCount > 0) {
        const bool cont = p && p->continuationArea;
        if (cont && polyPointCount > 2 && !m_win->isFreeHand) {
            const QPoint c = getPointsCenter();
            painter.drawText(QRect(c - QPoint(200, 20), QSize(400, 40)), Qt::AlignCenter, lanText(kRowDoubleClick));
        }
        painter.setPen(QPen(cont ? Qt::magenta : Qt::green, 2));
        if (p && p->polygonOpenStart)
            painter.drawPolyline(polyPoints, polyPointCount);
        else
            painter.drawPolygon(polyPoints, polyPointCount);
        painter.setPen(QPen(Qt::cyan, 2));
        painter.drawEllipse(QRect(polyPoints[0] - QPoint(5, 5), polyPoints[0] + QPoint(4, 4)));
    } else if (tool == kDrawCircle) {
        newCircle.Draw(painter);
    } else if (tool == kDrawRect) {
        newRect.Draw(painter);
    }
    painter.restore();
}
