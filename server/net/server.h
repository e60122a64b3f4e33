#pragma once
// The listener of the reference application server.
//
// Threading: the listener's thread (the main thread) accepts connections and
// serves every peer that has not logged in yet (Peer): the TLS handshake, the
// greeting, dServer. A Login is checked on a small pool of threads; once it
// succeeds the connection becomes a Session on a thread of its own, with its
// own socket and its own transaction: on SQLite its own connection, on
// PostgreSQL one lent by the pool while a request, the transaction or a
// cursor needs it. A session handles its requests one after another, in
// order of arrival; a slow query therefore holds up only the session that
// sent it. An idle session's thread sleeps in its event loop and costs a
// few pages of stack; what the session's database keeps only for speed is
// let go between requests (Database::idle), and the reader of a walk ends
// once the walk stops (ReadAhead). Sessions share nothing
// but the read-only configuration, the trace and the login throttle, which
// serialise their writes under mutexes. SQLite's WAL journal lets readers of
// one session go on while another writes; concurrent writers wait for each
// other through the busy timeout.
//
// What peers may cost: --max-sessions counts logged-in sessions (and Logins
// being checked). Peers not logged in are bounded apart, in all and, once
// half of those places are taken, per address; past a bound the oldest peer
// of the address (or of all) is shed, so that a flood of silent connections
// cannot keep real users out: a real client logs in within milliseconds and
// is never the oldest for long.
#include "server/net/loginthrottle.h"
#include "data/tlscontext.h"
#include "server/net/trace.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>

class QTimer;

namespace vorel::server {

class Backend;
class Database;
class Director;
class Peer;
class Session;

struct ServerConfig {
    struct Db {
        QString name; // empty: serves whatever name the client asks for
        QString file; // or a PostgreSQL URI
        const Backend *backend = nullptr; // the engine `file` names
    };
    QList<Db> databases;
    QString advertise; // dServer's answer; empty: the address the client reached
    Director *director = nullptr; // --pool: dServer answers the least busy member
    Trace *trace = nullptr;
    LoginThrottle *throttle = nullptr;
    // Every connection's TLS; `plaintext` only for measuring what TLS costs.
    QSslConfiguration tls;
    bool plaintext = false;

    // What one peer may cost. Times in milliseconds, 0 = no limit.
    int maxSessions = 2000;      // logged in at once
    int maxStartups = 256;       // connected, not logged in, in all
    int maxStartupsPerSource = 16; // the same, from one address
    int loginTimeoutMs = 10000;  // TLS handshake, greeting and Login must be done by then
    int idleTimeoutMs = 0;       // a session with no request for this long is closed
    // The same for a session whose transaction is open: it is rolled back.
    // Below the 30 s a writer waits for its turn on SQLite, so that one
    // forgotten transaction makes nobody else fail.
    int idleInTransactionMs = 20000;
    int queryTimeoutMs = 30000;  // one request's run of SQL

    // The database serving the name a client logs in to; none when none.
    const Db *databaseFor(const QString &name) const;
    // dServer's answer to a client that reached the server at `local`.
    QString serverFor(const QHostAddress &local) const;
};

// What the check of a Login found: the session's database, or the message.
struct LoginOutcome {
    std::unique_ptr<Database> db;
    QString user;
    QString error;
};

class Server : public QTcpServer
{
    Q_OBJECT
public:
    explicit Server(ServerConfig config, QObject *parent = nullptr);
    ~Server() override;

    const ServerConfig &config() const { return m_config; }
    // Logged in, or with their Login being checked.
    int sessions() const { return m_sessions.load(); }
    // Connected, not logged in.
    int peers() const { return int(m_peers.size()); }

    // For Peer, on the listener's thread.
    // False when every session place is taken; else the place is the
    // Login's until it fails or its session ends.
    bool reserveSession();
    void checkLogin(Peer *peer, const QStringList &args);
    void peerEnded(Peer *peer);
    // Logs `what` about `source` once a minute at most, however many
    // connections it concerns.
    void noteSource(const QString &source, const QString &what);
    TlsSharedContext &tlsContext() { return m_tlsContext; }

    // Stops serving: no new connections, the peers not logged in are
    // closed, and each session ends after the request it is on, its open
    // transaction rolled back. `done` runs on the listener's thread once the
    // last session has ended (true), or once `boundMs` has passed (false).
    void shutdown(int boundMs, std::function<void(bool allEnded)> done);
    // The certificate and key of the connections from now on; those open
    // keep theirs.
    void setTls(const QSslConfiguration &tls);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void loginChecked(int peerId, const std::shared_ptr<LoginOutcome> &outcome);
    // No longer a peer of the listener: out of the list and its address's count.
    void forget(std::list<Peer *>::iterator peer);
    void startSession(Peer *peer, LoginOutcome outcome);
    // Sheds the oldest peer (of `source`, when given) that is not being
    // checked; false when there is none.
    bool shedOldest(const QString &source);

    // Only the listener's thread changes it (setTls), and only in what the
    // sessions do not read.
    ServerConfig m_config;
    int m_lastId = 0;
    std::atomic<int> m_sessions{0};
    std::list<Peer *> m_peers; // oldest first
    QHash<QString, int> m_perSource;
    QThreadPool m_checks;
    TlsSharedContext m_tlsContext;
    // The sessions running, for shutdown(): added here, removed by the
    // session's own thread as it ends.
    std::mutex m_liveMutex;
    std::set<Session *> m_live;
    QTimer *m_trim = nullptr; // gives freed memory back after sessions end
};

} // namespace vorel::server
