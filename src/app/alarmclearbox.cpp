#include "alarmclearbox.h"

#include "alarmclearmethod.h"
#include "colorbutton.h"
#include "globals.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

constexpr int kRowTitle = 120, kRowCancel = 124;
constexpr int kButtonClass = 4;
constexpr int kWidth = 560, kButtonH = 70, kMargin = 20;

struct Choice
{
    int method;
    int row;
    const char* name;
};
const Choice kChoices[] = {
    {AlarmClearMethod::DontDetect, 47, "dontDetect"},
    {AlarmClearMethod::AddAsTemplate, 48, "addAsTemplate"},
    {AlarmClearMethod::Redetect, 61, "redetect"},
    {AlarmClearMethod::SwitchToMould, 338, "switchToMould"},
};

}  // namespace

AlarmClearBox::AlarmClearBox(QWidget* parent, bool withMould) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    // Fits the smallest screen: at most the screen's width, centred on it.
    const int w = qMin(kWidth, gShowW - 2 * kMargin);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    auto* title = new QLabel(lanText(kRowTitle), this);
    QFont font("wqy-microhei");
    font.setPixelSize(30);
    title->setFont(font);
    title->setStyleSheet("color: white;");
    title->setWordWrap(true);
    column->addWidget(title);
    auto add = [this, column, w](int row, const char* name, int result) {
        auto* b = new ColorButton(lanText(row), this, kButtonClass);
        b->setObjectName(QString::fromLatin1(name));
        b->setFixedSize(w - 2 * kMargin, kButtonH);
        b->fitText();
        connect(b, &QPushButton::clicked, this, [this, result] { done(result); });
        column->addWidget(b);
    };
    for (const Choice& c : kChoices) {
        if (c.method != AlarmClearMethod::SwitchToMould || withMould)
            add(c.row, c.name, c.method);
    }
    add(kRowCancel, "cancel", 0);
    const QSize size(w, qMin(sizeHint().height(), gShowH - 2 * kMargin));
    setGeometry(gShowW / 2 - size.width() / 2, gShowH / 2 - size.height() / 2, size.width(), size.height());
}

int AlarmClearBox::choose(QWidget* parent, bool withMould)
{
    AlarmClearBox box(parent, withMould);
    return box.exec();
}

void AlarmClearBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x14, 0x14, 0x14));
    painter.setPen(QPen(Qt::red, 3));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
}
