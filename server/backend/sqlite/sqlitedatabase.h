#pragma once
// One server session on an SQLite file: its transaction, its cursors and
// the checks on what a client may run. Used by one thread at a time. It
// holds a connection of the file's pool (sqlitepool.h) only while it needs
// one: for a request, its transaction and its open cursors.
#include "server/core/cursortable.h"
#include "server/core/database.h"
#include "server/schema/schema.h"
#include "server/sql/dialect.h"
#include "server/backend/sqlite/sqlitepool.h"
#include "server/backend/sqlite/sqlitestatement.h"

#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vorel::server {

class WriteQueue;
class SessionSequences;

class SqliteDatabase final : public Database
{
public:
    // Opens an existing database file (WAL journal, busy timeout, the
    // Oracle functions). Throws vorel::Exception.
    explicit SqliteDatabase(const QString &file);
    // Frees every cursor and rolls back a transaction still open.
    ~SqliteDatabase() override;

    // The connection lent to the session, borrowed when it holds none.
    sqlite3 *handle() { return conn(); }
    // Whether it holds a connection of the pool now.
    bool holdsConnection() const { return m_lent != nullptr; }

    void setQueryTimeout(int ms) override { m_queryTimeoutMs = ms; }
    void openSession(const QString &userId) override;
    rights::Writers writersOf(const QString &table) const override { return schemadef::writersOf(table); }
    void begin() override;
    bool inTransaction() const override;
    void executeDirect(const QString &oracleSql) override;
    OpenResult openCursor(const QString &oracleSql, int packet) override;
    proto::RowBlock fetch(quint32 cursor, int count, int *width = nullptr) override;
    void closeCursor(quint32 cursor) override;
    int openCursors() const override { return int(m_cursors.size()); }
    void idle() override;

    // Connections a session may hold for its cursors at once.
    static constexpr int kMaxReaders = 16;
    // How long a write waits for the sessions ahead of it.
    static constexpr int kWriteWaitMs = 30000;

    // What a statement of the client may do; the server's own statements
    // run as Internal.
    enum class Gate { Internal, Read, Change };

private:
    struct Cursor;
    // Arms the query timeout for the life of one request.
    class Deadline;
    // The connection lent to the session: one of the pool's, taken when it
    // holds none (waiting within the query timeout), its working rows
    // written into it.
    sqlite3 *conn();
    void borrow();
    // Back to the pool, the working rows read out of it first (unless they
    // are dropped: the session ends).
    void giveBack(bool keepRows);
    // Gives the connection back when nothing of the session is left on it
    // (no transaction, no cursor reading on it): at the end of each
    // operation.
    void giveBackIfIdle();
    struct GiveBackIfIdle {
        SqliteDatabase &db;
        ~GiveBackIfIdle() { db.giveBackIfIdle(); }
    };
    // Throws the last failure on the session's connection.
    [[noreturn]] void fail() const;
    // The Oracle text of the last failure on `db`.
    QString failureText(sqlite3 *db) const;
    // Compiles on the session's connection, or on `on`.
    sqlite3_stmt *prepareOne(const QString &sqliteSql, const char *refusal, Gate gate, sqlite3 *on = nullptr);
    // One of the server's own statements, on the session's connection.
    sqlite::Statement prepareInternal(const char *sql);
    // A connection of the readers' pool for one cursor; null when the
    // session has as many as it may or the pool none to lend.
    sqlite::Pooled *takeReader();
    void giveBackReader(sqlite::Pooled *reader);
    // The connection the watchdog interrupts when the request runs late.
    void watch(sqlite3 *connection);
    static int authorize(void *self, int action, const char *a, const char *b, const char *database,
                         const char *inner);
    static int progress(void *self);
    // The session's turn to write among the sessions of the same file;
    // given back once no transaction is open any more.
    void awaitTurnToWrite();
    // MERGE: its steps, as one statement.
    void merge(const MergeSteps &steps);
    // SELECT ... FOR UPDATE: waits for the write lock as the clause says.
    void lockRows(const QString &oracleSql);
    void settleWriter();
    struct SettleWriter {
        SqliteDatabase &db;
        ~SettleWriter() { db.settleWriter(); }
    };
    // ATTACH, DETACH and PRAGMA go to the authoriser, which refuses them.
    void refuseConnectionStatement(const QString &oracleSql, Request kind) override;
    void endTransaction(bool keep) override;
    void visitPasswords(const QString &userId,
                        const std::function<bool(const QString &row, const QString &stored)> &visit) override;
    bool replacePassword(const QString &row, const QString &hash) override;
    QString firstText(const char *sql) override;
    void exec(const char *sql);
    // Compiles a cursor's query, on a connection of its own when it can.
    void compileCursor(Cursor &cursor, const QString &sql);
    // Steps a cursor once into `into`; false at the end or on a failure,
    // which the cursor keeps for its next fetch.
    bool readRow(Cursor &cursor, proto::RowBlock &into, RowsAllowance &allowance);
    void encodeRow(Cursor &cursor, proto::RowBlock &into, RowsAllowance &allowance);
    // Like readRow into its pending rows, within what the session may hold.
    bool readAhead(Cursor &cursor, RowsAllowance &allowance);
    // What the cursors hold read ahead of the client.
    qint64 heldPending() const;
    // Reads every pending row of the cursors on the session's connection
    // into memory and ends their statements, so that no read snapshot of
    // that connection outlives the next write.
    void drainCursors();

    const QString m_file;
    std::shared_ptr<sqlite::Pool> m_pool;
    sqlite::Pooled *m_lent = nullptr; // changed under m_watchMutex
    sqlite3 *m_db = nullptr;           // m_lent's, or null
    // The working rows while the session holds no connection.
    sqlite::WorkingRows m_rows;
    std::shared_ptr<sqlite::Pool> m_readerPool;
    std::vector<sqlite::Pooled *> m_readers; // lent to its cursors; changed under m_watchMutex
    int m_readersInUse = 0;
    // What the statement compiled last reads and writes.
    bool m_compiledReadsTemp = false;
    bool m_compiledWritesMain = false;
    // ... a working table before the session's login (see authorize).
    bool m_noSuchTable = false;
    bool m_sessionOpen = false;
    // The open transaction has written to the database's own tables.
    bool m_mainChanged = false;
    Gate m_gate = Gate::Internal;
    int m_queryTimeoutMs = 0;
    qint64 m_deadline = 0; // steady clock ms; 0 = none armed
    bool m_cancelled = false;
    // Set by the watchdog: the request is past its time (and some grace).
    std::atomic<bool> m_overdue{false};
    std::mutex m_watchMutex; // a connection is not closed while the watchdog interrupts it
    sqlite3 *m_running = nullptr;
    std::shared_ptr<WriteQueue> m_writers;
    // The session's CURRVALs, apart from any connection.
    std::unique_ptr<SessionSequences> m_sequences;
    bool m_writing = false; // holds its turn in m_writers
    CursorTable<Cursor> m_cursors;
};

} // namespace vorel::server
