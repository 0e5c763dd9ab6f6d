#include "splashframe.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QtDebug>

namespace {
constexpr int kPanelW = 1920;
constexpr int kPanelH = 1080;
constexpr int kBarW = 500;
constexpr int kBarH = 50;
constexpr int kLabelMinW = 600;
constexpr int kLastStep = 99;
const char* const kLabelName = "loadlabel";
const char* const kDevelopmentPluginPath = "/opt/Qt5.15.7/plugins/platforms";
}

SplashFrame::SplashFrame()
    : QSplashScreen(QPixmap(), Qt::WindowFlags())
{
    setObjectName(QStringLiteral("splashframe"));

    // The whole screen: 1920 x 1080 on the usual panel, smaller on a smaller one.
    QSize size(kPanelW, kPanelH);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->size());
    m_panel = new QDialog(nullptr);
    m_panel->setObjectName(QStringLiteral("progressdialog"));
    m_panel->setFixedSize(size);

    setGeometry(QRect(QPoint(0, 0), size));

    auto* label = new QLabel;
    label->setObjectName(QString::fromLatin1(kLabelName));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setMinimumWidth(kLabelMinW);
    label->setText(QStringLiteral("程序加载中.."));

    m_bar = new QProgressBar;
    m_bar->setObjectName(QStringLiteral("progressbar"));
    m_bar->setFixedSize(kBarW, kBarH);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);

    auto* inner = new QVBoxLayout(m_panel);
    inner->addStretch(1);
    inner->setSpacing(10);
    inner->setMargin(0);
    inner->addWidget(m_bar, 0, Qt::AlignCenter);
    inner->addWidget(label, 1, Qt::AlignHCenter | Qt::AlignTop);
    inner->addStretch(0);

    auto* outer = new QVBoxLayout(this);
    outer->setMargin(2);
    outer->addWidget(m_panel, 0, Qt::AlignCenter);

    QString style = getStyle();
    // Without the background picture the white texts need a dark plain fill.
    if (!QFile::exists(QStringLiteral("./images/background.png")))
        style += QStringLiteral("QDialog#progressdialog{background-color: rgb(38,42,50);}");
    setStyleSheet(style);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    show();
    QCoreApplication::processEvents();
}

QProgressBar* SplashFrame::progressBar() const
{
    return m_bar;
}

QDialog* SplashFrame::innerPanel() const
{
    return m_panel;
}

QString SplashFrame::getStyle()
{
    return QStringLiteral(
               "QProgressBar#progressbar{font-size:30px;text-align: center;background-color: gray;"
               "border-radius: 15px; color: white;}"
               "QProgressBar::chunk:enabled#progressbar{border-radius: 4px; background: #3498DB;margin: 6px;}")
        + QStringLiteral("QDialog#progressdialog{border-image: url(./images/background.png);border-width: 1px;}")
        + QStringLiteral("QLabel{color: #FFFFFF;font-size: 26px;}");
}

void SplashFrame::flushstep(int percent, QString text)
{
    // The content is gone after the last step; a late call must not touch it.
    if (!m_panel || !m_bar)
        return;
    if (!text.isEmpty()) {
        if (auto* label = findChild<QLabel*>(QString::fromLatin1(kLabelName))) {
            label->setText(text);
            label->update();
        }
    }
    m_shown = qMax(qBound(0, percent, 100), m_shown);
    m_bar->setValue(m_shown);
    m_bar->update();
    show();
    QCoreApplication::processEvents();
    if (percent > kLastStep) {
        m_panel->close();
        delete m_panel.data();
    }
}

bool isOpen_Env()
{
    // Read the variable itself: a shell "echo" of it would split and expand the value.
    const QString value = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
    qInfo().noquote() << value;
    return value == QLatin1String(kDevelopmentPluginPath);
}
