#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTest>
#include <QTimer>

ModalAnswerer::ModalAnswerer(Action action, int timeoutMs)
    : QObject(qApp)
    , m_action(std::move(action))
    , m_remainingMs(timeoutMs)
{
    QTimer::singleShot(20, this, &ModalAnswerer::poll);
}

void ModalAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) {
        for (const QLabel* label : modal->findChildren<QLabel*>())
            m_seenText += label->text() + '\n';
        m_answered = true;
        m_action(modal);
        deleteLater();
        return;
    }
    m_remainingMs -= 20;
    if (m_remainingMs <= 0) {
        deleteLater();
        return;
    }
    QTimer::singleShot(20, this, &ModalAnswerer::poll);
}

ModalAnswerer* ModalAnswerer::pressButton(const QString& textOrName, int timeoutMs)
{
    return new ModalAnswerer([textOrName](QWidget* modal) {
        for (QAbstractButton* button : modal->findChildren<QAbstractButton*>()) {
            if (button->isVisible() && (button->text() == textOrName || button->objectName() == textOrName)) {
                touch(button);
                return;
            }
        }
    }, timeoutMs);
}

ModalAnswerer* ModalAnswerer::finishDialog(int result, int timeoutMs)
{
    return new ModalAnswerer([result](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(result);
    }, timeoutMs);
}

void touch(QWidget* widget)
{
    const QPoint centre = widget->rect().center();
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, centre);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, centre);
}
