#include "networksettingdialog.h"

#include "c_type_com.h"
#include "edit.h"
#include "editip.h"
#include "globals.h"
#include "labelfit.h"
#include "network_carditem.h"
#include "networkmanager.h"
#include "shellrunner.h"
#include "storedfile.h"
#include "textshowwidget.h"
#include "vek_netmn.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <QtDebug>

namespace {
constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr int kStateIntervalMs = 1000;
constexpr int kPollIntervalMs = 500;
constexpr int kPingReadMs = 100;
constexpr int kPingStartWaitMs = 30000;
constexpr int kPanelGap = 70;
constexpr int kRowSpacing = 10;
constexpr int kServerPort = 10432;

constexpr int kRowTitle = 328;
constexpr int kRowNetworking = 598;
constexpr int kRowVideo = 599;
constexpr int kRowDeviceId = 600;
constexpr int kRowServer = 602;
constexpr int kRowConnected = 607;

// Link state code -> language row; any other code shows "Connection successful".
struct LinkStateText
{
    int code;
    int row;
};
const LinkStateText kLinkStates[] = {{-1, 605}, {-2, 603}, {-3, 604}, {-4, 606}};
constexpr int kLinkNotStarted = -1;

NetworkSettingDialog::LinkStateSource gLinkState;

const char* const kGreyButtonStyle =
    "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:rgb(110,110,110)}"
    "QPushButton:pressed{color:#ffffff;background:#f1c232;}";

QString configPath()
{
    return QStringLiteral("./") + QString::fromLatin1(VEK_NETMN::kConfigPath);
}
} // namespace

void NetworkSettingDialog::setLinkStateSource(LinkStateSource source)
{
    gLinkState = std::move(source);
}

