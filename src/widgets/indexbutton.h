#pragma once

#include <QWidget>

class ColorButton;
class ComboBox;
class MainWindowBase;
class QPushButton;
class QTimer;

// The main screen's button column at the right edge: the logo and the main
// actions. Touches on a camera view restart its two-minute auto-hide.
class IndexButton : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 240;
    static constexpr int kLogoHeight = 96;
    static constexpr int kAutoHideMs = 120000;

    explicit IndexButton(MainWindowBase* parent);

    void Reset();
    void ResetComboChooseManualTrig();
    int CurChooseTrig() const;
    void ShowHide(int mode);
    void checkShowHide();

    int shownFlag() const { return m_shown; }
    QTimer* autoHideTimer() const { return m_timer; }
    QPushButton* logoButton() const { return m_logo; }
    ColorButton* multiScreenButton() const { return m_multiScreen; }
    ColorButton* startStopButton() const { return m_startStop; }
    ColorButton* systemParaButton() const { return m_systemPara; }
    ColorButton* resampleButton() const { return m_resample; }
    ColorButton* areaButton() const { return m_area; }
    ColorButton* statisticsButton() const { return m_statistics; }
    ColorButton* mouldSnapButton() const { return m_mouldSnap; }
    ColorButton* productSnapButton() const { return m_productSnap; }
    ColorButton* choiceSnapButton() const { return m_choiceSnap; }
    ComboBox* detectionChoice() const { return m_choice; }

public slots:
    void SlotShowHideTimeout();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Lowers the rows below the logo, when needed, so that every shown row fits the column.
    void fitRows();

    int m_shown = 0;
    QTimer* m_timer = nullptr;
    QPushButton* m_logo = nullptr;
    ColorButton* m_multiScreen = nullptr;
    ColorButton* m_startStop = nullptr;
    ColorButton* m_systemPara = nullptr;
    ColorButton* m_resample = nullptr;
    ColorButton* m_area = nullptr;
    ColorButton* m_statistics = nullptr;
    ColorButton* m_mouldSnap = nullptr;
    ColorButton* m_productSnap = nullptr;
    ColorButton* m_choiceSnap = nullptr;
    ComboBox* m_choice = nullptr;
};
