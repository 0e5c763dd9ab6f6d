#include "labelfit.h"

#include "dialogpainter.h"
#include "editip.h"

#include <QLabel>

namespace LabelFit {

void fit(QLabel* label, int width, int pixelSize)
{
    const int fitted = DialogPainter::fittedFont(label->text(), width, pixelSize).pixelSize();
    if (fitted < pixelSize)
        label->setStyleSheet(QStringLiteral("font-size:%1px;").arg(fitted));
}

void fitIpTitles(QWidget* root)
{
    for (EditIP* editor : root->findChildren<EditIP*>()) {
        if (auto* title = editor->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            fit(title, title->width());
    }
}

} // namespace LabelFit
