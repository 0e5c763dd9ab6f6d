#pragma once

#include <QComboBox>

// Combo box that never takes the focus and reports every press as clicked().
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

private:
    class RowDelegate;
    RowDelegate* m_rows;
};
