// ROI editing by touch on the camera unit.
#include "cammerwidget.h"

#include "cameraunithooks.h"
#include "cammersingleton.h"
#include "globals.h"
#include "indexbutton.h"
#include "mainwindowbase.h"
#include "miscfunc.h"
#include "numberinput.h"
#include "roishapevisit.h"
#include "statecodes.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QMouseEvent>
#include <QTimer>

#include <cmath>
#include <cstring>

namespace {

constexpr int kRowPolygonFull = 35;
constexpr int kRowTooManyRois = 36;
constexpr int kPanelHideMs = 120000;
constexpr int kMinShapeSpan = 10;
constexpr int kMinFreeHandPoints = 6;
constexpr int kMoveDeadZone = 3;  // image pixels
constexpr int kScreenBand = 3;
constexpr int kMaxOutlinePoints = 8095;

bool continuation() { return gpWPara && gpWPara->continuationArea != 0; }

// Cursor over handle 0..7 of a selected rectangle or circle.
const Qt::CursorShape kHandleCursor[8] = {
    Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeHorCursor,
    Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeHorCursor};

}  // namespace

ViewMapping CammerWidget::viewMapping() const
{
    ViewMapping mapping;
    mapping.view = size();
    mapping.screen = QSize(gShowW, gShowH);
    if (m_win && camIndex == m_win->selCamera) {
        mapping.pan = QPointF(m_win->zoomX, m_win->zoomY);
        mapping.zoom = m_win->zoomScale > 0 ? m_win->zoomScale : 1.0;
    }
    return mapping;
}

QPoint CammerWidget::viewPoint(const QPointF& pos) const { return viewMapping().toDisplay(pos); }

void CammerWidget::mouseDoubleClickEvent(QMouseEvent* event) { QWidget::mouseDoubleClickEvent(event); }

void CammerWidget::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->localPos().toPoint();
    emit clicked(pos);
    m_lastTouch = pos;
    if (!m_win)
        return;
    if (camIndex == m_win->selCamera) {
        m_win->touchPoint = pos;
        MUpdateXYV(pos.x(), pos.y());
    }
    if (IndexButton* panel = m_win->pIndexButton) {
        if (panel->autoHideTimer())
            panel->autoHideTimer()->start(kPanelHideMs);
        // The panel comes back during an alarm too: the alarm's release and the stop are on it.
        if (m_win->pageState == kPageLive || m_win->pageState == kPageOk || m_win->pageState == kPageAlarm) {
            if (panel->isVisible()) {
                panel->checkShowHide();
            } else if (!settingsScreenShown()) {
                panel->show();
                if (gpNumPad)
                    gpNumPad->hide();
            }
        }
    }
    if (camIndex >= numCamera)
        return;
    if (m_win->selCamera == numCamera) {
        m_win->selCamera = camIndex;
        m_win->ChangeCammer();
        const auto& cameraChosen = CameraUnitHooks::instance().editorCameraChosen;
        if (m_win->pageState == kPageAlarm && gSource == kSourceLive && cameraChosen)
            cameraChosen(camIndex);
        return;
    }
    if (gSource != kSourceEditor || !pSingletonEdit)
        return;
    drawState = kDrawStateIdle;
    isPressed = true;
    pressInEditor(viewPoint(event->localPos()));
}

void CammerWidget::pressInEditor(const QPoint& p)
{
    if (m_win->copyMode) {
        if (!(gpWPara && gpWPara->continuousReplication))
            m_win->copyMode = false;
        SlotCopyArea(p);
        return;
    }
    const int g = m_win->curDetect;
    if (g < 0 || g >= kGroups)
        return;
    if (m_win->drawMode == kDrawNone)
        pressToSelect(p, g);
    else
        pressToDraw(p, g);
}

