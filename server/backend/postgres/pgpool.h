#pragma once
// The PostgreSQL connections of one server process to one database, lent
// to its sessions one request, one transaction or one open cursor at a
// time: a thousand sessions, most of them idle, need a few dozen backends
// rather than a thousand.
//
// The pool also marks its sessions alive: one connection of its own holds an
// advisory lock on the server's number for as long as the process lives, and
// the sessions' working rows name that number (see createWorkingTables). A
// server that starts clears the rows of every number nobody holds.
#include "server/backend/postgres/pgconnection.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vorel::server::pg {

// A connection lent, with the settings last made on it (what a session
// needs of it: its role, its key, its timeout), so that the next borrower
// with the same needs sends nothing.
struct Lease {
    std::unique_ptr<Connection> conn;
    QString settings;
    explicit operator bool() const { return bool(conn); }
};

class Pool
{
public:
    // The pool of `uri` in this process, made at its first use. Throws
    // vorel::Exception when the database cannot be reached.
    static std::shared_ptr<Pool> of(const QString &uri);
    // Connections lent at once per database, the keeper aside; read when a
    // pool is made.
    static void setLimit(int connections);
    static int limit();
    // Told once a minute at most when a request waits for a connection.
    static void setNotice(void (*notice)(const QString &line));
    static void tell(const QString &line);

    ~Pool();
    Pool(const Pool &) = delete;
    Pool &operator=(const Pool &) = delete;

    // An idle connection, or a new one while under the limit; else waits
    // up to `waitMs` (0: as long as it takes) and then throws OraError
    // with ORA-01013's text, as a request cancelled by its time limit.
    // An idle connection already set to `settings` (the one a session used
    // last, most often) is taken first: its settings cost no round trip.
    // `login`: for the check of a Login, which may take the connections
    // kept for logins (kLoginReserve); a session's request may not.
    Lease take(int waitMs, const QString &settings = {}, bool login = false);
    // Connections only the checks of Logins may take, of a pool of 16 or
    // more: when a shift's first sessions hold every other one, its later
    // logins still reach the users' table, and do not wait behind them.
    static constexpr int kLoginReserve = 2;
    // Back into the pool; one that lost its server, or is still inside a
    // transaction, is closed instead.
    void give(Lease lease);

    // The number the sessions of this process are known by in the
    // database; its lock is held while the process lives, taken again
    // when PostgreSQL comes back after losing it.
    int serverNumber() const { return m_server.load(); }
    // How often the lock's connection and the idle ones are looked at.
    static constexpr int kWatchMs = 2000;
    // Connections lent now, and open (lent or idle).
    int lent() const;
    int open() const;

private:
    Pool(const QString &uri, int limit);
    // Takes the server's lock on the keeper, on `wanted` when it is free,
    // else on a number nobody holds; returns the number.
    int lock(int wanted);
    // Every kWatchMs: a keeper that lost its server is made anew and takes
    // the lock again; idle connections that lost theirs are closed.
    void watch();

    const QString m_uri;
    const int m_limit;
    std::atomic<int> m_server{0};
    std::unique_ptr<Connection> m_keeper; // the watcher's alone once made
    mutable std::mutex m_mutex;
    std::condition_variable m_returned;
    std::vector<Lease> m_idle;
    int m_lent = 0;
    qint64 m_lastNotice = 0;
    bool m_stop = false;
    std::condition_variable m_stopping;
    std::thread m_watcher;
};

} // namespace vorel::server::pg
