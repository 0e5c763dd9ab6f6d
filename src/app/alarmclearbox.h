#pragma once

#include <QDialog>

// The choice of how a standing NG alarm is cleared, offered when the operator
// leaves the alarm: don't detect (the NG pixels become ignore points), add as
// template, re-detect, or re-detect switched to the mould detection.
class AlarmClearBox : public QDialog
{
    Q_OBJECT
public:
    // withMould: the switch to the mould detection is offered (it exists and is not the NG one).
    AlarmClearBox(QWidget* parent, bool withMould);

    // The chosen method (AlarmClearMethod), 0 when cancelled: the alarm stands.
    static int choose(QWidget* parent, bool withMould);

protected:
    void paintEvent(QPaintEvent* event) override;
};
