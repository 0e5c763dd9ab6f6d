#pragma once

#include <QDialog>

// The download dialog's own message box: kind 0 a notice without buttons,
// 1 a notice with a confirm button, 2 a yes / no question.
class v_SelectBox : public QDialog
{
    Q_OBJECT
public:
    enum Kind { Notice = 0, Confirm = 1, Question = 2 };

    v_SelectBox(int x, int y, QWidget* parent, int kind);

    void setText(const QString& text);
    QString text() const { return m_text; }
    int kind() const { return m_kind; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QString m_text;
    int m_x;
    int m_y;
    int m_kind;
};
