#include "exportdataselectdlg.h"

#include "checkbox.h"
#include "colorbutton.h"
#include "warnbox.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {
constexpr int kBoxesPerRow = 4;
constexpr int kButtonClass = 3;
}

ExportDataSelectDlg::ExportDataSelectDlg(QStringList items, QString title, QWidget* parent)
    : QDialog(parent)
{
    m_master = new CheckBox(this, title);

    auto* itemsArea = new QVBoxLayout;
    QHBoxLayout* row = nullptr;
    for (const QString& text : items) {
        if (m_items.size() % kBoxesPerRow == 0) {
            row = new QHBoxLayout;
            itemsArea->addLayout(row);
        }
        auto* box = new CheckBox(this, text);
        connect(box, &QCheckBox::toggled, this, [this] { updateMainCheckState(); });
        m_items.append(box);
        row->addWidget(box);
    }
    itemsArea->setContentsMargins(30, 10, 0, 0);

    connect(m_master, &QCheckBox::clicked, this, [this](bool checked) {
        for (QCheckBox* box : qAsConst(m_items)) {
            const bool blocked = box->blockSignals(true);
            box->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
            box->blockSignals(blocked);
        }
        updateMainCheckState();
    });

    auto* exportButton = new ColorButton(tr("导出"), this, kButtonClass);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        if (m_master->checkState() == Qt::Unchecked) {
            WarnBox warn(this);
            warn.setText(tr("未选择要导出的文件，请重新选择"));
            warn.exec();
            return;
        }
        accept();
    });
    auto* exitButton = new ColorButton(tr("退出"), this, kButtonClass);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(exportButton);
    buttons->addWidget(exitButton);
    buttons->setSpacing(20);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_master);
    layout->addLayout(itemsArea);
    layout->addSpacing(20);
    layout->addLayout(buttons);
    layout->setContentsMargins(30, 30, 30, 30);

    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
    setStyleSheet(QStringLiteral("QDialog {   border: 2px solid #FFFFFF;   background-image: url(./images/background.png)}"
                                 "QCheckBox {   font-size: 24px;   color: yellow;   height: 50px;}"
                                 "QPushButton {   font-size: 24px;   color: white;   height: 50px;}"));
}

void ExportDataSelectDlg::updateMainCheckState()
{
    int checked = 0;
    int unchecked = 0;
    for (const QCheckBox* box : qAsConst(m_items)) {
        if (box->checkState() == Qt::Checked)
            ++checked;
        else if (box->checkState() == Qt::Unchecked)
            ++unchecked;
    }
    const bool blocked = m_master->blockSignals(true);
    if (checked == m_items.size())
        m_master->setCheckState(Qt::Checked);
    else if (unchecked == m_items.size())
        m_master->setCheckState(Qt::Unchecked);
    else
        m_master->setCheckState(Qt::PartiallyChecked);
    m_master->blockSignals(blocked);
}

QStringList ExportDataSelectDlg::getResult()
{
    switch (m_master->checkState()) {
    case Qt::Checked:
        return {m_master->text()};
    case Qt::Unchecked:
        return {};
    default:
        break;
    }
    QStringList result;
    for (const QCheckBox* box : qAsConst(m_items)) {
        if (box->checkState() == Qt::Checked)
            result.append(box->text());
    }
    return result;
}
