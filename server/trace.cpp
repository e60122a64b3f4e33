#include "server/trace.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

namespace vorel::server {

bool Trace::open(const QString &path, QString *error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = m_file.errorString();
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
