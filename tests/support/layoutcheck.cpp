#include "layoutcheck.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QTabBar>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTextDocument>
#include <QWidget>

namespace {

// Glyph parts of a line may reach into the line's leading and under-descent;
// a line is cut only when less than this is left of it.
constexpr int kHeightSlack = 3;
constexpr int kWidthSlack = 1;

QString describe(const QWidget* w)
{
    QString text;
    if (auto* label = qobject_cast<const QLabel*>(w))
        text = label->text();
    else if (auto* button = qobject_cast<const QAbstractButton*>(w))
        text = button->text();
    else if (auto* combo = qobject_cast<const QComboBox*>(w))
        text = combo->currentText();
    const QString name = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
    const QRect g(w->mapTo(w->window(), QPoint(0, 0)), w->size());
    return QStringLiteral("%1 \"%2\" at %3,%4 %5x%6")
        .arg(name, text.simplified())
        .arg(g.x())
        .arg(g.y())
        .arg(g.width())
        .arg(g.height());
}

bool shown(const QWidget* w, const QWidget* top)
{
    return w == top ? w->isVisible() || !w->isHidden() : w->isVisibleTo(top);
}

// The size a text needs in `room` with the label's own rules.
QSize labelTextSize(const QLabel* label, const QRect& room)
{
    const QString text = label->text();
    const bool rich = label->textFormat() == Qt::RichText
                      || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    if (rich) {
        QTextDocument doc;
        doc.setDefaultFont(label->font());
        doc.setDocumentMargin(0);
        doc.setHtml(text);
        if (label->wordWrap())
            doc.setTextWidth(room.width());
        return QSize(int(label->wordWrap() ? doc.size().width() : doc.idealWidth()), int(doc.size().height()));
    }
    const QFontMetrics fm(label->font());
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0) | Qt::TextShowMnemonic;
    return fm.boundingRect(QRect(room.x(), room.y(), room.width(), 100000), flags, text).size();
}

QString tooBig(const QSize& need, const QRect& room, const QFontMetrics& fm)
{
    const int lines = qMax(1, need.height() / qMax(1, fm.lineSpacing()));
    const int slack = kHeightSlack + (lines > 1 ? 0 : fm.leading());
    if (need.width() > room.width() + kWidthSlack)
        return QStringLiteral("needs %1 px wide, has %2").arg(need.width()).arg(room.width());
    if (need.height() > room.height() + slack)
        return QStringLiteral("needs %1 px high, has %2").arg(need.height()).arg(room.height());
    return QString();
}

QString labelFault(const QLabel* label)
{
    if (label->text().trimmed().isEmpty() || !label->pixmap(Qt::ReturnByValue).isNull())
        return QString();
    const int m = label->margin();
    QRect room = label->contentsRect().adjusted(m, m, -m, -m);
    const int indent = label->indent() > 0 ? label->indent() : 0;
    if (label->alignment() & (Qt::AlignLeft | Qt::AlignRight))
        room.setWidth(room.width() - indent);
    return tooBig(labelTextSize(label, room), room, QFontMetrics(label->font()));
}

QString buttonFault(QAbstractButton* button)
{
    if (button->text().trimmed().isEmpty())
        return QString();
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.text = button->text();
    opt.icon = button->icon();
    opt.iconSize = button->iconSize();
    QRect room;
    if (qobject_cast<QCheckBox*>(button))
        room = button->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, button);
    else if (qobject_cast<QRadioButton*>(button))
        room = button->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, button);
    else if (qobject_cast<QPushButton*>(button))
        room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
    else
        room = button->contentsRect();
    if (!opt.icon.isNull() && !opt.icon.availableSizes().isEmpty())  // a picture that failed to load takes no room
        room.setWidth(room.width() - opt.iconSize.width() - 4);
    const QFontMetrics fm(button->font());
    return tooBig(fm.size(Qt::TextShowMnemonic, button->text()), room, fm);
}

QString comboFault(QComboBox* combo)
{
    if (combo->currentText().isEmpty())
        return QString();
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    opt.editable = combo->isEditable();
    opt.currentText = combo->currentText();
    opt.frame = combo->hasFrame();
    const QRect room = combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
    const QFontMetrics fm(combo->font());
    return tooBig(fm.size(Qt::TextSingleLine, combo->currentText()), room, fm);
}

// The widgets an operator reads or touches.
bool isControl(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w))
        return !label->text().trimmed().isEmpty() || !label->pixmap(Qt::ReturnByValue).isNull();
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w)
           || qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSlider*>(w);
}

