#include "server/backend/postgres/pgpool.h"

#include "common/exception.h"
#include "server/backend/postgres/pgdatabase.h"
#include "server/backend/postgres/pgschema.h"
#include "server/core/oraerror.h"
#include "server/core/oramessages.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <map>

namespace vorel::server::pg {

namespace {

std::atomic<int> g_limit{32};
std::atomic<void (*)(const QString &)> g_notice{nullptr};

std::mutex &poolsMutex()
{
    static std::mutex m;
    return m;
}

// Weak: a pool lives while a session or the server (PgBackend::prepare)
// holds it, so that a process that reaches many databases one after
// another keeps no connections to those it left.
std::map<QString, std::weak_ptr<Pool>> &pools()
{
    static std::map<QString, std::weak_ptr<Pool>> p;
    return p;
}

std::unique_ptr<Connection> connected(const QString &uri)
{
    auto c = std::make_unique<Connection>(uri);
    try {
        c->exec(PgDatabase::sessionSettings());
    } catch (const Error &e) {
        throw vorel::Exception(QStringLiteral("No se puede preparar la sesión de PostgreSQL: ") + e.failure().message);
    }
    return c;
}

} // namespace

void Pool::setLimit(int connections) { g_limit = qMax(1, connections); }
int Pool::limit() { return g_limit.load(); }
void Pool::setNotice(void (*notice)(const QString &)) { g_notice = notice; }

void Pool::tell(const QString &line)
{
    if (void (*notice)(const QString &) = g_notice.load())
        notice(line);
}

std::shared_ptr<Pool> Pool::of(const QString &uri)
{
    const std::lock_guard<std::mutex> lock(poolsMutex());
    std::weak_ptr<Pool> &slot = pools()[uri];
    if (std::shared_ptr<Pool> p = slot.lock())
        return p;
    std::shared_ptr<Pool> p(new Pool(uri, g_limit.load()));
    slot = p;
    return p;
}

Pool::Pool(const QString &uri, int limit) : m_uri(uri), m_limit(limit)
{
    m_keeper = connected(uri);
    try {
        m_server = lock(0);
    } catch (const Error &e) {
        throw vorel::Exception(QStringLiteral("No se puede preparar la sesión de PostgreSQL: ") + e.failure().message);
    }
    m_watcher = std::thread([this] { watch(); });
}

Pool::~Pool()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_stopping.notify_all();
    if (m_watcher.joinable())
        m_watcher.join();
}

int Pool::lock(int wanted)
{
    auto take = [this](int number) {
        const Result r =
            m_keeper->exec(QStringLiteral("SELECT pg_catalog.pg_try_advisory_lock($1::integer, $2::integer)"),
                           {kServerLockSpace, number});
        return r.text(0, 0) == QLatin1String("t");
    };
    if (wanted != 0 && take(wanted))
        return wanted;
    // A number no other live server holds: its lock is free.
    for (;;) {
        const int candidate = int(QRandomGenerator::system()->bounded(1, std::numeric_limits<int>::max()));
        if (take(candidate))
            return candidate;
    }
}

void Pool::watch()
{
    std::unique_lock<std::mutex> guard(m_mutex);
    while (!m_stopping.wait_for(guard, std::chrono::milliseconds(kWatchMs), [this] { return m_stop; })) {
        // Idle connections whose server went away are closed before a
        // request meets them.
        std::erase_if(m_idle, [](Lease &l) { return !l.conn->stillUp(); });
        guard.unlock();
        if (!m_keeper || !m_keeper->stillUp()) {
            // PostgreSQL restarted, or the keeper was killed: the lock went
            // with it, and the sessions of this server would look dead to
            // the next server that starts. Taken again on a new connection,
            // on the same number unless another server took it meanwhile,
            // in which case the sessions move to the new one.
            try {
                m_keeper.reset();
                auto keeper = connected(m_uri);
                m_keeper = std::move(keeper);
                const int before = m_server.load();
                const int now = lock(before);
                if (now != before) {
                    m_keeper->exec(QStringLiteral("UPDATE vorel_work.sessions SET server = $1 WHERE server = $2"),
                                   {now, before});
                    m_server = now;
                }
                tell(QStringLiteral("the PostgreSQL connection that marks this server's sessions alive was lost; "
                                    "it is made again"));
            } catch (const std::exception &) {
                // PostgreSQL is not back yet: the next look tries again.
                m_keeper.reset();
            }
        }
        guard.lock();
    }
}

Lease Pool::take(int waitMs, const QString &settings, bool login)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    const int room = login ? m_limit : m_limit - qMin(kLoginReserve, m_limit / 8);
    for (;;) {
        if (!m_idle.empty() && m_lent < room) {
            auto chosen = std::prev(m_idle.end());
            if (!settings.isEmpty()) {
                const auto same = std::find_if(m_idle.rbegin(), m_idle.rend(),
                                               [&](const Lease &l) { return l.settings == settings; });
                if (same != m_idle.rend())
                    chosen = std::prev(same.base());
            }
            Lease lease = std::move(*chosen);
            m_idle.erase(chosen);
            // One whose server went away since it was given back is
            // replaced, rather than failing the request that would meet it.
            if (!lease.conn->stillUp())
                continue;
            ++m_lent;
            return lease;
        }
        if (m_idle.empty() && m_lent < room) {
            ++m_lent;
            lock.unlock();
            try {
                return Lease{connected(m_uri), {}};
            } catch (...) {
                lock.lock();
                --m_lent;
                m_returned.notify_all();
                throw;
            }
        }
        if (void (*notice)(const QString &) = g_notice.load()) {
            const qint64 now = QDeadlineTimer::current().deadline();
            if (m_lastNotice == 0 || now - m_lastNotice >= 60000) {
                m_lastNotice = now;
                notice(QStringLiteral("all %1 PostgreSQL connections are in use; requests wait for one "
                                      "(up to the query timeout), see --pg-connections")
                           .arg(m_limit));
            }
        }
        if (waitMs <= 0) {
            m_returned.wait(lock);
        } else if (m_returned.wait_until(lock, deadline) == std::cv_status::timeout && m_lent >= room) {
            // What a request cancelled by its time limit hears.
            throw OraError(QString::fromUtf8(ora::kCancelled));
        }
    }
}

void Pool::give(Lease lease)
{
    if (lease.conn && lease.conn->usable() && lease.conn->inTransaction()) {
        try {
            lease.conn->exec(QStringLiteral("ROLLBACK"));
        } catch (const Error &) {
        }
    }
    if (lease.conn && (!lease.conn->usable() || lease.conn->inTransaction()))
        lease.conn.reset();
    const std::lock_guard<std::mutex> lock(m_mutex);
    --m_lent;
    if (lease.conn)
        m_idle.push_back(std::move(lease));
    // Waiting logins may take what waiting requests may not.
    m_returned.notify_all();
}

int Pool::lent() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_lent;
}

int Pool::open() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_lent + int(m_idle.size());
}

} // namespace vorel::server::pg
