#pragma once

#include <QDialog>
#include <QPair>
#include <QString>

class QButtonGroup;
class QDateEdit;

// Chooses the day range of a statistics export: a preset (1, 7, 30, 180,
// 365 days up to today) or a custom start and end date.
class DateSeletDialog : public QDialog
{
    Q_OBJECT
public:
    explicit DateSeletDialog(QWidget* parent = nullptr);

    // (start, end) as "yyyy-MM-dd".
    QPair<QString, QString> getDays() const;
    void updateDate();
    void choosePreset(int id);
    int mode() const { return presetMode; }
    QDateEdit* startEdit() const { return m_start; }
    QDateEdit* endEdit() const { return m_end; }

private:
    QButtonGroup* m_presets = nullptr;
    QDateEdit* m_start = nullptr;
    QDateEdit* m_end = nullptr;
    int presetMode = 0;
};
