#include "server/net/director.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace vorel::server {

QList<Director::Member> Director::parse(const QString &pool, QString *error)
{
    QList<Member> members;
    static const QRegularExpression entry(QStringLiteral("^(\\[[^\\]]+\\]|[^:\\[\\]]+):(\\d{1,5})$"));
    for (const QString &part : pool.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = entry.match(part.trimmed());
        const uint port = m.hasMatch() ? m.captured(2).toUInt() : 0;
        if (!m.hasMatch() || port == 0 || port > 65535) {
            *error = QStringLiteral("--pool expects HOST:PORT,... (each member's --metrics address), not ") + part;
            return {};
        }
        Member member;
        member.host = m.captured(1);
        if (member.host.startsWith(QLatin1Char('[')))
            member.host = member.host.mid(1, member.host.size() - 2);
        member.metricsPort = quint16(port);
        members.append(member);
    }
    if (members.isEmpty())
        *error = QStringLiteral("--pool names no member");
    return members;
}

Director::Director(QList<Member> members, int intervalMs, QObject *parent)
    : QObject(parent), m_members(std::move(members)), m_timeoutMs(qMax(500, intervalMs * 3 / 4)),
      m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &Director::checkAll);
    m_timer->start(intervalMs);
    checkAll();
}

QString Director::choose()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    Member *best = nullptr;
    for (Member &m : m_members) {
        // Sent as many as it said it had room for: full until it says again.
        const bool full = m.room >= 0 && m.sent >= m.room;
        if (m.healthy && !full && (!best || m.sessions + m.sent < best->sessions + best->sent))
            best = &m;
    }
    if (!best)
        return QString();
    // Counted at once: the logins of a shift start arrive faster than the
    // checks, and would otherwise all go to the member that was idle.
    ++best->sent;
    return best->host;
}

void Director::checkAll()
{
    for (int i = 0; i < m_members.size(); ++i) {
        QString host;
        quint16 port = 0;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            host = m_members[i].host;
            port = m_members[i].metricsPort;
        }
        auto *socket = new QTcpSocket(this);
        auto answer = std::make_shared<QByteArray>();
        auto done = std::make_shared<bool>(false);
        auto finish = [this, i, socket, answer, done](bool ok) {
            if (*done)
                return;
            *done = true;
            const Health h = ok ? read(*answer) : Health();
            checked(i, h.healthy, h.sessions, h.room);
            socket->deleteLater();
        };
        connect(socket, &QTcpSocket::connected, socket, [socket] { socket->write("GET /health HTTP/1.0\r\n\r\n"); });
        connect(socket, &QTcpSocket::readyRead, socket, [socket, answer] {
            // Only the head of the page matters; a member is not a way to
            // fill the director's memory.
            if (answer->size() < 1 << 20)
                *answer += socket->readAll();
            else
                socket->abort();
        });
        connect(socket, &QTcpSocket::disconnected, socket, [finish] { finish(true); });
        connect(socket, &QTcpSocket::errorOccurred, socket, [finish, socket](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError || socket->state() == QAbstractSocket::UnconnectedState)
                finish(e == QAbstractSocket::RemoteHostClosedError);
        });
        QTimer::singleShot(m_timeoutMs, socket, [finish] { finish(false); });
        socket->connectToHost(host, port);
    }
}

Director::Health Director::read(const QByteArray &answer)
{
    Health h;
    if (!answer.startsWith("HTTP/1.0 200"))
        return h;
    const QString text = QString::fromLatin1(answer);
    static const QRegularExpression sessions(QStringLiteral("(?m)^vorel_sessions (\\d+)\\s*$"));
    static const QRegularExpression room(QStringLiteral("(?m)^vorel_login_room (\\d+)\\s*$"));
    const QRegularExpressionMatch s = sessions.match(text);
    if (!s.hasMatch())
        return h;
    h.healthy = true;
    h.sessions = s.captured(1).toInt();
    const QRegularExpressionMatch r = room.match(text);
    if (r.hasMatch())
        h.room = r.captured(1).toInt();
    return h;
}

void Director::checked(int index, bool healthy, int sessions, int room)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (index >= m_members.size())
        return;
    Member &m = m_members[index];
    m.healthy = healthy;
    m.sessions = sessions;
    m.room = room;
    m.sent = 0;
}

} // namespace vorel::server
