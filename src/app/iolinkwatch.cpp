#include "iolinkwatch.h"

#include "controlport.h"
#include "globals.h"
#include "warnbox.h"

#include <QDebug>

IOLinkWatch::IOLinkWatch(ControlPort* io, Recorder record, QObject* parent)
    : QObject(parent)
    , m_record(std::move(record))
{
    if (!io)
        return;
    m_everUp = io->isLinkUp();
    connect(io, &ControlPort::sigLinkChanged, this, &IOLinkWatch::SlotLinkChanged);
}

void IOLinkWatch::SlotLinkChanged(bool up)
{
    if (up) {
        m_everUp = true;
        if (!m_lost)
            return;
        m_lost = false;
        qInfo() << "IO board link back";
        if (m_record)
            m_record(QStringLiteral("IO board link back"), QStringLiteral("info"));
        if (gpWarnBox && gpWarnBox->isVisible() && gpWarnBox->text() == lanText(kRowLinkLost))
            gpWarnBox->hide();
        return;
    }
    if (m_lost || !m_everUp)
        return;
    m_lost = true;
    qWarning() << "IO board link lost";
    if (m_record)
        m_record(QStringLiteral("IO board link lost"), QStringLiteral("info"));
    if (gpWarnBox) {
        gpWarnBox->setText(lanText(kRowLinkLost));
        gpWarnBox->show();
    }
}
