#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

// Answers the next modal dialog the way an operator would: once a modal
// widget is active it is handed to the action (which usually presses a
// button). Arm it before the call that runs exec().
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    using Action = std::function<void(QWidget* modal)>;

    // Polls every 20 ms for up to timeoutMs for an active modal widget.
    explicit ModalAnswerer(Action action, int timeoutMs = 5000);

    // Presses the first visible button of the modal whose text or object name matches.
    static ModalAnswerer* pressButton(const QString& textOrName, int timeoutMs = 5000);
    // Accepts (done(1)) or rejects (done(0)) the modal dialog.
    static ModalAnswerer* finishDialog(int result, int timeoutMs = 5000);

    bool answered() const { return m_answered; }
    QString seenText() const { return m_seenText; }

private:
    void poll();

    Action m_action;
    int m_remainingMs;
    bool m_answered = false;
    QString m_seenText;
};

// Presses (mouse press and release at the centre) a widget as a touch would.
void touch(QWidget* widget);
