#include "labelfit.h"

#include "dialogpainter.h"
#include "editip.h"

#include <QLabel>
#include <QPushButton>

namespace LabelFit {

namespace {
constexpr int kMargin = 10;
constexpr int kRowHeight = 40;  // the least height a layout gives a label of the dialogs
}  // namespace

void fit(QLabel* label, int width, int pixelSize)
{
    bool wrap = false;
    const int height = label->height() > 0 && label->maximumHeight() < QWIDGETSIZE_MAX ? label->height() : kRowHeight;
    const int fitted = DialogPainter::boxFont(label->text(), QSize(width - kMargin, height), pixelSize, &wrap).pixelSize();
    label->setWordWrap(wrap);
    if (wrap)  // a wrapping label would otherwise be laid out narrower than it was fitted to
        label->setMinimumWidth(width - kMargin);
    if (fitted < pixelSize)
        label->setStyleSheet(QStringLiteral("font-size:%1px;").arg(fitted));
}

void fitWidth(QPushButton* button, int padding)
{
    button->ensurePolished();
    const int needed = DialogPainter::textWidth(button->font(), button->text()) + padding;
    if (needed > button->width())
        button->setFixedWidth(needed);
}

void fitIpTitles(QWidget* root)
{
    for (EditIP* editor : root->findChildren<EditIP*>()) {
        if (auto* title = editor->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            fit(title, title->width());
    }
}

} // namespace LabelFit