NetworkSettingDialog::NetworkSettingDialog(QWidget* parent)
    : CComp_DialogFrame(lanText(kRowTitle), parent)
    , m_cardTimer(new QTimer(this))
    , m_linkTimer(new QTimer(this))
    , m_pingTimer(new QTimer(this))
{
    setMinimumSize(0, 0);
    placeCentred(QSize(kWidth, kHeight));

    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setFixedSize(100, 50);
    cancel->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#E91E63;"));
    LabelFit::fitWidth(cancel);
    connect(cancel, &QPushButton::pressed, this, &QDialog::reject);
    addTitleWgt(cancel);

    auto* mainRow = new QHBoxLayout(m_body);
    mainRow->setSpacing(100);
    mainRow->setContentsMargins(8, 20, 8, 0);
    // Too narrow for the two columns side by side: the switches go under the cards and the
    // body scrolls up and down, as the settings pages do.
    if (gShowW < kWidth) {
        mainRow->setDirection(QBoxLayout::TopToBottom);
        mainRow->setSpacing(20);
    }

    NetworkManager* manager = NetworkManager::getInstance();
    manager->initnetcard(false);
    manager->NDSpeed_Touch(true, kPollIntervalMs);

    auto* scroll = new QScrollArea(m_body);
    scroll->setMinimumWidth(700);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet(C_Type_COM::getSlider());
    auto* cards = new QWidget(scroll);
    auto* cardColumn = new QVBoxLayout(cards);
    cardColumn->setSpacing(kRowSpacing);
    int cardsHeight = 0;
    const QMap<QString, stu_netinfo> infos = manager->readNetInfo();
    for (const stu_netinfo& info : infos) {
        auto* row = new Network_CardItem(info, cards);
        connect(row, &Network_CardItem::sigUpdateAll, this, &NetworkSettingDialog::slotUpdateAll, Qt::QueuedConnection);
        cardColumn->addWidget(row);
        m_cardRows.insert(info.name, row);
        cardsHeight += row->minimumHeight() + kRowSpacing;
    }
    cards->setFixedSize(800, cardsHeight);
    scroll->setWidget(cards);
    mainRow->addWidget(scroll);

    connect(m_cardTimer, &QTimer::timeout, this, &NetworkSettingDialog::slotTimeout_ChKState);
    m_cardTimer->start(kStateIntervalMs);
    ininconfig();

    auto* right = new QVBoxLayout;
    right->setSpacing(10);
    auto* stateRow = new QHBoxLayout;
    m_linkState = new QLabel(m_body);
    m_linkState->setObjectName(QStringLiteral("lab_showstate"));
    m_linkState->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:20px;color:lightblue;}"));
    stateRow->addWidget(m_linkState);
    auto* apply = new QPushButton(m_body);
    apply->setObjectName(QStringLiteral("applyButton"));
    apply->setIcon(QIcon(QStringLiteral("./images/Rotate.png")));
    apply->setIconSize(QSize(60, 40));
    apply->setFixedSize(100, 50);
    apply->setStyleSheet(QString::fromLatin1(kGreyButtonStyle));
    connect(apply, &QPushButton::clicked, this, &NetworkSettingDialog::slotUpdateZEL);
    stateRow->addWidget(apply);
    right->addLayout(stateRow);

    m_apiBox = new QCheckBox(QStringLiteral("是否开启API接口功能"), m_body);
    m_apiBox->setObjectName(QStringLiteral("apiBox"));
    m_apiBox->setChecked(m_config.device_workapifunc);
    m_netBox = new QCheckBox(lanText(kRowNetworking), m_body);
    m_netBox->setObjectName(QStringLiteral("netBox"));
    m_netBox->setChecked(m_config.device_worknetfunc);
    m_videoBox = new QCheckBox(lanText(kRowVideo), m_body);
    m_videoBox->setObjectName(QStringLiteral("videoBox"));
    m_videoBox->setChecked(m_config.device_workvideo);
    right->addWidget(m_apiBox);
    right->addWidget(m_netBox);
    right->addWidget(m_videoBox);

    auto* idRow = new QHBoxLayout;
    idRow->addWidget(new QLabel(lanText(kRowDeviceId), m_body));
    m_deviceName = new Edit(Edit::CharPad | 4, m_body);
    m_deviceName->setObjectName(QStringLiteral("deviceNameEdit"));
    m_deviceName->setMaximumWidth(200);
    m_deviceName->setText(m_config.devicename);
    idRow->addWidget(m_deviceName);
    idRow->addStretch();
    right->addLayout(idRow);

    m_server = new EditIP(lanText(kRowServer), 0, m_body);
    m_server->setObjectName(QStringLiteral("serverEdit"));
    m_server->setAddress(m_config.serveraddr);
    right->addWidget(m_server);

    connect(m_linkTimer, &QTimer::timeout, this, &NetworkSettingDialog::slotTimeout_ZELState);
    m_linkTimer->start(kStateIntervalMs);

    m_pingPanel = new TextShowWidget(this);
    m_pingPanel->hide();
    m_pingTarget = new Edit(Edit::CharPad | 4, m_body);
    m_pingTarget->setObjectName(QStringLiteral("pingTargetEdit"));
    m_pingTarget->setFixedSize(400, 50);
    m_pingTarget->setText(m_server->getAddress());
    connect(m_server, &EditIP::textchange, m_pingTarget, [this] { m_pingTarget->setText(m_server->getAddress()); });
    connect(m_pingTimer, &QTimer::timeout, this, &NetworkSettingDialog::readPing);
    connect(m_pingPanel, &TextShowWidget::sigHideWidget, this, [this] {
        stopPing();
        m_pingPanel->textBrowser->clear();
    });
    m_pingButton = new QPushButton(QStringLiteral("Ping"), m_body);
    m_pingButton->setObjectName(QStringLiteral("pingButton"));
    m_pingButton->setFixedSize(150, 50);
    m_pingButton->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#00BCD4;"));
    connect(m_pingButton, &QPushButton::clicked, this, &NetworkSettingDialog::startPing);
    auto* pingRow = new QHBoxLayout;
    pingRow->addWidget(m_pingButton);
    pingRow->addWidget(m_pingTarget);
    pingRow->addStretch();
    right->addLayout(pingRow);
    right->addStretch();
    mainRow->addLayout(right);

    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setDefaultWgt(this, QString());
    LabelFit::fitIpTitles(this);
    showLinkState();
    // Long translations need more than 1280 px; the dialog then grows and stays centred,
    // up to the screen's size (a small panel scrolls the body instead).
    placeCentred(contentSize().expandedTo(QSize(kWidth, kHeight)));
}

