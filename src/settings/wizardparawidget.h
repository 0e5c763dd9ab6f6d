#pragma once

#include <QVector>
#include <QWidget>

class CammerWidget;
class MainWindowBase;

// The settings screen. For now only the live camera setters: each writes the
// edited value into gpWParaBak for the camera shown and pushes it to that
// camera at once. The full settings screen fills in the rest.
class WizardParaWidget : public QWidget
{
    Q_OBJECT
public:
    explicit WizardParaWidget(MainWindowBase* window, QWidget* parent = nullptr);

    void setCameraUnits(const QVector<CammerWidget*>& units) { m_units = units; }
    // The camera whose settings are shown.
    int shownCamera = 0;

public slots:
    void SetExposeTime(int value);
    void SetAdjust(int value);
    void SetSharp(int value);
    void SetContrast(int value);
    void SetGamma(int value);
    void SetSaturation(int value);
    void Set3DNoise(int value);
    // Pushes the edited 2D noise value of the camera shown.
    void set2DNoise();
    void SetAutoWDR(int value);
    // Flip the mirror of the camera shown.
    void SetHMirror();
    void SetVMirror();

private:
    CammerWidget* shownUnit() const;

    MainWindowBase* m_win;
    QVector<CammerWidget*> m_units;
};
