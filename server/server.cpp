#include "server/server.h"

#include "server/session.h"

#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <memory>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vorel::server {

QString ServerConfig::fileFor(const QString &name) const
{
    for (const Db &db : databases) {
        if (!db.name.isEmpty() && db.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return db.file;
    }
    for (const Db &db : databases) {
        if (db.name.isEmpty())
            return db.file;
    }
    return {};
}

Server::Server(ServerConfig config, QObject *parent) : QTcpServer(parent), m_config(std::move(config))
{
#if defined(__GLIBC__)
    // Packets of rows are built, coded and sent in buffers of a megabyte
    // or so. With glibc's default thresholds each would be a fresh mapping,
    // or heap given back and taken again, whose pages all fault in anew:
    // a walk took a third longer. The heaps go back to the system once the
    // last session is gone (below).
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
#endif
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    if (m_config.maxSessions > 0 && m_live.load() >= m_config.maxSessions) {
        refuse(socketDescriptor);
        return;
    }
    ++m_live;
    auto *thread = new QThread;
    auto *session = new Session(socketDescriptor, ++m_lastSession, &m_config);
    session->moveToThread(thread);
    connect(thread, &QThread::started, session, &Session::start);
    connect(session, &Session::finished, thread, &QThread::quit);
    connect(session, &Session::finished, this, [this] { --m_live; }, Qt::DirectConnection);
#if defined(__GLIBC__)
    // Each session's thread leaves its own malloc arena behind; once nobody
    // is connected the memory goes back to the system. Only after the
    // session is deleted: its database and buffers are freed then.
    connect(session, &QObject::destroyed, this, [this] {
        if (m_live.load() == 0)
            malloc_trim(0);
    });
#endif
    connect(thread, &QThread::finished, session, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void Server::refuse(qintptr socketDescriptor)
{
    // A handful of refusals at a time is plenty; past that a peer that
    // floods the port is simply closed.
    constexpr int kMaxRefusing = 32;
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor) || m_refusing >= kMaxRefusing) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_refusing;
    const QString peer = socket->peerAddress().toString();
    const QByteArray line = QStringLiteral("refusing a connection from %1: %2 sessions already open\n")
                                .arg(peer)
                                .arg(m_config.maxSessions)
                                .toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);

    socket->setReadBufferSize(4096);
    proto::Message refusal;
    refusal.type = proto::MsgType::Error;
    refusal.requestId = 0;
    refusal.text = QStringLiteral("El servidor de aplicaciones está ocupado: atiende ya el máximo de %1 sesiones. "
                                  "Inténtelo más tarde.")
                       .arg(m_config.maxSessions);
    const QByteArray frame = proto::encode(refusal);
    // The answer goes after the peer's greeting has been read: closing with
    // unread bytes would reset the connection and lose the answer.
    auto answered = std::make_shared<bool>(false);
    auto answer = [this, socket, frame, answered] {
        if (*answered)
            return;
        *answered = true;
        socket->readAll();
        socket->write(frame);
        socket->disconnectFromHost();
        QTimer::singleShot(2000, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    };
    connect(socket, &QTcpSocket::readyRead, socket, [socket, answer, answered] {
        if (*answered)
            socket->readAll();
        else
            answer();
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this, [this] { --m_refusing; });
    QTimer::singleShot(1000, socket, answer);
}

} // namespace vorel::server
