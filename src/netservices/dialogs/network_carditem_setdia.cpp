#include "network_carditem_setdia.h"

#include "combobox.h"
#include "displaytext.h"
#include "edit.h"
#include "editip.h"
#include "globals.h"
#include "labelfit.h"
#include "touchrowdelegate.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QtDebug>

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
constexpr int kRowNotAnAddress = 950;
constexpr int kRowAddressNeeded = 951;

// The editable fields: object name of the IPv4 editor, its title row (-1: "IP :"), its field
// and whether it may stay empty on a card with a static address.
struct AddressField
{
    const char* objectName;
    int titleRow;
    QString stu_netinfo::*field;
    bool emptyWhenStatic;
};
const AddressField kAddressFields[] = {
    {"IPAddressEdite_IP", -1, &stu_netinfo::address, false},
    {"IPAddressEdite_Mask", kRowMask, &stu_netinfo::netmask, false},
    {"IPAddressEdite_Route", kRowGateway, &stu_netinfo::gateway, true},
    {"IPAddressEdite_DNS", kRowDns, &stu_netinfo::dns, true},
};
constexpr int kOctets = 4;
constexpr int kOctetMax = 255;
constexpr int kOctetDigits = 3;

QString fieldTitle(const AddressField& field)
{
    return field.titleRow < 0 ? QStringLiteral("IP :") : lanText(field.titleRow);
}