// No drawing tool: a press selects, grabs or lets go of a ROI.
void CammerWidget::pressToSelect(const QPoint& p, int g)
{
    CammerSingleton& s = *pSingletonEdit;
    auto grab = [this, &s, g, p](int r) {
        setCursor(Qt::SizeAllCursor);
        setShapeSelected(g, r, true);
        lastPoint = p;
        selNode = 0;
        drawState = kDrawStateMove;
        switch (s.roiShape[g][r]) {
        case CammerSingleton::kShapePolygon: isPolyStarted = true; break;
        case CammerSingleton::kShapeCircle:
            isShapeEdit = true;
            newCircle.rect = s.circleRoi[g][r].rect;
            newCircle.UpdateAll();
            break;
        case CammerSingleton::kShapeRect:
            isShapeEdit = true;
            newRect.rect = s.rectRoi[g][r].rect;
            break;
        default: break;
        }
    };
    // The selection is what GetSelectedRect finds, so the shape test comes after it.
    const bool anySelected = GetSelectedRect();
    const bool known = anySelected && curRoi >= 0 && curRoi < s.roiCount[g]
                       && (s.roiShape[g][curRoi] == CammerSingleton::kShapePolygon
                           || s.roiShape[g][curRoi] == CammerSingleton::kShapeCircle
                           || s.roiShape[g][curRoi] == CammerSingleton::kShapeRect);
    if (!known) {
        if (PtInRect(p))
            grab(curRoi);
    } else if (!PtInRegion(p)) {
        prevRoi = curRoi;
        clearShapeSelection(g, curRoi);
        setCurRoi(-1);
        setCursor(Qt::ArrowCursor);
        curPoint = lastPoint = p;
    } else {
        pressOnSelected(p, g);
    }
    update();
}

// A press inside the selected ROI: on a handle it resizes, elsewhere it moves.
void CammerWidget::pressOnSelected(const QPoint& p, int g)
{
    CammerSingleton& s = *pSingletonEdit;
    const int kind = s.roiShape[g][curRoi];
    bool onHandle = false;
    if (kind == CammerSingleton::kShapePolygon)
        onHandle = s.polygonRoi[g][curRoi].PtInCtrl(p, &handle);
    else if (kind == CammerSingleton::kShapeCircle)
        onHandle = s.circleRoi[g][curRoi].PtInCtrl(p, &handle);
    else
        onHandle = s.rectRoi[g][curRoi].PtInCtrl(p, &handle);
    if (!onHandle)
        setCursor(Qt::SizeAllCursor);
    drawState = onHandle ? kDrawStateHandle : kDrawStateMove;
    lastPoint = p;
    if (kind == CammerSingleton::kShapePolygon) {
        isPolyStarted = true;
    } else {
        isShapeEdit = true;
        if (onHandle && kind == CammerSingleton::kShapeCircle) {
            newCircle.rect = s.circleRoi[g][curRoi].rect;
            newCircle.UpdateAll();
        } else if (onHandle) {
            newRect.rect = s.rectRoi[g][curRoi].rect;
        }
    }
}

// A drawing tool is chosen: a press starts a shape or adds an outline point.
void CammerWidget::pressToDraw(const QPoint& p, int g)
{
    CammerSingleton& s = *pSingletonEdit;
    if (continuation())
        DeselectROI();
    setCursor(Qt::ArrowCursor);
    curPoint = lastPoint = p;
    switch (m_win->drawMode) {
    case kDrawRect:
        newRect.rect = QRect(p, p);
        drawState = kDrawStatePressed;
        isShapeEdit = true;
        break;
    case kDrawCircle:
        newCircle.setShowA(screenSW, screenSH);  // drawn as it will be checked
        newCircle.rect = QRect(p, p);
        drawState = kDrawStatePressed;
        isShapeEdit = true;
        break;
    case kDrawPolygon:
        if (isPolyDblTap) {
            const int last = s.roiCount[g] - 1;
            if (last >= 0) {
                setCurRoi(last);
                s.polygonRoi[g][last].SetSelected(true);
            }
            isPolyDblTap = false;
            break;
        }
        drawState = kDrawStateShape;
        if (!isPolyStarted) {
            isPolyStarted = true;
            if (continuation()) {
                if (m_win->isFreeHand)
                    break;
                if (const auto& polygonStarted = CameraUnitHooks::instance().editorPolygonStarted)
                    polygonStarted();
            }
        }
        if (m_win->isFreeHand)
            break;
        if (polyPointCount >= kMaxPolyPoints) {
            polyPointCount = kMaxPolyPoints - 1;
            warn(kRowPolygonFull);
        } else {
            polyPoints[polyPointCount++] = p;
        }
        break;
    default:
        break;
    }
}

void CammerWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->localPos().toPoint();
    // The pan takes the drag movement since the last touch point, not the point itself.
    const QPoint drag = pos - m_lastTouch;
    m_lastTouch = pos;
    if (m_win && camIndex == m_win->selCamera)
        MUpdateXYV(pos.x(), pos.y());
    if (m_win && camIndex < numCamera) {
        if (gSource != kSourceEditor) {
            if (event->buttons() & Qt::LeftButton)
                m_win->updateMScale(drag.x(), drag.y());
        } else if (pSingletonEdit) {
            moveInEditor(viewPoint(event->localPos()), event->buttons(), drag);
        }
    }
    QWidget::mouseMoveEvent(event);
}

void CammerWidget::moveInEditor(const QPoint& p, Qt::MouseButtons buttons, const QPoint& drag)
{
    const int g = m_win->curDetect;
    if (g < 0 || g >= kGroups)
        return;
    const bool selected = GetSelectedRect();
    if (!isShapeEdit && !isPolyStarted)
        hoverInEditor(p, g, selected, buttons, drag);
    else if (isPolyStarted)
        moveOutline(p, g, selected);
    else
        moveBoxShape(p, g, selected);
}

// Nothing held: the cursor tells what a press would do; a drag pans the zoomed view.
void CammerWidget::hoverInEditor(const QPoint& p, int g, bool selected, Qt::MouseButtons buttons, const QPoint& drag)
{
    CammerSingleton& s = *pSingletonEdit;
    const int kind = selected ? s.roiShape[g][curRoi] : 0;
    int h = -1;
    const bool onBoxHandle = selected && ((kind == CammerSingleton::kShapeRect && s.rectRoi[g][curRoi].PtInCtrl(p, &h))
                                          || (kind == CammerSingleton::kShapeCircle && s.circleRoi[g][curRoi].PtInCtrl(p, &h)));
    if (onBoxHandle) {
        if (h >= 0 && h < 8)
            setCursor(kHandleCursor[h]);
    } else if (selected && kind == CammerSingleton::kShapePolygon && s.polygonRoi[g][curRoi].PtInCtrl(p, &h)) {
        setCursor(Qt::SizeFDiagCursor);
    } else if (PtInRectMove(p)) {
        setCursor(Qt::SizeAllCursor);
    } else {
        if (buttons & Qt::LeftButton)
            m_win->updateMScale(drag.x(), drag.y());
        setCursor(Qt::ArrowCursor);
    }
}

bool CammerWidget::inMoveDeadZone(const QPoint& p) const
{
    return std::abs(p.x() - lastPoint.x()) / screenSW < kMoveDeadZone
           && std::abs(p.y() - lastPoint.y()) / screenSH < kMoveDeadZone;
}

// A polygon: moved whole (only while every node stays on screen), a node
// dragged, or a free-hand outline growing.
void CammerWidget::moveOutline(const QPoint& p, int g, bool selected)
{
    if (!isPressed)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const bool polygon = selected && s.roiShape[g][curRoi] == CammerSingleton::kShapePolygon;
    if (drawState == kDrawStateMove && polygon) {
        if (inMoveDeadZone(p))
            return;
        curPoint = p;
        RePolygon& poly = s.polygonRoi[g][curRoi];
        const QPoint d = p - lastPoint;
        for (const QPoint& node : poly.nodes) {
            const QPoint q = node + d;
            if (q.x() < kScreenBand || q.y() < kScreenBand || q.x() >= gShowW - kScreenBand
                || q.y() >= gShowH - kScreenBand)
                return;
        }
        for (QPoint& node : poly.nodes)
            node += d;
        poly.setShowA(screenSW, screenSH);
        poly.setImageRect();
        lastPoint = p;
    } else if (drawState == kDrawStateHandle && polygon) {
        curPoint = p;
        s.polygonRoi[g][curRoi].Resize(handle, lastPoint, curPoint, screenSW, screenSH);
        lastPoint = p;
    } else if (drawState == kDrawStateShape && m_win->isFreeHand && polyPointCount < kMaxOutlinePoints) {
        polyPoints[polyPointCount++] = p;
    }
    update();
}

