#include "drawroiwidget.h"

#include "cammerwidget.h"
#include "mainwindowbase.h"

namespace {
constexpr int kDrawRect = 1;
constexpr int kDrawPolygon = 2;
constexpr int kDrawCircle = 4;
}  // namespace

DrawROIWidget::DrawROIWidget(MainWindowBase* window, QWidget* parent) : QWidget(parent), m_win(window) {}

CammerWidget* DrawROIWidget::shownUnit() const
{
    const int shown = m_win ? m_win->selCamera : 0;
    return shown >= 0 && shown < m_units.size() ? m_units.at(shown) : nullptr;
}

void DrawROIWidget::startTool(int mode, bool freeHand)
{
    for (CammerWidget* unit : qAsConst(m_units))
        unit->DeselectROI();
    if (!m_win)
        return;
    m_win->drawMode = mode;
    m_win->isFreeHand = freeHand;
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
    // The editor's own preparation of a new polygon comes with the full screen.
    ++polygonStarts;
}