NetworkSettingDialog::~NetworkSettingDialog()
{
    m_cardTimer->stop();
    m_linkTimer->stop();
    stopPing();
    NetworkManager::getInstance()->NDSpeed_Touch(false, kPollIntervalMs);
}

void NetworkSettingDialog::slotTimeout_ChKState()
{
    if (isHidden())
        return;
    const QMap<QString, stu_speedinfo> table = NetworkManager::getInstance()->speedTable();
    for (auto it = table.begin(); it != table.end(); ++it) {
        auto* row = static_cast<Network_CardItem*>(m_cardRows.value(it.key()));
        if (!row)
            continue;
        row->chgHardWare(it->active);
        row->updateSpeed(it->rate);
    }
}

void NetworkSettingDialog::slotTimeout_ZELState()
{
    if (!isHidden())
        showLinkState();
}

void NetworkSettingDialog::showLinkState()
{
    const int code = gLinkState ? gLinkState() : kLinkNotStarted;
    int row = kRowConnected;
    for (const LinkStateText& state : kLinkStates) {
        if (state.code == code)
            row = state.row;
    }
    m_linkState->setText(lanText(row));
}

void NetworkSettingDialog::slotUpdateAll()
{
    NetworkManager* manager = NetworkManager::getInstance();
    QList<stu_netinfo> cards;
    for (QWidget* row : qAsConst(m_cardRows))
        cards << static_cast<Network_CardItem*>(row)->card();
    QString error;
    if (!manager->writeCardFiles(cards, &error))
        qWarning().noquote() << "card files:" << error;
    manager->initnetcard(true);
    const QMap<QString, stu_netinfo> infos = manager->readNetInfo();
    for (auto it = m_cardRows.begin(); it != m_cardRows.end(); ++it) {
        if (infos.contains(it.key()))
            static_cast<Network_CardItem*>(it.value())->reload_information(infos.value(it.key()));
    }
}

bool NetworkSettingDialog::ininconfig()
{
    QFile file(configPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    const QJsonObject object = doc.object();
    const auto readText = [&object](const char* key, QString& field) {
        if (object.value(QLatin1String(key)).isString())
            field = object.value(QLatin1String(key)).toString();
    };
    const auto readBool = [&object](const char* key, bool& field) {
        if (object.value(QLatin1String(key)).isBool())
            field = object.value(QLatin1String(key)).toBool();
    };
    readText("devicename", m_config.devicename);
    readText("serveraddr", m_config.serveraddr);
    readBool("device_workapifunc", m_config.device_workapifunc);
    readBool("device_worknetfunc", m_config.device_worknetfunc);
    readBool("device_workvideo", m_config.device_workvideo);
    return true;
}

void NetworkSettingDialog::slotUpdateZEL()
{
    m_config.device_workapifunc = m_apiBox->isChecked();
    m_config.device_worknetfunc = m_netBox->isChecked();
    m_config.device_workvideo = m_videoBox->isChecked();
    m_config.devicename = m_deviceName->text();
    m_config.serveraddr = m_server->getAddress();

    QJsonObject object;
    {
        QFile file(configPath());
        if (file.open(QIODevice::ReadOnly)) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
            if (error.error == QJsonParseError::NoError)
                object = doc.object();
        }
    }
    object.insert(QStringLiteral("device_workapifunc"), m_config.device_workapifunc);
    object.insert(QStringLiteral("device_worknetfunc"), m_config.device_worknetfunc);
    object.insert(QStringLiteral("device_workvideo"), m_config.device_workvideo);
    object.insert(QStringLiteral("devicename"), m_config.devicename);
    object.insert(QStringLiteral("serveraddr"), m_config.serveraddr);
    object.insert(QStringLiteral("serverport"), QString::number(kServerPort));
    if (!object.contains(QStringLiteral("videoapp_dir")))
        object.insert(QStringLiteral("videoapp_dir"), m_config.videoapp_dir);
    if (!object.contains(QStringLiteral("workspace")))
        object.insert(QStringLiteral("workspace"), m_config.workspace);

    // Written beside and renamed over only when whole: a crash or a full disk never leaves half a file.
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    m_applyError.clear();
    QString reason;
    if (!StoredFile::write(configPath(), bytes, &reason)) {
        m_applyError = configPath() + QStringLiteral(": ") + reason;
        qWarning().noquote() << "network settings not saved:" << m_applyError;
    }

    VEK_NETMN* hub = VEK_NETMN::getInstance();
    hub->setWorkTask(m_config.device_worknetfunc, m_config.device_workvideo, m_config.device_workapifunc);
    hub->initStart();
}

