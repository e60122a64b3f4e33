#include "server/backend/postgres/pgpool.h"

#include "common/exception.h"
#include "server/backend/postgres/pgdatabase.h"
#include "server/backend/postgres/pgschema.h"
#include "server/core/oraerror.h"
#include "server/core/oramessages.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
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
    // A number no other live server holds: its lock is free.
    try {
        for (;;) {
            const int candidate = int(QRandomGenerator::system()->bounded(1, std::numeric_limits<int>::max()));
            const Result r = m_keeper->exec(QStringLiteral("SELECT pg_catalog.pg_try_advisory_lock($1::integer, $2::integer)"),
                                            {kServerLockSpace, candidate});
            if (r.text(0, 0) == QLatin1String("t")) {
                m_server = candidate;
                break;
            }
        }
    } catch (const Error &e) {
        throw vorel::Exception(QStringLiteral("No se puede preparar la sesión de PostgreSQL: ") + e.failure().message);
    }
}

Pool::~Pool() = default;

Lease Pool::take(int waitMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (!m_idle.empty()) {
            Lease lease = std::move(m_idle.back());
            m_idle.pop_back();
            ++m_lent;
            return lease;
        }
        if (m_lent < m_limit) {
            ++m_lent;
            lock.unlock();
            try {
                return Lease{connected(m_uri), {}};
            } catch (...) {
                lock.lock();
                --m_lent;
                m_returned.notify_one();
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
        } else if (m_returned.wait_until(lock, deadline) == std::cv_status::timeout && m_idle.empty()
                   && m_lent >= m_limit) {
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
    m_returned.notify_one();
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
