#include "network_carditem_setdia.h"

#include "edit.h"
#include "editip.h"
#include "globals.h"
#include "labelfit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {
constexpr int kWidth = 800;
constexpr int kWiredHeight = 500;
constexpr int kWirelessHeight = 800;
constexpr int kComboMinW = 300;
constexpr int kEditMaxW = 300;
constexpr int kIpWidth = 550;
constexpr int kIpPlacementInNetDialog = 1;
constexpr int kLabelMaxW = 380;

// Language rows shown by the editor.
constexpr int kRowCancel = 124;
constexpr int kRowActive = 250;
constexpr int kRowDeactive = 251;
constexpr int kRowMask = 330;
constexpr int kRowStatic = 608;
constexpr int kRowAutomatic = 609;
constexpr int kRowMode = 610;
constexpr int kRowGateway = 611;
constexpr int kRowDns = 612;
constexpr int kRowEnableCard = 613;
constexpr int kRowPassword = 669;

// The editable fields: object name of the IPv4 editor, its title row (-1: "IP :") and its field.
struct AddressField
{
    const char* objectName;
    int titleRow;
    QString stu_netinfo::*field;
};
const AddressField kAddressFields[] = {
    {"IPAddressEdite_IP", -1, &stu_netinfo::address},
    {"IPAddressEdite_Mask", kRowMask, &stu_netinfo::netmask},
    {"IPAddressEdite_Route", kRowGateway, &stu_netinfo::gateway},
    {"IPAddressEdite_DNS", kRowDns, &stu_netinfo::dns},
};

QComboBox* comboBox(const char* name, const QStringList& items, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setMinimumWidth(kComboMinW);
    box->addItems(items);
    CComp_DialogFrame::setStyleCombobox(box, new QStyledItemDelegate(box), QString());
    return box;
}

Edit* textEdit(const char* name, const QString& text, QWidget* parent)
{
    auto* edit = new Edit(Edit::CharPad | 4, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaximumWidth(kEditMaxW);
    if (!text.isEmpty())
        edit->setText(text);
    return edit;
}
} // namespace

Network_CardItem_SetDia::Network_CardItem_SetDia(stu_netinfo card, QWidget* parent)
    : CComp_DialogFrame(QStringLiteral("Net_Card Setting"), parent)
    , m_card(std::move(card))
{
    setMinimumSize(0, 0);
    setFixedSize(QSize(kWidth, kWiredHeight).boundedTo(QSize(gShowW, gShowH)));
    auto* cancel = new QPushButton(lanText(kRowCancel), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setFixedSize(100, 50);
    cancel->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#E91E63;"));
    connect(cancel, &QPushButton::pressed, this, &QDialog::reject);
    addTitleWgt(cancel);

    auto* column = new QVBoxLayout(m_body);
    column->setContentsMargins(20, 50, 20, 50);
    column->setSpacing(10);

    if (m_card.iswifi) {
        const QStringList ssids = NetworkManager::getInstance()->getHotPoints(m_card.name);

        auto* useRow = new QHBoxLayout;
        useRow->addWidget(new QLabel(lanText(kRowEnableCard), m_body));
        QComboBox* use = comboBox("QComboBox_pComUse", {lanText(kRowActive), lanText(kRowDeactive)}, m_body);
        use->setCurrentIndex(m_card.use ? 0 : 1);
        useRow->addWidget(use);
        addRow(column, useRow);

        auto* ssidRow = new QHBoxLayout;
        ssidRow->addWidget(new QLabel(QStringLiteral("wifi名称:"), m_body));
        Edit* name = textEdit("Edit_editHotName", m_card.hotname, m_body);
        ssidRow->addWidget(name);
        QComboBox* scanned = comboBox("QComboBox_pLabHotName", ssids, m_body);
        if (!m_card.hotname.isEmpty()) {
            if (scanned->findText(m_card.hotname) < 0)
                scanned->addItem(m_card.hotname);
            scanned->setCurrentText(m_card.hotname);
        }
        connect(scanned, &QComboBox::textActivated, name, &QLineEdit::setText);
        ssidRow->addWidget(scanned);
        addRow(column, ssidRow);

        auto* passwordRow = new QHBoxLayout;
        passwordRow->addWidget(new QLabel(lanText(kRowPassword), m_body));
        passwordRow->addWidget(textEdit("Edit_editPasswd", m_card.passwd, m_body));
        addRow(column, passwordRow);

        setFixedSize(QSize(kWidth, kWirelessHeight).boundedTo(QSize(gShowW, gShowH)));
    }

    auto* modeRow = new QHBoxLayout;
    auto* modeLabel = new QLabel(lanText(kRowMode), m_body);
    modeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    modeRow->addWidget(modeLabel);
    QComboBox* mode = comboBox("QComboBox_pComTool", {lanText(kRowStatic), lanText(kRowAutomatic)}, m_body);
    mode->setCurrentIndex(m_card.isdhcp ? 1 : 0);
    modeRow->addWidget(mode);
    auto* priority = new QCheckBox(QStringLiteral("优先"), m_body);
    priority->setObjectName(QStringLiteral("RouteMetric"));
    priority->setChecked(m_card.ispriority);
    modeRow->addWidget(priority);
    addRow(column, modeRow);

    for (const AddressField& field : kAddressFields) {
        auto* editor = new EditIP(field.titleRow < 0 ? QStringLiteral("IP :") : lanText(field.titleRow),
                                  kIpPlacementInNetDialog, m_body);
        editor->setObjectName(QString::fromLatin1(field.objectName));
        editor->setFixedWidth(kIpWidth);
        editor->setAddress(m_card.*field.field);
        column->addWidget(editor, 0, Qt::AlignLeft | Qt::AlignVCenter);
    }

    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
    setDefaultWgt(this, QStringLiteral("QDialog{background-color:rgb(110,110,110);border: 1px solid #BDBDBD;}"));
    LabelFit::fitIpTitles(this);
}

void Network_CardItem_SetDia::addRow(QBoxLayout* column, QLayout* row)
{
    if (auto* label = qobject_cast<QLabel*>(row->itemAt(0)->widget()))
        LabelFit::fit(label, kLabelMaxW);
    row->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    column->addLayout(row);
}

stu_netinfo Network_CardItem_SetDia::getNetINfo()
{
    if (auto* use = findChild<QComboBox*>(QStringLiteral("QComboBox_pComUse")))
        m_card.use = use->currentIndex() == 0;
    if (auto* name = findChild<Edit*>(QStringLiteral("Edit_editHotName")))
        m_card.hotname = name->text();
    if (auto* password = findChild<Edit*>(QStringLiteral("Edit_editPasswd")))
        m_card.passwd = password->text();
    if (auto* mode = findChild<QComboBox*>(QStringLiteral("QComboBox_pComTool")))
        m_card.isdhcp = mode->currentIndex() == 1;
    if (auto* priority = findChild<QCheckBox*>(QStringLiteral("RouteMetric")))
        m_card.ispriority = priority->isChecked();
    for (const AddressField& field : kAddressFields) {
        if (auto* editor = findChild<EditIP*>(QString::fromLatin1(field.objectName)))
            m_card.*field.field = editor->getAddress();
    }
    return m_card;
}
