#include "dayfileconnection.h"

#include <QThread>

DayFileConnection::DayFileConnection(const QString& baseName)
    : m_name(QStringLiteral("%1_%2").arg(baseName).arg(reinterpret_cast<quintptr>(QThread::currentThreadId()), 0, 16))
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
}

DayFileConnection::~DayFileConnection()
{
    close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

bool DayFileConnection::open(const QString& path, bool readOnly)
{
    close();
    m_db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY") : QString());
    m_db.setDatabaseName(path);
    return m_db.open();
}

void DayFileConnection::close()
{
    if (m_db.isOpen())
        m_db.close();
}
