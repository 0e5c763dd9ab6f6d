#pragma once

#include <QDialog>
#include <QJsonObject>

class CheckBox;
class Edit;

// Settings of the NG image copy to the USB disk: days to keep, use of the
// disk, warning when the disk is lost. Exchanged as a JSON object of ints.
class SaveImageSettingDailog : public QDialog
{
    Q_OBJECT
public:
    explicit SaveImageSettingDailog(QWidget* parent = nullptr);

    void init(QJsonObject obj);
    void save(QJsonObject& obj) const;
    void setDays(int days);
    int getDays(bool* ok) const;

    Edit* daysEdit() const { return m_days; }
    CheckBox* alarmBox() const { return m_alarm; }
    CheckBox* useDiskBox() const { return m_useDisk; }

private:
    Edit* m_days = nullptr;
    CheckBox* m_alarm = nullptr;
    CheckBox* m_useDisk = nullptr;
};
