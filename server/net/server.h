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
// being checked), and a user and an address may hold only so many of them.
// Peers not logged in that have not sent their Login (idle, or in their
// handshake) are bounded apart, in all and, once half of those places are
// taken, per address. The bounds are applied to the raw descriptor, before
// any socket or peer is built: past the bound in all the oldest peer of the
// busiest address is shed, and otherwise the new connection waits unserved
// (parked: a descriptor and nothing more) until there is room, so that a
// shift starting behind one NAT address is queued rather than closed. A
// peer that has sent its Login is never shed: it waits in arrival order for
// the pool that checks Logins, one at a time per user and per address.
//
// Stopping (drain): the listener closes, the peers not logged in are closed,
// and each session ends at its next transaction boundary: at once when idle
// outside a transaction, after its request otherwise; one still inside a
// transaction at the bound is ended and rolled back.
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
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <queue>
#include <set>
#include <unordered_map>

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
    // The same for one user and for one address; 0: derived from
    // maxSessions (effectiveSessionsPer*).
    int maxSessionsPerUser = 0;
    int maxSessionsPerSource = 0;
    int maxStartups = 256;       // connected, not logged in, in all
    int maxStartupsPerSource = 16; // the same, from one address
    int loginTimeoutMs = 10000;  // TLS handshake, greeting and Login must be done by then
    int idleTimeoutMs = 0;       // a session with no request for this long is closed
    // The same for a session whose transaction is open: it is rolled back.
    // Below the 30 s a writer waits for its turn on SQLite, so that one
    // forgotten transaction makes nobody else fail.
    int idleInTransactionMs = 20000;
    int queryTimeoutMs = 30000;  // one request's run of SQL
    // How long a stopping server lets its sessions reach the end of their
    // transactions.
    int drainTimeoutMs = 30000;

    int sessionsPerUser() const;
    int sessionsPerSource() const;

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
    // The failure was the server's (its database unreachable), not the
    // client's: the way to log in is broken.
    bool serverFault = false;
    // A wrong user or password: the wait it set before the next attempt.
    qint64 retryMs = 0;
};

// The user number in the one form it is stored and compared in (as text):
// digits, no sign, no leading zero, no fraction or exponent. Empty when
// `typed` is not one.
QString canonicalUser(const QString &typed);

class Server : public QTcpServer
{
    Q_OBJECT
public:
    explicit Server(ServerConfig config, QObject *parent = nullptr);
    ~Server() override;

    const ServerConfig &config() const { return m_config; }
    // Logged in, or with their Login being checked.
    int sessions() const { return m_sessions.load(); }
    // Connected, not logged in (those waiting unserved included).
    int peers() const { return int(m_byId.size() + m_parked.size()); }

    // Listens as QTcpServer::listen does, but takes the connections itself,
    // a bounded number per turn of the event loop.
    bool start(const QHostAddress &address, quint16 port);

    // For the health check: stopping; Logins a member may still take; the
    // way to log in works (its last failure was not the server's, or a
    // probe of the databases since found them back).
    bool draining() const { return m_draining; }
    int loginRoom() const;
    bool loginPathUp() const { return m_loginPathUp.load(); }

    // For Peer, on the listener's thread.
    // False when every session place is taken; else the place is the
    // Login's until it fails or its session ends.
    bool reserveSession();
    // Takes the places a Login for `user` from `source` needs (in all, of
    // the user, of the address): empty, or the refusal to answer.
    QString reserveLogin(const QString &user, const QString &source);
    // Gives back what reserveLogin took.
    void loginRefused(const QString &user, const QString &source);
    // A Login of the user is being checked: a user's attempts go one at a time.
    bool checkingUser(const QString &user) const { return m_checkingUsers.contains(user); }
    // The address has as many Logins being checked as it may: a few at once
    // while nothing from it has failed (an office's shift behind one NAT
    // address logs in at the pace of the check pool, not of one hash after
    // another), one at a time once a failure is on record, so that many
    // connections guess no faster than one.
    static constexpr int kChecksPerSource = 4;
    bool checkingSource(const QString &source) const;
    // A Login came: the peer is no longer one that may be shed.
    void loginSent(Peer *peer);
    // Its Login waits for the attempt of its user or address before it, in
    // arrival order; and no longer does (checked or answered).
    void loginQueued(Peer *peer);
    void loginUnqueued(Peer *peer);
    // Its answer was a failure: the peer may send another, or stay idle.
    void loginAnswered(Peer *peer);
    void checkLogin(Peer *peer, const QStringList &args);
    void peerEnded(Peer *peer);
    // Calls peer->due(what) in `ms` milliseconds, unless the peer is gone;
    // one timer for every peer.
    void wake(Peer *peer, int what, qint64 ms);
    // Logs `what` about `source` once a minute at most, however many
    // connections it concerns.
    void noteSource(const QString &source, const QString &what);
    TlsSharedContext &tlsContext() { return m_tlsContext; }

