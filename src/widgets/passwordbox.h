#pragma once

#include <QDialog>

class ColorButton;
class Edit;

// The login dialog (gpPasswordBox). A correct entry sets the main window's
// login level: 1 for the configured operator password, 2 for the service code.
class PasswordBox : public QDialog
{
    Q_OBJECT
public:
    explicit PasswordBox(QWidget* parent);
    ~PasswordBox() override;

    // The level-2 code at this moment: the 4-digit service code, followed by
    // "MMddhh" of the local time while password protection is on.
    static QString serviceCode();

    Edit* entry() const { return m_edit; }
    ColorButton* okButton() const { return m_ok; }
    ColorButton* cancelButton() const { return m_cancel; }
    int wrongMark() const { return m_wrong; }

    // Opened from a modal page above the main window, the box is shown above that page.
    int exec() override;

public slots:
    void accept() override;
    void SlotTextChanged(QString text);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void placeCentred();

    ColorButton* m_ok;
    ColorButton* m_cancel;
    Edit* m_edit;
    int m_wrong = 0;
};
