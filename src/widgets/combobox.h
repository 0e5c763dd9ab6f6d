#pragma once

#include <QComboBox>

// Combo box that never takes the focus and reports every press as clicked().
// Its list opens when a finger taps the box, not on the press: a stroke that
// opened the list on its press went on into the list, and its lift picked the
// row under the finger. A drag that starts on the box opens nothing, and a drag
// over the open list scrolls it or does nothing: only a tap on a row picks.
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
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    class RowDelegate;
    RowDelegate* m_rows;
    bool m_pressed = false;
    QObject* m_listViewport = nullptr;
    QPoint m_listPressAt;          // where the finger came down on the open list
    bool m_listDragged = false;    // and moved on from there since
};
