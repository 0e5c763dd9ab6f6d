#pragma once

#include <QDateTime>
#include <QWidget>

class QDateEdit;
class QLabel;
class QTimeEdit;

// Date and time editor that sets the system and hardware clocks.
class EditDateTime : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCommandTimeoutMs = 3000;

    EditDateTime(const QString& title, QWidget* parent);

    // Loads the current date and time into the editors.
    void ShowDateTime();
    // Runs "date -s" and then "hwclock --systohc"; false when either fails or
    // times out (the caller then warns and records nothing).
    bool setSysDateTime();

    QDateEdit* dateEdit() const { return m_date; }
    QTimeEdit* timeEdit() const { return m_time; }
    QDateTime dateTime() const { return m_dateTime; }

private:
    QDateEdit* m_date;
    QTimeEdit* m_time;
    QLabel* m_title;
    QDateTime m_dateTime;
};
