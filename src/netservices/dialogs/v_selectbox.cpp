#include "v_selectbox.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "globals.h"

#include <QPainter>

namespace {
constexpr int kSmallScreenW = 1025;
constexpr int kSmallW = 420;
constexpr int kSmallH = 180;
constexpr int kLargeW = 750;
constexpr int kLargeH = 370;
constexpr int kSmallButtonW = 140;
constexpr int kSmallButtonH = 60;
constexpr int kLargeButtonW = 220;
constexpr int kLargeButtonH = 100;
constexpr int kSmallText = 20;
constexpr int kLargeText = 40;
constexpr int kButtonClass = 3;
constexpr int kRowConfirm = 121;
constexpr int kRowYes = 122;
constexpr int kRowNo = 123;
// Inside the white frame (5 px).
constexpr int kTextMargin = 10;

bool smallScreen()
{
    return gShowW < kSmallScreenW;
}
} // namespace

v_SelectBox::v_SelectBox(int x, int y, QWidget* parent, int kind)
    : QDialog(parent)
    , m_x(x)
    , m_y(y)
    , m_kind(kind)
{
    setWindowFlags(Qt::CustomizeWindowHint);
    const bool small = smallScreen();
    setGeometry(x, y, small ? kSmallW : kLargeW, small ? kSmallH : kLargeH);
    const QSize buttonSize = small ? QSize(kSmallButtonW, kSmallButtonH) : QSize(kLargeButtonW, kLargeButtonH);
    const int buttonY = small ? 105 : height() - 150;
    const auto button = [&](int row, const QPoint& at) {
        auto* b = new ColorButton(lanText(row), this, kButtonClass);
        b->setFixedSize(buttonSize);
        b->move(at);
        return b;
    };
    if (kind == Confirm) {
        ColorButton* ok = button(kRowConfirm, small ? QPoint(140, buttonY) : QPoint((width() - kLargeButtonW) / 2, buttonY));
        ok->setObjectName(QStringLiteral("confirmButton"));
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    } else if (kind == Question) {
        ColorButton* yes = button(kRowYes, small ? QPoint(30, buttonY) : QPoint(100, buttonY));
        yes->setObjectName(QStringLiteral("yesButton"));
        connect(yes, &QPushButton::clicked, this, &QDialog::accept);
        ColorButton* no = button(kRowNo, small ? QPoint(240, buttonY) : QPoint(width() - 320, buttonY));
        no->setObjectName(QStringLiteral("noButton"));
        connect(no, &QPushButton::clicked, this, &QDialog::reject);
    }
}

void v_SelectBox::setText(const QString& text)
{
    m_text = text;
    update();
}

void v_SelectBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DialogPainter::drawBackground(painter, rect());
    painter.setPen(Qt::red);
    // The text stays on the part of the box that shows: the small box starts left of its
    // dialog. A file's path wraps instead of running off both ends.
    QRect area = m_kind == Notice ? rect() : QRect(0, 0, width(), height() / 2);
    if (parentWidget() && !isWindow())
        area &= QRect(mapFromParent(QPoint(0, 0)), parentWidget()->size());
    const bool small = smallScreen();
    DialogPainter::drawMessage(painter, area.adjusted(kTextMargin, kTextMargin, -kTextMargin, 0), Qt::AlignCenter, m_text,
                               small ? kSmallText : kLargeText,
                               small ? DialogPainter::kSmallestWrappedPixels : DialogPainter::kSmallestTextPixels);
    DialogPainter::drawFrame(painter, width(), height());
}

void v_SelectBox::hideEvent(QHideEvent* event)
{
    // The box lies over its dialog: the dialog is drawn again where it was.
    if (parentWidget())
        parentWidget()->update();
    QDialog::hideEvent(event);
}

void v_SelectBox::showEvent(QShowEvent* event)
{
    const bool small = smallScreen();
    setGeometry(m_x, m_y, small ? kSmallW : kLargeW, small ? kSmallH : kLargeH);
    QDialog::showEvent(event);
}
