#pragma once

#include <QObject>
#include <QPointer>
#include <QVector>

class IndexButton;
class QWidget;

// Gives the main screen its button panel back as it stood before a screen opened
// over it: the settings screen and the ROI editor hide the panel, and its
// auto-hide may fire while the statistics screen or the IO page is up.
class PanelKeeper : public QObject
{
    Q_OBJECT
public:
    PanelKeeper(IndexButton* panel, QObject* parent);

    // A screen that returns to the main screen when it hides.
    void watch(QWidget* screen);
    // Notes the panel now, before an opening screen hides it; a screen's own
    // show notes it too, unless a note is already standing.
    void remember();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool anyScreenOpen() const;
    void restore();

    QPointer<IndexButton> m_panel;
    QVector<QPointer<QWidget>> m_screens;
    bool m_noted = false;
    bool m_wasShown = false;
};
