#pragma once

#include <QWidget>

class QTextBrowser;

// Framed text output panel with a close button; the owner appends to and
// clears the text browser.
class TextShowWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TextShowWidget(QWidget* parent);

    QTextBrowser* textBrowser;

signals:
    void sigHideWidget();
};
