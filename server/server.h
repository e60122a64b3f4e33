#pragma once
// The listener of the reference application server.
//
// Threading: the listener runs on the main thread and does nothing but accept.
// Every accepted connection becomes a Session that lives on a thread of its
// own, with its own socket, its own SQLite connection and its own
// transaction. A session handles its requests one after another, in order of
// arrival; a slow query therefore holds up only the session that sent it.
// Sessions share nothing but the read-only configuration and the trace, which
// serialises its writes under a mutex. SQLite's WAL journal lets readers of
// one session go on while another writes; concurrent writers wait for each
// other through the busy timeout.
#include "server/loginthrottle.h"
#include "server/trace.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTcpServer>
#include <atomic>

class QTcpSocket;

namespace vorel::server {

struct ServerConfig {
    struct Db {
        QString name; // empty: serves whatever name the client asks for
        QString file; // or a PostgreSQL URI
    };
    QList<Db> databases;
    QString advertise; // dServer's answer; empty: the address the client reached
    Trace *trace = nullptr;
    LoginThrottle *throttle = nullptr;

    // What one peer may cost. Times in milliseconds, 0 = no limit.
    int maxSessions = 256;
    int loginTimeoutMs = 10000;  // handshake and Login must be done by then
    int idleTimeoutMs = 0;       // a session with no request for this long is closed
    int queryTimeoutMs = 30000;  // one request's run of SQL

    // The file serving the database name a client logs in to; empty when none.
    QString fileFor(const QString &name) const;
};

class Server : public QTcpServer
{
    Q_OBJECT
public:
    explicit Server(ServerConfig config, QObject *parent = nullptr);

    int sessions() const { return m_live.load(); }

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    // Past the cap a peer is told why, on the listener's thread, and closed.
    void refuse(qintptr socketDescriptor);

    const ServerConfig m_config;
    std::atomic<int> m_lastSession{0};
    std::atomic<int> m_live{0};
    int m_refusing = 0;
};

} // namespace vorel::server
