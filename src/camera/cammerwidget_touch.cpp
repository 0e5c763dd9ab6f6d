// ROI editing by touch on the camera unit.
#include "cammerwidget.h"

#include "cammersingleton.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "indexbutton.h"
#include "mainwindowbase.h"
#include "miscfunc.h"
#include "numberinput.h"
#include "roishapevisit.h"
#include "warnbox.h"
#include "wizardpara.h"
#include "wizardparawidget.h"

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

QPoint CammerWidget::viewPoint(const QPoint& pos) const
{
    const double scale = m_win && m_win->zoomScale > 0 ? m_win->zoomScale : 1.0;
    const double zx = m_win ? m_win->zoomX : 0.0;
    const double zy = m_win ? m_win->zoomY : 0.0;
    return QPoint(int((pos.x() - zx) / scale), int((pos.y() - zy) / scale));
}

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
        if (m_win->pageState == 0 || m_win->pageState == 1) {
            if (panel->isVisible()) {
                panel->checkShowHide();
            } else if (!(m_win->pWizardParaWidget && m_win->pWizardParaWidget->isVisible())) {
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
        if (m_win->pageState == 2 && gSource == 1 && m_win->pDrawROIWidget)
            m_win->pDrawROIWidget->setCameraChoice(camIndex);
        return;
    }
    if (gSource != 0 || !pSingletonEdit)
        return;
    drawState = 0;
    isPressed = true;
    pressInEditor(viewPoint(pos));
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
    CammerSingleton& s = *pSingletonEdit;

    if (m_win->drawMode == 0) {
        auto grab = [this, &s, g, p](int r) {
            setCursor(Qt::SizeAllCursor);
            setShapeSelected(g, r, true);
            lastPoint = p;
            selNode = 0;
            drawState = 2;
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
            drawState = onHandle ? 3 : 2;
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
        update();
        return;
    }

    if (continuation())
        DeselectROI();
    setCursor(Qt::ArrowCursor);
    curPoint = lastPoint = p;
    switch (m_win->drawMode) {
    case 1:
        newRect.rect = QRect(p, p);
        drawState = 5;
        isShapeEdit = true;
        break;
    case 4:
        newCircle.rect = QRect(p, p);
        drawState = 5;
        isShapeEdit = true;
        break;
    case 2:
        if (isPolyDblTap) {
            const int last = s.roiCount[g] - 1;
            if (last >= 0) {
                setCurRoi(last);
                s.polygonRoi[g][last].SetSelected(true);
            }
            isPolyDblTap = false;
            break;
        }
        drawState = 1;
        if (!isPolyStarted) {
            isPolyStarted = true;
            if (continuation()) {
                if (m_win->isFreeHand)
                    break;
                if (m_win->pDrawROIWidget)
                    m_win->pDrawROIWidget->startDrawPloygn();
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
        if (gSource != 0) {
            if (event->buttons() & Qt::LeftButton)
                m_win->updateMScale(drag.x(), drag.y());
        } else if (pSingletonEdit) {
            moveInEditor(viewPoint(pos), event->buttons(), drag);
        }
    }
    QWidget::mouseMoveEvent(event);
}

void CammerWidget::moveInEditor(const QPoint& p, Qt::MouseButtons buttons, const QPoint& drag)
{
    const int g = m_win->curDetect;
    if (g < 0 || g >= kGroups)
        return;
    CammerSingleton& s = *pSingletonEdit;
    const bool selected = GetSelectedRect();
    const int kind = selected ? s.roiShape[g][curRoi] : 0;

    if (!isShapeEdit && !isPolyStarted) {
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
        return;
    }

    const bool deadZone = std::abs(p.x() - lastPoint.x()) / screenSW < kMoveDeadZone
                          && std::abs(p.y() - lastPoint.y()) / screenSH < kMoveDeadZone;

    if (isPolyStarted) {
        if (!isPressed)
            return;
        if (drawState == 2 && selected && kind == CammerSingleton::kShapePolygon) {
            if (deadZone)
                return;
            curPoint = p;
            RePolygon& poly = s.polygonRoi[g][curRoi];
            const QPoint d = p - lastPoint;
            for (const QPoint& node : poly.nodes) {
                const QPoint q = node + d;
                if (q.x() < kScreenBand || q.y() < kScreenBand || q.x() >= width() - kScreenBand
                    || q.y() >= height() - kScreenBand)
                    return;
            }
            for (QPoint& node : poly.nodes)
                node += d;
            poly.setShowA(screenSW, screenSH);
            poly.setImageRect();
            lastPoint = p;
        } else if (drawState == 3 && selected && kind == CammerSingleton::kShapePolygon) {
            curPoint = p;
            s.polygonRoi[g][curRoi].Resize(handle, lastPoint, curPoint, screenSW, screenSH);
            lastPoint = p;
        } else if (drawState == 1 && m_win->isFreeHand && polyPointCount < kMaxOutlinePoints) {
            polyPoints[polyPointCount++] = p;
        }
        update();
        return;
    }

    // Rectangles and circles.
    switch (drawState) {
    case 3:
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
    case 5:
        drawState = 1;
        if (m_win->drawMode == 1) {
            newRect.rect.setBottomRight(p);
        } else {
            newCircle.rect.setBottomRight(p);
            newCircle.UpdateAll();
        }
        break;
    case 1: {
        update();
        int x = p.x(), y = p.y();
        CheckInRange(&x, 1, gShowW, gShowH);
        CheckInRange(&y, 0, gShowW, gShowH);
        if (m_win->drawMode == 1) {
            newRect.rect.setBottomRight(QPoint(x, y));
        } else {
            newCircle.rect.setBottomRight(QPoint(x, y));
            newCircle.UpdateAll();
        }
        break;
    }
    case 2:
        if (!selected || deadZone)
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
    if (m_win && camIndex < numCamera && gSource == 0 && pSingletonEdit)
        releaseInEditor();
    QWidget::mouseReleaseEvent(event);
}

bool CammerWidget::createDrawnShape(int g)
{
    CammerSingleton& s = *pSingletonEdit;
    const int mode = m_win->drawMode;
    const QRect drawn = mode == 1 ? newRect.rect : newCircle.rect;
    const bool bigEnough = (mode == 1 || mode == 4) && drawn.right() - drawn.left() >= kMinShapeSpan
                           && drawn.bottom() - drawn.top() >= kMinShapeSpan;
    if (!bigEnough)
        return true;
    if (s.roiCount[g] >= kRois) {
        warn(kRowTooManyRois);
        return false;
    }
    const int n = s.roiCount[g];
    if (mode == 1 && !(gpWPara && gpWPara->rectToQuad)) {
        ClustomRect rect = newRect;
        rect.rect = drawn.normalized();
        rect.SetSelected(true);
        s.rectRoi[g][n] = rect;
        s.roiShape[g][n] = CammerSingleton::kShapeRect;
    } else if (mode == 1) {
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
        if (drawState == 1) {
            // A full group keeps the drawing state; a created or too small shape ends it.
            const bool full = !createDrawnShape(g);
            if (!full && !continuation())
                m_win->drawMode = 0;
            if (!full)
                drawState = 0;
            isShapeEdit = false;
            continueWithMoves = false;
        } else if (drawState == 5) {
            if (!continuation())
                m_win->drawMode = 0;
            drawState = 0;
            isShapeEdit = false;
            continueWithMoves = false;
        } else {
            isShapeEdit = false;
        }
    }
    if (continueWithMoves && (drawState == 2 || drawState == 3)) {
        if (curRoi >= 0 && curRoi < s.roiCount[g])
            refreshShape(g, curRoi);
        isPolyStarted = false;
        drawState = 0;
    }
    if (isPolyStarted && drawState == 1 && m_win->isFreeHand) {
        if (polyPointCount < kMinFreeHandPoints) {
            isPolyStarted = false;
            drawState = 0;
            polyPointCount = 0;
            if (!continuation())
                m_win->drawMode = 0;
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
