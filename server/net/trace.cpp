#include "server/net/trace.h"

#include "common/platform.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

namespace vorel::server {

namespace {

// What a trace keeps of one text: enough to tell the request, not a copy
// of every binary sent to TBINS.
constexpr qsizetype kTracedChars = 2 * 1024 * 1024;

QString traced(const QString &text)
{
    if (text.size() <= kTracedChars)
        return text;
    return text.left(kTracedChars) + QStringLiteral("...(%1 caracteres)").arg(text.size());
}

} // namespace

bool Trace::open(const QString &path, QString *error)
{
    // The trace holds every statement sent: only its owner may read it,
    // from the moment it exists, and a file left by an earlier run is
    // narrowed before anything is written to it. Never through a link:
    // a server started as root would empty whatever file it points to.
    return platform::OpenPrivateFile(m_file, path, error);
}

void Trace::open(int session, const QString &provider, const QString &sql, qint32 count)
{
    QJsonObject r;
    r.insert(QStringLiteral("session"), session);
    r.insert(QStringLiteral("kind"), QStringLiteral("open"));
    r.insert(QStringLiteral("provider"), provider);
    r.insert(QStringLiteral("sql"), traced(sql));
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
    QStringList kept;
    kept.reserve(args.size());
    for (const QString &a : args)
        kept << traced(a);
    // The password of a Login, whether it logs in or not, is never written.
    if (method.compare(QLatin1String("Login"), Qt::CaseInsensitive) == 0 && kept.size() > 1)
        kept[1] = QString::fromLatin1(kPasswordMark);
    QJsonObject r;
    r.insert(QStringLiteral("session"), session);
    r.insert(QStringLiteral("kind"), QStringLiteral("call"));
    r.insert(QStringLiteral("method"), method);
    r.insert(QStringLiteral("args"), QJsonArray::fromStringList(kept));
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
