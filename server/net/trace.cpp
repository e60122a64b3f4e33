#include "server/net/trace.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

namespace vorel::server {

bool Trace::open(const QString &path, QString *error)
{
    // The trace holds every Login password: only its owner may read it,
    // from the moment it exists. A file left by an earlier run keeps the
    // mode it had, so it is narrowed before anything is written to it.
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate, ownerOnly)) {
        *error = m_file.errorString();
        return false;
    }
    if (!m_file.setPermissions(ownerOnly)) {
        *error = m_file.errorString();
        m_file.close();
        return false;
    }
    return true;
}

void Trace::open(int session, const QString &provider, const QString &sql, qint32 count)
{
    QJsonObject r;
    r.insert(QStringLiteral("session"), session);
    r.insert(QStringLiteral("kind"), QStringLiteral("open"));
    r.insert(QStringLiteral("provider"), provider);
    r.insert(QStringLiteral("sql"), sql);
    r.insert(QStringLiteral("count"), count);
    write(r);
}

void Trace::fetch(int session, quint32 cursor, qint32 count)
{
    QJsonObject r;
    r.insert(QStringLiteral("session"), session);
    r.insert(QStringLiteral("kind"), QStringLiteral("fetch"));
    r.insert(QStringLiteral("cursor"), qint64(cursor));
    r.insert(QStringLiteral("count"), count);
    write(r);
}

void Trace::call(int session, const QString &method, const QStringList &args)
{
    QJsonObject r;
    r.insert(QStringLiteral("session"), session);
    r.insert(QStringLiteral("kind"), QStringLiteral("call"));
    r.insert(QStringLiteral("method"), method);
    r.insert(QStringLiteral("args"), QJsonArray::fromStringList(args));
    write(r);
}

void Trace::write(const QJsonObject &record)
{
    if (!enabled())
        return;
    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    line.append('\n');
    QMutexLocker lock(&m_mutex);
    m_file.write(line);
    m_file.flush();
}

} // namespace vorel::server
