#include "server/backend/sqlite/sqlitepool.h"

#include "common/exception.h"
#include "server/backend/sqlite/sqliteschema.h"
#include "server/backend/sqlite/sqlitestatement.h"
#include "server/core/oraerror.h"
#include "server/core/oramessages.h"
#include "server/schema/schema.h"

#include <QDeadlineTimer>
#include <QStringList>
#include <chrono>
#include <map>
#include <sqlite3.h>

namespace vorel::server::sqlite {

namespace {

std::atomic<int> g_limit{32};

// The working rows a session keeps in memory at most: a filter's few rows
// are far below it. More stay in the connection's TEMP tables, which spill
// to a file, and the session keeps the connection (see save).
constexpr qint64 kKeptBytes = 1 << 20;
std::atomic<void (*)(const QString &)> g_notice{nullptr};

std::mutex &poolsMutex()
{
    static std::mutex m;
    return m;
}

std::map<QString, std::weak_ptr<Pool>> &pools()
{
    static std::map<QString, std::weak_ptr<Pool>> p;
    return p;
}

// The working tables and, for each, the statements that move its rows.
struct WorkingTable {
    QByteArray select; // rowid first
    QByteArray insert;
    QByteArray remove;
};

const std::vector<WorkingTable> &workingTables()
{
    static const std::vector<WorkingTable> tables = [] {
        std::vector<WorkingTable> out;
        for (const schemadef::Table &t : schemadef::metadataTables()) {
            if (!t.session)
                continue;
            QStringList columns{QStringLiteral("rowid")};
            QStringList marks{QStringLiteral("?")};
            for (const schemadef::Column &c : t.columns) {
                columns << QString::fromUtf8(c.name);
                marks << QStringLiteral("?");
            }
            const QString name = QStringLiteral("temp.") + QString::fromUtf8(t.name);
            const QString list = columns.join(QLatin1String(", "));
            out.push_back({QStringLiteral("SELECT %1 FROM %2").arg(list, name).toUtf8(),
                           QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                               .arg(name, list, marks.join(QLatin1String(", ")))
                               .toUtf8(),
                           QStringLiteral("DELETE FROM %1").arg(name).toUtf8()});
        }
        return out;
    }();
    return tables;
}

// Turns the connection's triggers off for the life of the object.
class NoTriggers
{
public:
    explicit NoTriggers(sqlite3 *db) : m_db(db)
    {
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    }
    ~NoTriggers() { sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 1, nullptr); }

private:
    sqlite3 *m_db;
};

} // namespace

WorkingRows::~WorkingRows() { drop(); }

void WorkingRows::drop()
{
    for (Table &t : m_tables)
        for (sqlite3_value *v : t.values)
            sqlite3_value_free(v);
    m_tables.clear();
}

bool WorkingRows::save(sqlite3 *db)
{
    std::vector<Table> read;
    bool ok = true;
    qint64 bytes = 0;
    for (const WorkingTable &w : workingTables()) {
        Table t;
        const Statement st = prepare(db, w.select.constData());
        if (!st) {
            ok = false;
            break;
        }
        t.width = sqlite3_column_count(st.get());
        int rc;
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
            for (int c = 0; c < t.width; ++c) {
                bytes += 16 + sqlite3_column_bytes(st.get(), c);
                sqlite3_value *v = bytes > kKeptBytes ? nullptr : sqlite3_value_dup(sqlite3_column_value(st.get(), c));
                if (!v) {
                    ok = false;
                    break;
                }
                t.values.push_back(v);
            }
            if (!ok)
                break;
        }
        read.push_back(std::move(t));
        if (!ok || rc != SQLITE_DONE) {
            ok = false;
            break;
        }
    }
    if (!ok) {
        for (Table &t : read)
            for (sqlite3_value *v : t.values)
                sqlite3_value_free(v);
        return false;
    }
    drop();
    m_tables = std::move(read);
    return true;
}

