#pragma once

#include <QComboBox>
#include <QPoint>

// Combo box that never takes the focus and reports every press as clicked().
// Its list opens when a finger taps the box, not on the press: a stroke that
// opened the list on its press went on into the list, and its lift picked the
// row under the finger. A stroke that moves past the drag distance, on the box
// or beyond it, opens nothing, and a drag over the open list scrolls it or does
// nothing: only a tap on a row picks.
class ComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ComboBox(QWidget* parent);

    // Replaces the whole style sheet with the drop-down item height; the rows
    // of the drop-down list take that height, but never less than 50 px.
    void setItemHeight(int px);

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // A finger from where it came down (screen coordinates): a tap until it
    // moves past the drag distance in any direction.
    struct Stroke
    {
        QPoint from;
        bool dragged = false;
        void press(const QPoint& at);
        void move(const QPoint& at);
    };
    class WindowStrokes;
    static const Stroke& windowStroke();

    bool m_pressed = false;
    Stroke m_boxStroke;
    QObject* m_listViewport = nullptr;
    Stroke m_listStroke;
};