// Rectangles and circles: resized by a handle, drawn, or moved.
void CammerWidget::moveBoxShape(const QPoint& p, int g, bool selected)
{
    CammerSingleton& s = *pSingletonEdit;
    const int kind = selected ? s.roiShape[g][curRoi] : 0;
    switch (drawState) {
    case kDrawStateHandle:
        if (!selected)
            return;
        curPoint = p;
        if (kind == CammerSingleton::kShapeRect) {
            ClustomRect& r = s.rectRoi[g][curRoi];
            r.Resize(handle, lastPoint, curPoint);
            CheckInRange(&r.rect, gShowW, gShowH, false);
        } else if (kind == CammerSingleton::kShapeCircle) {
            Circle& c = s.circleRoi[g][curRoi];
            c.Resize(handle, lastPoint, curPoint);
            CheckInRange(&c.rect, gShowW, gShowH, false);
            c.UpdateAll();
        }
        lastPoint = p;
        update();
        break;
    case kDrawStatePressed:
        drawState = kDrawStateShape;
        if (m_win->drawMode == kDrawRect) {
            newRect.rect.setBottomRight(p);
        } else {
            newCircle.rect.setBottomRight(p);
            newCircle.UpdateAll();
        }
        break;
    case kDrawStateShape: {
        update();
        int x = p.x(), y = p.y();
        CheckInRange(&x, 1, gShowW, gShowH);
        CheckInRange(&y, 0, gShowW, gShowH);
        if (m_win->drawMode == kDrawRect) {
            newRect.rect.setBottomRight(QPoint(x, y));
        } else {
            newCircle.rect.setBottomRight(QPoint(x, y));
            newCircle.UpdateAll();
        }
        break;
    }
    case kDrawStateMove:
        if (!selected || inMoveDeadZone(p))
            return;
        curPoint = p;
        if (kind == CammerSingleton::kShapeRect) {
            QRect& r = s.rectRoi[g][curRoi].rect;
            r.translate(p - lastPoint);
            CheckInRange(&r, gShowW, gShowH, true);
        } else if (kind == CammerSingleton::kShapeCircle) {
            Circle& c = s.circleRoi[g][curRoi];
            c.rect.translate(p - lastPoint);
            CheckInRange(&c.rect, gShowW, gShowH, true);
            c.UpdateAll();
        }
        lastPoint = p;
        update();
        break;
    default:
        break;
    }
}

void CammerWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_win && camIndex < numCamera && gSource == kSourceEditor && pSingletonEdit)
        releaseInEditor();
    QWidget::mouseReleaseEvent(event);
}

bool CammerWidget::createDrawnShape(int g)
{
    CammerSingleton& s = *pSingletonEdit;
    const int mode = m_win->drawMode;
    const QRect drawn = mode == kDrawRect ? newRect.rect : newCircle.rect;
    const bool bigEnough = (mode == kDrawRect || mode == kDrawCircle) && drawn.right() - drawn.left() >= kMinShapeSpan
                           && drawn.bottom() - drawn.top() >= kMinShapeSpan;
    if (!bigEnough)
        return true;
    if (s.roiCount[g] >= kRois) {
        warn(kRowTooManyRois);
        return false;
    }
    const int n = s.roiCount[g];
    if (mode == kDrawRect && !(gpWPara && gpWPara->rectToQuad)) {
        ClustomRect rect = newRect;
        rect.rect = drawn.normalized();
        rect.SetSelected(true);
        s.rectRoi[g][n] = rect;
        s.roiShape[g][n] = CammerSingleton::kShapeRect;
    } else if (mode == kDrawRect) {
        const QRect r = drawn.normalized();
        QPoint corners[4] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
        RePolygon quad(4, corners);
        quad.SetHand(false);
        quad.SetSelected(true);
        s.polygonRoi[g][n] = quad;
        s.roiShape[g][n] = CammerSingleton::kShapePolygon;
    } else {
        Circle circle = newCircle;
        circle.rect = drawn.normalized();
        circle.UpdateAll();
        circle.SetSelected(true);
        s.circleRoi[g][n] = circle;
        s.roiShape[g][n] = CammerSingleton::kShapeCircle;
    }
    refreshShape(g, n);
    initNewRoiParams(g, n);
    s.roiCount[g] = n + 1;
    setCurRoi(n);
    return true;
}