// The field's name inside a sentence: "IP", not "IP :".
QString fieldName(const AddressField& field)
{
    QString name = fieldTitle(field).simplified();
    while (name.endsWith(QLatin1Char(':')) || name.endsWith(QChar(0xFF1A)) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    return name;
}

// The octets as typed, joined by dots: what the operator sees.
QString typedText(const EditIP* editor)
{
    QStringList parts;
    for (int i = 0; i < kOctets; ++i)
        parts << (editor->octet(i) ? editor->octet(i)->text() : QString());
    return parts.join(QLatin1Char('.'));
}

// The address of the editor: empty when every octet is empty, else four decimal octets
// 0..255 in their plain form; false for anything else, which is never changed into an address.
bool editedAddress(const EditIP* editor, QString* address)
{
    QStringList octets;
    int empty = 0;
    for (int i = 0; i < kOctets; ++i) {
        QString part = editor->octet(i) ? editor->octet(i)->text() : QString();
        part.remove(QLatin1Char('.'));   // a dot typed at the end of an octet only moves on
        bool ok = !part.isEmpty() && part.size() <= kOctetDigits;
        for (const QChar c : qAsConst(part))
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const int value = ok ? part.toInt() : -1;
        empty += part.isEmpty() ? 1 : 0;
        if (value < 0 || value > kOctetMax)
            octets << QString();
        else
            octets << QString::number(value);
    }
    if (empty == kOctets) {
        address->clear();
        return true;
    }
    if (octets.contains(QString()))
        return false;
    *address = octets.join(QLatin1Char('.'));
    return true;
}

// A drop-down worked by finger as the others are: its list scrolls when dragged, a tap picks,
// rows 50 px.
ComboBox* comboBox(const char* name, const QStringList& items, QWidget* parent)
{
    auto* box = new ComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setMinimumWidth(kComboMinW);
    box->addItems(items);
    CComp_DialogFrame::setStyleCombobox(box, new TouchRowDelegate(box), QString());
    return box;
}

Edit* textEdit(const char* name, const QString& text, QWidget* parent)
{
    // The keyboard opens in the settings dialog, not in this scrolled body, which would cut it.
    auto* edit = new Edit(Edit::CharPad | Edit::HostNetDialog | 4, parent);
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
    auto* cancel = new QPushButton(lanText(kRowCancel), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setFixedSize(100, 50);
    cancel->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#E91E63;"));
    LabelFit::fitWidth(cancel);
    connect(cancel, &QPushButton::pressed, this, &QDialog::reject);
    addTitleWgt(cancel);

    auto* column = new QVBoxLayout(m_body);
    column->setContentsMargins(20, 50, 20, 50);
    column->setSpacing(10);

    if (m_card.iswifi) {
        const QStringList ssids = NetworkManager::getInstance()->getHotPoints(m_card.name);
        // The scan's wait dialog had the activation: without it back, the first tap on a
        // field only activates the window and opens no keypad.
        if (parent)
            parent->window()->activateWindow();

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
        // Network names come from the air: listed escaped, taken as they are.
        QComboBox* scanned = comboBox("QComboBox_pLabHotName", {}, m_body);
        QStringList listed = ssids;
        if (!m_card.hotname.isEmpty() && !listed.contains(m_card.hotname))
            listed << m_card.hotname;
        for (const QString& ssid : qAsConst(listed))
            scanned->addItem(escapedForDisplay(ssid), ssid);
        if (!m_card.hotname.isEmpty())
            scanned->setCurrentIndex(scanned->findData(m_card.hotname));
        connect(scanned, &QComboBox::textActivated, name, [scanned, name](const QString& shown) {
            const int index = scanned->findText(shown);
            name->setText(index < 0 ? shown : scanned->itemData(index).toString());
        });
        ssidRow->addWidget(scanned);
        addRow(column, ssidRow);

        auto* passwordRow = new QHBoxLayout;
        passwordRow->addWidget(new QLabel(lanText(kRowPassword), m_body));
        passwordRow->addWidget(textEdit("Edit_editPasswd", m_card.passwd, m_body));
        addRow(column, passwordRow);
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
        auto* editor = new EditIP(fieldTitle(field), kIpPlacementInNetDialog, m_body);
        editor->setObjectName(QString::fromLatin1(field.objectName));
        editor->setFixedWidth(kIpWidth);
        editor->setAddress(m_card.*field.field);
        column->addWidget(editor, 0, Qt::AlignLeft | Qt::AlignVCenter);
    }

    // Shown, in the way the network dialog shows what it refuses, only when an address is refused:
    // under the title bar, beside the confirm button that was pressed, whatever the body's scroll.
    m_refusal = new QLabel(this);
    m_refusal->setObjectName(QStringLiteral("refusalLabel"));
    m_refusal->setStyleSheet(QStringLiteral("QLabel{color:#FFEB3B;}"));
    m_refusal->setWordWrap(true);
    m_refusal->setContentsMargins(20, 0, 20, 0);
    m_refusal->hide();
    addAboveBody(m_refusal);

    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
    setDefaultWgt(this, QStringLiteral("QDialog{background-color:rgb(110,110,110);border: 1px solid #BDBDBD;}"));
    LabelFit::fitIpTitles(this);
    fitToRoom();
}

void Network_CardItem_SetDia::fitToRoom()
{
    // The drawn size, or larger where the rows need it (long translations, the refusal); the
    // room left (the screen, the settings dialog below its title) bounds it, and the body scrolls.
    // Each widget with the look it shows with: a drop-down's own style sheet sets its height.
    for (QWidget* w : findChildren<QWidget*>())
        w->ensurePolished();
    const QSize drawn(kWidth, m_card.iswifi ? kWirelessHeight : kWiredHeight);
    setFixedSize(drawn.expandedTo(contentSize()).boundedTo(QSize(gShowW, gShowH)));
    if (auto* host = qobject_cast<CComp_DialogFrame*>(parentWidget()))
        placeInside(host);
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
    // A text that is no address keeps the card's value; acceptDialog refuses it before this.
    QString address;
    for (const AddressField& field : kAddressFields) {
        if (auto* editor = findChild<EditIP*>(QString::fromLatin1(field.objectName)))
            if (editedAddress(editor, &address))
                m_card.*field.field = address;
    }
    return m_card;
}

QString Network_CardItem_SetDia::refusedAddress() const
{
    return refusal().text;
}

Network_CardItem_SetDia::Refusal Network_CardItem_SetDia::refusal() const
{
    const auto* mode = findChild<QComboBox*>(QStringLiteral("QComboBox_pComTool"));
    const bool dhcp = mode ? mode->currentIndex() == 1 : m_card.isdhcp;
    QString address;
    for (const AddressField& field : kAddressFields) {
        EditIP* editor = findChild<EditIP*>(QString::fromLatin1(field.objectName));
        if (!editor)
            continue;
        if (!editedAddress(editor, &address))
            return {lanText(kRowNotAnAddress).arg(fieldName(field), typedText(editor)), editor};
        if (address.isEmpty() && !dhcp && !field.emptyWhenStatic)
            return {lanText(kRowAddressNeeded).arg(fieldName(field)), editor};
    }
    return {};
}

void Network_CardItem_SetDia::acceptDialog()
{
    const Refusal refused = refusal();
    if (refused.text.isEmpty()) {
        CComp_DialogFrame::acceptDialog();
        return;
    }
    qWarning().noquote() << "card" << m_card.name << "address refused:" << refused.text;
    const bool wasShown = m_refusal->isVisible();
    m_refusal->setText(refused.text);
    m_refusal->show();
    if (!wasShown)
        fitToRoom();
    // The refused row in view, where the finger goes next.
    layout()->activate();
    bodyScroll()->ensureWidgetVisible(refused.editor, 0, 0);
}
