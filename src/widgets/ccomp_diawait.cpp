#include "ccomp_diawait.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPixmap>
#include <QThread>
#include <QtConcurrent>

namespace {
// "./images/wait.png", or a plain ring when the picture is missing, so the
// translucent indicator still shows.
QPixmap waitPicture()
{
    QPixmap picture(QStringLiteral("./images/wait.png"));
    if (!picture.isNull())
        return picture;
    picture = QPixmap(CComp_DiaWait::kSize, CComp_DiaWait::kSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x34, 0x98, 0xDB), 8));
    painter.drawEllipse(QRectF(6, 6, CComp_DiaWait::kSize - 12, CComp_DiaWait::kSize - 12));
    return picture;
}
}

CComp_DiaWait::CComp_DiaWait(std::function<void()> job, QWidget* parent)
    : QDialog(parent)
    , m_job(std::move(job))
{
    setFixedSize(kSize, kSize);
    auto* picture = new QLabel(this);
    picture->setPixmap(waitPicture());
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
    m_finished = true;
    accept();
}

void CComp_DiaWait::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The job may have returned, and finish() run, before exec() showed the
    // indicator (an event loop ran in between): close again from exec()'s loop.
    if (m_finished)
        QMetaObject::invokeMethod(this, &CComp_DiaWait::finish, Qt::QueuedConnection);
}
