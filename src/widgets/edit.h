#pragma once

#include <QLineEdit>

// The touch line edit. A press opens one of the two shared keypads beside it;
// the keypads write into the main window's current edit (curEdit) through
// addValue/deleteValue, which a subclass may turn into something else.
//
// Type flags: 2 full keyboard (else the number keypad); 8 the keypad is hosted
// one level out, 16 two levels out, 32 inside the network settings dialog.
// 1 and 4 are carried and change nothing.
class Edit : public QLineEdit
{
    Q_OBJECT
public:
    enum TypeFlag { CharPad = 2, HostOneUp = 8, HostTwoUp = 16, HostNetDialog = 32 };

    Edit(int type, QWidget* parent, int style = 0);
    ~Edit() override;

    int type() const { return m_type; }
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }

    // The text read as a decimal integer; 0 when it is no number.
    int value() const;
    void setValue(int value);
    void setValue(double value);
    // The text is clamped to the bounds from its next change on; -1 turns clamping off.
    void setRange(int min, int max);

    virtual void addValue(QString key, bool replace);
    virtual void deleteValue(bool& empty);

    // The edit the keypads serve (null when none or no main window).
    static Edit* current();
    static void setCurrent(Edit* edit);

    // Places the keypad this edit uses just below it in its host and shows it.
    void showKeypad();

    // For an edit whose text is its value: an entry on the number keypad that is left
    // without Confirm (a tap elsewhere) with the edit empty shows the text back that the
    // keypad cleared, as a value box shows its value again.
    void setRestoresOnLeave(bool restores) { m_restoresOnLeave = restores; }
    // Confirm on the keypad: the entry ends with what the edit holds, empty too.
    void confirmEntry() { m_entryOpen = false; }

signals:
    void focusOut();
    void sig_Dot();

public slots:
    void SlotRange(QString text);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QWidget* netDialogHost() const;
    void leaveEntry();

    int m_type;
    int m_min = -1;
    int m_max = -1;
    bool m_restoresOnLeave = false;
    bool m_entryOpen = false;
    QString m_textBeforeEntry;
};
