#pragma once

#include <QDialog>
#include <QVector>

#include <functional>
#include <memory>

class ComboBox;
class ControlPort;
class MainWindowBase;
class QLabel;
class QTimer;
class WizardPara;

// The IO page: every input and output with its display name and live state,
// a test switch per output (service level), and in the multi-detection mode
// the IO assignment: detections in use, the row of each detection, the
// trigger input of each row, the input and output functions and sequential
// detection. Edits a copy; Confirm asks, saves, records and renames.
class IOWidget : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 200;

    IOWidget(MainWindowBase* win, ControlPort* io, QWidget* parent);
    ~IOWidget() override;

    // One editable integer of the assignment: its record field, its choices
    // (shown text, stored value) and the name used in the change record.
    struct Choice
    {
        QString name;
        int index;
        std::function<int&(WizardPara&)> ref;
        QVector<QPair<QString, int>> items;
        // Read only when the program starts (the detections are derived at load).
        bool readAtStart = false;
        ComboBox* box = nullptr;
    };
    const QVector<Choice>& choices() const { return m_choices; }
    // Sets a choice by its name (tests, and the combo boxes).
    bool setChoice(const QString& name, int value);
    // Text of every changed item, "name: old -> new", joined by "; ".
    QString changes() const;
    // Names of the changed items that wait for the next start.
    QStringList changesAtStart() const;
    // Fills gaName for the multi-detection mode from the function choices.
    static void refreshNames(const WizardPara& para);

public slots:
    void SlotConfirm();
    void SlotRefresh();
    // Switches a test output; false when refused (no rights), so the button goes back.
    bool SlotTestOutput(int output, bool on);

private:
    void buildStates();
    void buildAssignment();
    static int& field(WizardPara& para, const Choice& choice);
    static int value(const WizardPara& para, const Choice& choice);
    // An NG, the pre-cut, a lost camera or the production alarm keeps this output on.
    bool isHeld(int output) const;

    MainWindowBase* m_win;
    ControlPort* m_io;
    std::unique_ptr<WizardPara> m_edit;
    QVector<Choice> m_choices;
    QVector<QLabel*> m_stateLabels;
    // Puts out the test buttons of outputs the cycle has released.
    void showDrivenOutputs();
    QTimer* m_timer;
    bool m_testAllowed = false;
    unsigned m_testOn = 0;  // outputs this page switched on for a test
};
