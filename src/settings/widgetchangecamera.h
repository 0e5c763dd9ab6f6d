#pragma once

#include <QDialog>
#include <QVector>

#include <functional>

class CammerWidget;
class ComboBox;
class QGridLayout;

// The camera order screen: one position per camera. A valid order is saved
// through the camera manager and the box restarts so that it takes effect.
class WidgetChangeCamera : public QDialog
{
    Q_OBJECT
public:
    WidgetChangeCamera(QWidget* parent, std::function<void()> restart);

    // Lists the cameras with their present positions and runs the screen.
    int openWith(const QVector<CammerWidget*>& units);
    const QVector<ComboBox*>& positionChoices() const { return m_positions; }

public slots:
    void SlotOK();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void()> m_restart;
    QGridLayout* m_rows = nullptr;
    QVector<QWidget*> m_rowWidgets;
    QVector<ComboBox*> m_positions;
};
