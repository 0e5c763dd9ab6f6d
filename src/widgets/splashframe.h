#pragma once

#include <QPointer>
#include <QSplashScreen>

class QDialog;
class QProgressBar;

// The start-up picture: background, a progress bar and a line of text.
// flushstep(100) takes the content down; later calls do nothing.
class SplashFrame : public QSplashScreen
{
public:
    SplashFrame();

    void flushstep(int percent, QString text);
    QString getStyle();

    int shownValue() const { return m_shown; }
    // Out of line: the pointers convert only where their classes are complete.
    QProgressBar* progressBar() const;
    QDialog* innerPanel() const;

private:
    QPointer<QProgressBar> m_bar;
    QPointer<QDialog> m_panel;
    int m_shown = 0;
};

// True when the program runs with the development machine's Qt platform plug-in path.
bool isOpen_Env();
