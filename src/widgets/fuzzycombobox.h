#pragma once

#include "combobox.h"

class QStringListModel;
class QSortFilterProxyModel;

// Combo box whose items can be narrowed by a search text (case-insensitive).
class FuzzyComboBox : public ComboBox
{
    Q_OBJECT
public:
    explicit FuzzyComboBox(QWidget* parent);

    void setStringList(const QStringList& items);
    void setFilterFixedString(const QString& text);
    // When the filter leaves nothing, clears it and selects index again.
    void checkFilterResult(int index);

private:
    QStringListModel* m_model;
    QSortFilterProxyModel* m_filter;
};
