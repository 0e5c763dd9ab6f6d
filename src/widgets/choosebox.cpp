#include "choosebox.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "globals.h"

#include <QPainter>

namespace {
constexpr int kButtonW = DialogPainter::kButtonW;
constexpr int kButtonH = DialogPainter::kButtonH;
constexpr int kButtonClass = DialogPainter::kButtonClass;
constexpr int kRowYes = 122;
constexpr int kRowNo = 123;
}

ChooseBox::ChooseBox(QWidget* parent, int width, int height)
    : QDialog(parent)
{
    setGeometry(DialogPainter::centred(width, height));
    setFixedSize(width, height);

    m_yes = new ColorButton(lanText(kRowYes), this, kButtonClass);
    m_yes->setGeometry(width / 2 - 270, height / 2 + 50, kButtonW, kButtonH);
    connect(m_yes, &QPushButton::clicked, this, &QDialog::accept);

    m_no = new ColorButton(lanText(kRowNo), this, kButtonClass);
    m_no->setGeometry(width / 2 + 50, height / 2 + 50, kButtonW, kButtonH);
    connect(m_no, &QPushButton::clicked, this, &QDialog::reject);

    ColorButton::fitTexts(this);
    hide();
    raise();
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint | Qt::WindowFullscreenButtonHint);
}

ChooseBox::~ChooseBox() = default;

void ChooseBox::retranslate()
{
    m_yes->setText(lanText(kRowYes));
    m_no->setText(lanText(kRowNo));
    ColorButton::fitTexts(this);
}

void ChooseBox::setText(const QString& text)
{
    m_text = text;
    update();
}

void ChooseBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DialogPainter::drawBackground(painter, rect());
    painter.setPen(Qt::red);
    DialogPainter::drawMessage(painter, QRect(QPoint(0, 0), QPoint(width() - 1, height() / 2 - 51)),
                               Qt::AlignHCenter | Qt::AlignVCenter | Qt::AlignBottom, m_text);
    DialogPainter::drawFrame(painter, width(), height());
}
