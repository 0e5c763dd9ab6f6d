#include "splashframe.h"

#include <QCoreApplication>
#include <QDialog>
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

    m_panel = new QDialog(nullptr);
    m_panel->setObjectName(QStringLiteral("progressdialog"));
    m_panel->setFixedSize(kPanelW, kPanelH);
    setGeometry(0, 0, kPanelW, kPanelH);

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

    setStyleSheet(getStyle());
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    show();
    QCoreApplication::processEvents();
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
    qInfo() << value;
    return value == QLatin1String(kDevelopmentPluginPath);
}
