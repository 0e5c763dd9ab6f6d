#pragma once

#include <QDialog>
#include <QStringList>

class ColorButton;

// The shared message box: a red text over the background picture and a
// Confirm button. Showing it lights a dark screen.
class WarnBox : public QDialog
{
public:
    explicit WarnBox(QWidget* parent);
    ~WarnBox() override;

    // A text set while another is shown waits until the operator closes that one,
    // then shows (without blocking): no message replaces another unseen.
    void setText(const QString& text);
    // A text that supersedes one of this box's (shown or waiting) takes its place; another is set
    // as setText sets it.
    void replaceText(const QString& previous, const QString& text);
    // The button's text in the language in force (the box may be made before it is loaded).
    void retranslate();
    QString text() const { return m_text; }
    QStringList waitingTexts() const { return m_waiting; }
    ColorButton* okButton() const { return m_ok; }
    // Where the text is drawn: the width of the box, above its button.
    QRect messageRoom() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    // Centred 750 x 370 on the screen (the screen size may be set after construction).
    void placeCentred();

    void showWaiting();

    QString m_text;
    QStringList m_waiting;
    ColorButton* m_ok;
};