void CammerWidget::releaseInEditor()
{
    const int g = m_win->curDetect;
    if (g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    bool continueWithMoves = true;
    if (isShapeEdit) {
        if (drawState == kDrawStateShape) {
            // A full group keeps the drawing state; a created or too small shape ends it.
            const bool full = !createDrawnShape(g);
            if (!full && !continuation())
                m_win->drawMode = kDrawNone;
            if (!full)
                drawState = kDrawStateIdle;
            isShapeEdit = false;
            continueWithMoves = false;
        } else if (drawState == kDrawStatePressed) {
            if (!continuation())
                m_win->drawMode = kDrawNone;
            drawState = kDrawStateIdle;
            isShapeEdit = false;
            continueWithMoves = false;
        } else {
            isShapeEdit = false;
        }
    }
    if (continueWithMoves && (drawState == kDrawStateMove || drawState == kDrawStateHandle)) {
        if (curRoi >= 0 && curRoi < s.roiCount[g])
            refreshShape(g, curRoi);
        isPolyStarted = false;
        drawState = kDrawStateIdle;
    }
    if (isPolyStarted && drawState == kDrawStateShape && m_win->isFreeHand) {
        if (polyPointCount < kMinFreeHandPoints) {
            isPolyStarted = false;
            drawState = kDrawStateIdle;
            polyPointCount = 0;
            if (!continuation())
                m_win->drawMode = kDrawNone;
        } else {
            SavePolygon();
        }
    }
    ShowHideROIPara();
    isPressed = false;
    update();
}

void CammerWidget::DeleteROI(int roi)
{
    const int g = m_win ? m_win->curDetect : 0;
    if (!pSingletonEdit || g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const int n = qBound(0, s.roiCount[g], static_cast<int>(kRois));
    if (roi >= 0 && roi < kRois && pIgnoreMask[g]) {
        // Boxes near the edge may reach past the frame: clear only what lies inside it.
        const QRect box = roiImageRect(s, g, roi).intersected(QRect(0, 0, imageW, imageH));
        for (int y = box.top(); !box.isEmpty() && y <= box.bottom(); ++y)
            std::memset(pIgnoreMask[g] + static_cast<size_t>(y) * imageW + box.left(), 0,
                        static_cast<size_t>(box.width()));
        SaveIgnorePoint(g);
    }
    if (roi < 0 || roi >= n)
        return;
    for (int i = roi; i < n - 1; ++i) {
        switch (s.roiShape[g][i + 1]) {
        case CammerSingleton::kShapePolygon: s.polygonRoi[g][i] = s.polygonRoi[g][i + 1]; break;
        case CammerSingleton::kShapeCircle: s.circleRoi[g][i] = s.circleRoi[g][i + 1]; break;
        default: s.rectRoi[g][i] = s.rectRoi[g][i + 1]; break;
        }
        roiMaskEdit[g][i] = roiMaskEdit[g][i + 1];
        s.roiMinWH[g][i] = s.roiMinWH[g][i + 1];
        s.roiShape[g][i] = s.roiShape[g][i + 1];
        s.roiSensitivity[g][i] = s.roiSensitivity[g][i + 1];
        s.roiArea[g][i] = s.roiArea[g][i + 1];
        s.roiFunction[g][i] = s.roiFunction[g][i + 1];
        if (g == 0)
            s.roiOutput[i] = s.roiOutput[i + 1];
    }
    s.roiCount[g] = n - 1;
}