bool scrolledContent(const QWidget* w)
{
    const QWidget* parent = w->parentWidget();
    const auto* area = parent ? qobject_cast<const QAbstractScrollArea*>(parent->parentWidget()) : nullptr;
    return area && area->viewport() == parent;
}

QList<QWidget*> shownWidgets(QWidget* top)
{
    QList<QWidget*> all;
    for (QWidget* w : top->findChildren<QWidget*>())
        if (!w->isWindow() && shown(w, top) && !w->size().isEmpty())
            all << w;
    return all;
}

}  // namespace

QStringList cutTexts(QWidget* top)
{
    top->ensurePolished();
    QStringList faults;
    for (QWidget* w : shownWidgets(top)) {
        w->ensurePolished();
        QString fault;
        if (auto* label = qobject_cast<QLabel*>(w))
            fault = labelFault(label);
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            fault = buttonFault(button);
        else if (auto* combo = qobject_cast<QComboBox*>(w))
            fault = comboFault(combo);
        if (!fault.isEmpty())
            faults << QStringLiteral("cut text: %1 %2").arg(describe(w), fault);
    }
    return faults;
}

QStringList strayWidgets(QWidget* top, const QRect& screen, const OverlapAllowed& mayOverlap)
{
    QStringList faults;
    const QRect topRect(top->isWindow() ? top->geometry().topLeft() : top->mapTo(top->window(), QPoint(0, 0)), top->size());
    if (top->isWindow() && !screen.contains(topRect))
        faults << QStringLiteral("off screen: %1 placed at %2,%3").arg(describe(top)).arg(topRect.x()).arg(topRect.y());
    const QList<QWidget*> all = shownWidgets(top);
    for (QWidget* w : all) {
        QWidget* parent = w->parentWidget();
        if (!scrolledContent(w) && !parent->rect().contains(w->geometry()))
            faults << QStringLiteral("outside its parent %1: %2").arg(describe(parent), describe(w));
    }
    // A control is hidden where a sibling of it, or of one of its ancestors, is stacked above it.
    for (QWidget* w : all) {
        if (!isControl(w))
            continue;
        // What a scroll area's viewport does not show is reached by scrolling, not covered.
        QRect seen(w->mapToGlobal(QPoint(0, 0)), w->size());
        for (QWidget* branch = w; branch != top && branch->parentWidget(); branch = branch->parentWidget()) {
            QWidget* parent = branch->parentWidget();
            if (auto* area = qobject_cast<QAbstractScrollArea*>(parent); area && area->viewport() == branch)
                seen &= QRect(branch->mapToGlobal(QPoint(0, 0)), branch->size());
            if (seen.isEmpty())
                break;
            const QRect mine(parent->mapFromGlobal(seen.topLeft()), seen.size());
            const QObjectList& siblings = parent->children();
            for (int i = siblings.indexOf(branch) + 1; i < siblings.size(); ++i) {
                auto* above = qobject_cast<QWidget*>(siblings.at(i));
                if (!above || above->isWindow() || !all.contains(above) || !above->geometry().intersects(mine))
                    continue;
                if (mayOverlap && mayOverlap(w, above))
                    continue;
                // A tab bar's own scroll arrows meet by Qt's design.
                if (qobject_cast<QTabBar*>(parent) && w->parentWidget() == parent
                    && w->objectName().startsWith(QLatin1String("Scroll")) && above->objectName().startsWith(QLatin1String("Scroll")))
                    continue;
                // A plain container above only hides what its own controls cover.
                bool hides = isControl(above) || above->autoFillBackground()
                             || above->testAttribute(Qt::WA_StyledBackground) || above->testAttribute(Qt::WA_OpaquePaintEvent)
                             || above->metaObject() != &QWidget::staticMetaObject;
                if (!hides) {
                    for (QWidget* inner : above->findChildren<QWidget*>()) {
                        if (isControl(inner) && all.contains(inner)
                            && QRect(inner->mapTo(parent, QPoint(0, 0)), inner->size()).intersects(mine)
                            && !(mayOverlap && mayOverlap(w, inner))) {
                            hides = true;
                            above = inner;
                            break;
                        }
                    }
                }
                if (hides)
                    faults << QStringLiteral("covered: %1 under %2").arg(describe(w), describe(above));
            }
            if (parent == top)
                break;
        }
    }
    return faults;
}

QStringList layoutFaults(QWidget* top, const QRect& screen, const OverlapAllowed& mayOverlap)
{
    return cutTexts(top) + strayWidgets(top, screen, mayOverlap);
}
