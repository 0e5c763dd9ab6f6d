#include "network_carditem.h"

#include "globals.h"
#include "network_carditem_setdia.h"
#include "networkdialogs.h"
#include "networksettingdialog.h"
#include "numberinput.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kRowW = 680;
constexpr int kRowH = 120;
constexpr int kUpdateDelayMs = 100;
constexpr int kJapanese = 3;

const char* const kRowStyle =
    "QWidget{border-style:solid;background-color:rgb(110,110,110);border: 0px;border-left: 10px solid %1;}";
const char* const kSmallWhite = "QLabel{outline:0px;border:none;font-size:15px;color:white;}";
const char* const kPriorityText = "优先启用";

QString rowStyle(bool running)
{
    return QString::fromLatin1(kRowStyle).arg(running ? QStringLiteral("green") : QStringLiteral("red"));
}

QLabel* smallLabel(const QString& text, const char* name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setStyleSheet(QString::fromLatin1(kSmallWhite));
    return label;
}

QLabel* pictureLabel(const char* file, int size, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setFixedSize(size, size);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(QPixmap(QString::fromLatin1(file)));
    return label;
}
} // namespace

Network_CardItem::Network_CardItem(stu_netinfo card, QWidget* parent)
    : QWidget(parent)
    , m_card(std::move(card))
{
    setFixedSize(kRowW, kRowH);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(rowStyle(false));

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(30, 0, 10, 0);
    outer->setSpacing(5);
    auto* inner = new QWidget(this);
    inner->setMinimumWidth(620);
    // The row's coloured left border is for the row alone, not every widget in it.
    inner->setStyleSheet(QStringLiteral("QWidget{border:none;}"));
    outer->addWidget(inner);
    auto* row = new QHBoxLayout(inner);
    row->setSpacing(10);
    row->setContentsMargins(30, 0, 0, 0);

    auto* text = new QVBoxLayout;
    text->setSpacing(10);
    text->addStretch();
    auto* line1 = new QHBoxLayout;
    line1->setSpacing(20);
    if (m_card.iswifi)
        line1->addWidget(pictureLabel("./images/wifi.png", 40, inner));
    auto* name = new QLabel(m_card.name, inner);
    name->setObjectName(QStringLiteral("labname"));
    name->setMinimumWidth(300);
    name->setStyleSheet(
        QStringLiteral("QLabel{outline:0px;border:none;font-weight:bold;font-size:30px;color:lightblue;}"));
    line1->addWidget(name);
    QLabel* mac = smallLabel(m_card.mac, "labmac", inner);
    mac->setMaximumWidth(150);
    line1->addWidget(mac);
    m_speed = new QLabel(inner);
    m_speed->setObjectName(QStringLiteral("labspeed"));
    m_speed->setMinimumWidth(80);
    m_speed->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:15px;color:lightblue;}"));
    line1->addWidget(m_speed);
    line1->addStretch();
    text->addLayout(line1);

    auto* line2 = new QHBoxLayout;
    line2->setSpacing(20);
    line2->addWidget(smallLabel(m_card.address, "labip", inner));
    line2->addWidget(smallLabel(m_card.netmask, "labmask", inner));
    line2->addWidget(smallLabel(m_card.gateway, "labroute", inner));
    line2->addStretch();
    text->addLayout(line2);

    auto* line3 = new QHBoxLayout;
    QLabel* tip = smallLabel(m_card.describe, "labtip", inner);
    tip->setMaximumWidth(400);
    tip->setVisible(gLan != kJapanese);
    line3->addWidget(tip);
    line3->addStretch();
    QLabel* priority = smallLabel(m_card.ispriority ? QString::fromUtf8(kPriorityText) : QString(), "labpriority", inner);
    priority->setFixedSize(80, 20);  // the whole height of its 15 px text
    line3->addWidget(priority);
    text->addLayout(line3);
    text->addStretch();
    row->addLayout(text);
    row->addStretch();

    QLabel* use = pictureLabel("./images/error.png", 60, inner);
    use->setObjectName(QStringLiteral("labuse"));
    use->setVisible(!m_card.use);
    row->addWidget(use);

    auto* modify = new QPushButton(inner);
    modify->setObjectName(QStringLiteral("modifyButton"));
    modify->setIcon(QIcon(QStringLiteral("./images/modify.png")));
    modify->setIconSize(QSize(40, 40));
    modify->setFixedSize(60, 60);
    modify->setStyleSheet(QStringLiteral(
        "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:rgb(110,110,110)}"
        "QPushButton:pressed{color:#ffffff;background:#f1c232;}"));
    connect(modify, &QPushButton::released, this, &Network_CardItem::slotChgCardInfo, Qt::QueuedConnection);
    row->addWidget(modify);

    if (m_card.ispriority)
        NetworkManager::getInstance()->setPriorityCardName(m_card.name);
}

QLabel* Network_CardItem::label(const char* name) const
{
    return findChild<QLabel*>(QString::fromLatin1(name));
}

void Network_CardItem::chgHardWare(bool running)
{
    setStyleSheet(rowStyle(running));
    update();
}

void Network_CardItem::updateSpeed(const QString& rate)
{
    m_speed->setText(rate);
    update();
}

QString Network_CardItem::speedText() const
{
    return m_speed->text();
}

void Network_CardItem::reload_information(stu_netinfo card)
{
    m_card = std::move(card);
    label("labip")->setText(m_card.address);
    label("labmask")->setText(m_card.netmask);
    label("labroute")->setText(m_card.gateway);
    label("labtip")->setText(m_card.describe);
    label("labuse")->setVisible(!m_card.use);
    label("labpriority")->setText(m_card.ispriority ? QString::fromUtf8(kPriorityText) : QString());
    update();
}

void Network_CardItem::slotChgCardInfo()
{
    // Inside the settings dialog, below its title bar.
    Network_CardItem_SetDia editor(m_card, gpNetDialog);
    const int result = editor.exec();
    if (gpNumPad) {
        // Made again on the next press, inside whichever dialog asks for it.
        gpNumPad->close();
        gpNumPad->deleteLater();
        gpNumPad = nullptr;
    }
    if (result != QDialog::Accepted)
        return;
    m_card = editor.getNetINfo();
    if (m_card.ispriority)
        NetworkManager::getInstance()->setPriorityCardName(m_card.name);
    QTimer::singleShot(kUpdateDelayMs, this, &Network_CardItem::sigUpdateAll);
    NetDialogs::stopTouchHold();
}
