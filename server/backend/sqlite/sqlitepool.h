#pragma once
// The SQLite connections of one server process to one database file, lent
// to its sessions one request, one transaction or one open cursor at a
// time. A connection's parsed schema alone is some 320 KB: two thousand
// sessions, most of them idle, then need a few dozen connections rather
// than two thousand.
//
// A second pool of the file keeps read-only connections for cursors that
// read with a snapshot of their own (see SqliteDatabase::compileCursor):
// they hold no working tables, and nothing of any session once given back.
//
// A session's working rows (the session tables, TEMP on every connection)
// travel with the session: they are written into the connection it borrows
// and read back out when it gives the connection back, so that a lent
// connection's working tables hold its borrower's rows and nobody else's.
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct sqlite3;
struct sqlite3_value;

namespace vorel::server {

class SqliteDatabase;
class SessionSequences;

namespace sqlite {

// One connection of the pool, with what its functions, authoriser and
// progress handler reach: the session it is lent to. Functions whose
// state is the session's (not the connection's) read `session`.
struct Pooled {
    sqlite3 *db = nullptr;
    SqliteDatabase *session = nullptr;
    SessionSequences *sequences = nullptr; // the borrower's CURRVALs
    // Set by the borrower's watchdog: the functions that run long stop.
    std::atomic<bool> overdue{false};
};

// The rows of a session's working tables while it holds no connection.
class WorkingRows
{
public:
    WorkingRows() = default;
    WorkingRows(const WorkingRows &) = delete;
    WorkingRows &operator=(const WorkingRows &) = delete;
    ~WorkingRows();

    // Reads the working tables of `db` into memory (false on a failure,
    // or when they hold more than a session keeps in memory; what was
    // kept before is left as it was).
    bool save(sqlite3 *db);
    // Writes them into the empty working tables of `db`, without the
    // triggers that check them against the database's rows: they were
    // checked when they were written.
    bool restore(sqlite3 *db) const;
    // Empties the working tables of `db`.
    static bool clear(sqlite3 *db);
    // Creates them (TEMP) on a new connection.
    static void create(sqlite3 *db);

private:
    void drop();
    struct Table {
        int width = 0; // the rowid and the columns
        std::vector<sqlite3_value *> values;
    };
    std::vector<Table> m_tables;
};

class Pool
{
public:
    // The pool of `file` in this process (its readers' pool with
    // `readers`), made at its first use; it lives while a session holds
    // it, so that its connections close when the last session ends.
    static std::shared_ptr<Pool> of(const QString &file, bool readers = false);
    // Connections lent at once per file (--sqlite-connections); read when
    // a pool is made.
    static void setLimit(int connections);
    static int limit();
    // Where a wait for a connection is told (once a minute at most).
    static void setNotice(void (*notice)(const QString &line));

    ~Pool();
    Pool(const Pool &) = delete;
    Pool &operator=(const Pool &) = delete;

    // An idle connection, or a new one while under the limit (opened as
    // `open` makes it); else waits up to `waitMs` (0: as long as it takes)
    // and then throws OraError with ORA-01013's text, as a request
    // cancelled by its time limit. Throws vorel::Exception when the file
    // cannot be opened.
    Pooled *take(int waitMs, const std::function<void(Pooled &)> &open);
    // The same without waiting: null when every connection is lent or a
    // new one cannot be opened.
    Pooled *tryTake(const std::function<void(Pooled &)> &open);
    // Back into the pool; `usable` false closes it instead (a transaction
    // that could not be rolled back, working rows that could not be
    // cleared).
    void give(Pooled *connection, bool usable);

    // Connections lent now, and open (lent or idle).
    int lent() const;
    int open() const;

private:
    Pool(const QString &file, int limit);
    static void close(Pooled *connection);
    // An idle connection, or one opened (with `lock` released) while under
    // the limit; null when the pool is full. Throws what `open` throws.
    Pooled *takeOrOpen(std::unique_lock<std::mutex> &lock, const std::function<void(Pooled &)> &open);

    const QString m_file;
    const int m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_returned;
    std::vector<Pooled *> m_idle;
    int m_lent = 0;
    qint64 m_lastNotice = 0;
};

} // namespace sqlite
} // namespace vorel::server