    // Stops serving (see the top): `done` runs on the listener's thread once
    // the last session has ended (true), or once `boundMs` has passed
    // (false); the sessions still running `graceMs` before that are ended,
    // their transactions rolled back.
    void shutdown(int boundMs, int graceMs, std::function<void(bool allEnded)> done);
    // A second signal: every session ends after the request it is on, and
    // `done` runs within `boundMs` from now.
    void hurry(int boundMs);
    // The certificate and key of the connections from now on; those open
    // keep theirs.
    void setTls(const QSslConfiguration &tls);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    // Takes what waits on the listening socket, at most kAcceptsPerTurn.
    void acceptSome();
    // Serves a raw connection from `source` now (true), or not (false);
    // `quiet`: one already parked, whose refusal was logged.
    bool admit(qintptr descriptor, const QString &source, bool quiet = false);
    // Serves the connections parked while there is room for them.
    void admitParked();
    void admitParkedSoon();
    void stopListening();
    void loginChecked(int peerId, const QString &user, const QString &source,
                      const std::shared_ptr<LoginOutcome> &outcome);
    // The password of a Login of `user` from `source` is judged: the next
    // attempt of either may be checked.
    void loginJudged(const QString &user, const QString &source);
    // No longer a peer of the listener.
    void forget(Peer *peer);
    // In and out of the peers that may be shed, and their address's count.
    void listIdle(Peer *peer);
    void unlistIdle(Peer *peer);
    void startSession(Peer *peer, LoginOutcome outcome);
    // Sheds and deletes a peer to make room for one from `source`, in all;
    // false when none may be.
    bool shedForRoom(const QString &source);
    void tickParked();
    void runDue();
    void probeLoginPath();
    // The per-user and per-address session counts.
    bool reservePlaces(const QString &user, const QString &source);
    void releasePlaces(const QString &user, const QString &source);

    static constexpr int kAcceptsPerTurn = 32;
    // Connections waiting unserved, from one address and in all: a shift
    // of a thousand behind one address waits its turn; past that they are
    // refused as they come.
    static constexpr int kParkedPerSource = 1024;
    static constexpr int kParked = 4096;

    // Only the listener's thread changes it (setTls), and only in what the
    // sessions do not read.
    ServerConfig m_config;
    int m_lastId = 0;
    std::atomic<int> m_sessions{0};
    std::unordered_map<int, Peer *> m_byId; // every peer
    std::list<Peer *> m_idle;               // those that may be shed, oldest first
    QHash<QString, int> m_perSource;        // m_idle by address
    struct Parked {
        qintptr descriptor;
        QString source;
        qint64 since;
    };
    std::deque<Parked> m_parked; // oldest first
    QHash<QString, int> m_parkedPerSource;
    QObject *m_acceptor = nullptr; // the notifier of the listening socket
    struct Due {
        qint64 at;
        int peer;
        int what;
        bool operator>(const Due &o) const { return at > o.at; }
    };
    std::priority_queue<Due, std::vector<Due>, std::greater<>> m_due;
    QTimer m_dueTimer;
    bool m_draining = false;
    std::atomic<bool> m_loginPathUp{true};
    bool m_probing = false;
    bool m_parkTick = false;
    bool m_admitQueued = false;
    // Logins being checked, by user and by address: one at a time for each.
    QHash<QString, int> m_checkingUsers;
    QHash<QString, int> m_checkingSources;
    // Logins waiting for their turn, oldest first.
    std::list<Peer *> m_loginQueue;
    void takeQueuedLogins();
    // Sessions (and Logins being checked) by user and by address; only
    // under m_liveMutex.
    QHash<QString, int> m_sessionsOfUser;
    QHash<QString, int> m_sessionsOfSource;
    // Set by hurry(): when shutdown's wait ends at the latest.
    qint64 m_hurryUntil = -1;
    QThreadPool m_checks;
    TlsSharedContext m_tlsContext;
    // The sessions running, for shutdown(): added here, removed by the
    // session's own thread as it ends.
    std::mutex m_liveMutex;
    std::set<Session *> m_live;
    QTimer *m_trim = nullptr; // gives freed memory back after sessions end
};

} // namespace vorel::server
