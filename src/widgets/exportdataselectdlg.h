#pragma once

#include <QDialog>
#include <QVector>

class CheckBox;
class QCheckBox;

// Picks what the data export writes: a master box for all items and one
// box per item, four to a row.
class ExportDataSelectDlg : public QDialog
{
public:
    ExportDataSelectDlg(QStringList items, QString title, QWidget* parent);

    void updateMainCheckState();
    // Checked master: only the title; unchecked: nothing; partly: the checked items in order.
    QStringList getResult();

    CheckBox* masterBox() const { return m_master; }
    const QVector<QCheckBox*>& itemBoxes() const { return m_items; }

private:
    CheckBox* m_master;
    QVector<QCheckBox*> m_items;
};
