#include "fuzzycombobox.h"

#include <QSortFilterProxyModel>
#include <QStringListModel>

FuzzyComboBox::FuzzyComboBox(QWidget* parent)
    : ComboBox(parent)
    , m_model(new QStringListModel(this))
    , m_filter(new QSortFilterProxyModel(this))
{
    m_filter->setSourceModel(m_model);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    setModel(m_filter);
}

void FuzzyComboBox::setStringList(const QStringList& items)
{
    m_model->setStringList(items);
}

void FuzzyComboBox::setFilterFixedString(const QString& text)
{
    m_filter->setFilterFixedString(text);
}

void FuzzyComboBox::checkFilterResult(int index)
{
    if (m_filter->rowCount() > 0)
        return;
    m_filter->setFilterFixedString(QString());
    setCurrentIndex(index);
}
