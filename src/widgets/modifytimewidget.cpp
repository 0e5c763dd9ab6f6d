#include "modifytimewidget.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "editdatetime.h"
#include "globals.h"

#include <QPainter>

namespace {
constexpr int kWidth = DialogPainter::kBoxW;
constexpr int kHeight = DialogPainter::kBoxH;
constexpr int kRowConfirm = 121;
constexpr int kRowCancel = 124;
}

ModifyTimeWidget::ModifyTimeWidget(QWidget* parent)
    : ChooseBox(parent, kWidth, kHeight)
    , m_editor(new EditDateTime(QString(), this))
{
    m_editor->setGeometry(0, 50, 280, 60);
    m_yes->setText(lanText(kRowConfirm));
    m_no->setText(lanText(kRowCancel));
    ColorButton::fitTexts(this);
}

ModifyTimeWidget::~ModifyTimeWidget() = default;

void ModifyTimeWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DialogPainter::drawBackground(painter, rect());
}