bool NetworkSettingDialog::lastApplyOk(QString* error) const
{
    if (error)
        *error = m_applyError;
    return m_applyError.isEmpty();
}

void NetworkSettingDialog::startPing()
{
    // Under the button, but inside the dialog: on a small panel the button may sit near its
    // edge, and the panel's close button must stay in reach.
    const QPoint below = m_pingButton->mapTo(this, QPoint(0, m_pingButton->height() + kPanelGap));
    m_pingPanel->move(qBound(0, below.x(), qMax(0, width() - m_pingPanel->width())),
                      qBound(0, below.y(), qMax(0, height() - m_pingPanel->height())));
    m_pingPanel->show();
    m_pingPanel->raise();
    m_pingPanel->textBrowser->clear();
    stopPing();
    const QString target = m_pingTarget->text().trimmed();
    // The target is one argument of ping; one that starts with "-" would be read as an option.
    if (target.isEmpty() || target.startsWith(QLatin1Char('-'))) {
        qWarning().noquote() << "ping target refused:" << target;
        m_pingPanel->textBrowser->append(QStringLiteral("ping: %1: refused").arg(target));
        return;
    }
    qInfo() << "start ping";
    m_ping = ShellRunner::instance().startProcess(QStringLiteral("ping"), {target}, this, kPingStartWaitMs);
    if (m_ping)
        m_pingTimer->start(kPingReadMs);
    qInfo() << "ping finish";
}

void NetworkSettingDialog::readPing()
{
    if (!m_ping || m_ping->bytesAvailable() <= 0)
        return;
    QString text = QString::fromLocal8Bit(m_ping->readAll());
    text.chop(1);
    m_pingPanel->textBrowser->append(text);
}

void NetworkSettingDialog::stopPing()
{
    m_pingTimer->stop();
    if (m_ping) {
        m_ping->close();
        delete m_ping;
        m_ping = nullptr;
    }
}

void NetworkSettingDialog::showEvent(QShowEvent* event)
{
    m_cardTimer->start(kStateIntervalMs);
    m_linkTimer->start(kStateIntervalMs);
    NetworkManager::getInstance()->NDSpeed_Touch(true, kPollIntervalMs);
    CComp_DialogFrame::showEvent(event);
}

void NetworkSettingDialog::hideEvent(QHideEvent* event)
{
    m_cardTimer->stop();
    m_linkTimer->stop();
    stopPing();
    m_pingPanel->hide();
    NetworkManager::getInstance()->NDSpeed_Touch(false, kPollIntervalMs);
    CComp_DialogFrame::hideEvent(event);
}
