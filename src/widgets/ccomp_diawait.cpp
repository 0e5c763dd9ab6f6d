#include "ccomp_diawait.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPixmap>
#include <QThread>
#include <QtConcurrent>

CComp_DiaWait::CComp_DiaWait(std::function<void()> job, QWidget* parent)
    : QDialog(parent)
    , m_job(std::move(job))
{
    setFixedSize(kSize, kSize);
    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral("./images/wait.png")));
    auto* layout = new QHBoxLayout(this);
    layout->setMargin(0);
    layout->addWidget(picture);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    m_future = QtConcurrent::run([this] {
        QThread::msleep(kStartDelayMs);
        if (m_job)
            m_job();
        QMetaObject::invokeMethod(this, "finish", Qt::QueuedConnection);
    });
}

CComp_DiaWait::~CComp_DiaWait()
{
    m_future.waitForFinished();
    m_job = nullptr;
}

void CComp_DiaWait::finish()
{
    accept();
}
