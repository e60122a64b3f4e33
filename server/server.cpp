#include "server/server.h"

#include "server/session.h"

#include <QThread>

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

Server::Server(ServerConfig config, QObject *parent) : QTcpServer(parent), m_config(std::move(config)) {}

void Server::incomingConnection(qintptr socketDescriptor)
{
    auto *thread = new QThread;
    auto *session = new Session(socketDescriptor, ++m_lastSession, &m_config);
    session->moveToThread(thread);
    connect(thread, &QThread::started, session, &Session::start);
    connect(session, &Session::finished, thread, &QThread::quit);
    connect(thread, &QThread::finished, session, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

} // namespace vorel::server