bool WorkingRows::restore(sqlite3 *db) const
{
    if (m_tables.empty())
        return true;
    const std::vector<WorkingTable> &tables = workingTables();
    const NoTriggers off(db);
    for (size_t i = 0; i < m_tables.size() && i < tables.size(); ++i) {
        const Table &t = m_tables[i];
        if (t.values.empty())
            continue;
        const Statement st = prepare(db, tables[i].insert.constData());
        if (!st || sqlite3_bind_parameter_count(st.get()) != t.width)
            return false;
        for (size_t first = 0; first < t.values.size(); first += size_t(t.width)) {
            for (int c = 0; c < t.width; ++c)
                sqlite3_bind_value(st.get(), c + 1, t.values[first + size_t(c)]);
            if (sqlite3_step(st.get()) != SQLITE_DONE)
                return false;
            sqlite3_reset(st.get());
        }
    }
    return true;
}

bool WorkingRows::clear(sqlite3 *db)
{
    for (const WorkingTable &w : workingTables())
        if (sqlite3_exec(db, w.remove.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            return false;
    return true;
}

void WorkingRows::create(sqlite3 *db) { createWorkingTables(db); }

void Pool::setLimit(int connections) { g_limit = qMax(1, connections); }
int Pool::limit() { return g_limit.load(); }
void Pool::setNotice(void (*notice)(const QString &)) { g_notice = notice; }

std::shared_ptr<Pool> Pool::of(const QString &file, bool readers)
{
    const std::lock_guard<std::mutex> lock(poolsMutex());
    // No file name holds a line break.
    std::weak_ptr<Pool> &slot = pools()[readers ? file + QStringLiteral("\nreaders") : file];
    if (std::shared_ptr<Pool> p = slot.lock())
        return p;
    std::shared_ptr<Pool> p(new Pool(file, g_limit.load()));
    slot = p;
    return p;
}

Pool::Pool(const QString &file, int limit) : m_file(file), m_limit(limit) {}

Pool::~Pool()
{
    for (Pooled *c : m_idle)
        close(c);
}

void Pool::close(Pooled *connection)
{
    sqlite3_close_v2(connection->db);
    delete connection;
}

Pooled *Pool::takeOrOpen(std::unique_lock<std::mutex> &lock, const std::function<void(Pooled &)> &open)
{
    if (!m_idle.empty()) {
        Pooled *c = m_idle.back();
        m_idle.pop_back();
        ++m_lent;
        return c;
    }
    if (m_lent >= m_limit)
        return nullptr;
    ++m_lent;
    lock.unlock();
    auto c = std::make_unique<Pooled>();
    try {
        open(*c);
        return c.release();
    } catch (...) {
        if (c->db)
            sqlite3_close_v2(c->db);
        lock.lock();
        --m_lent;
        m_returned.notify_one();
        throw;
    }
}

Pooled *Pool::take(int waitMs, const std::function<void(Pooled &)> &open)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (Pooled *c = takeOrOpen(lock, open))
            return c;
        if (void (*notice)(const QString &) = g_notice.load()) {
            const qint64 now = QDeadlineTimer::current().deadline();
            if (m_lastNotice == 0 || now - m_lastNotice >= 60000) {
                m_lastNotice = now;
                notice(QStringLiteral("all %1 SQLite connections of %2 are in use; requests wait for one "
                                      "(up to the query timeout), see --sqlite-connections")
                           .arg(m_limit)
                           .arg(m_file));
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

Pooled *Pool::tryTake(const std::function<void(Pooled &)> &open)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    try {
        return takeOrOpen(lock, open);
    } catch (...) {
        return nullptr;
    }
}

void Pool::give(Pooled *connection, bool usable)
{
    connection->session = nullptr;
    connection->sequences = nullptr;
    if (!usable) {
        close(connection);
        connection = nullptr;
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    --m_lent;
    if (connection)
        m_idle.push_back(connection);
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

} // namespace vorel::server::sqlite
