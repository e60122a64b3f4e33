#pragma once
// One server session on PostgreSQL: its transaction, its cursors
// (server-side, read in packets) and the checks on what a client may run.
// The session holds a connection of the pool (pgpool.h) only while it
// needs one: for the request it runs, inside its transaction and while a
// cursor is open on the server. Between those it holds none.
#include "server/core/cursortable.h"
#include "server/core/database.h"
#include "server/schema/schema.h"
#include "server/sql/classrows.h"
#include "server/sql/dialect.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgpool.h"

#include <QHash>
#include <map>
#include <memory>

namespace vorel::server {

class PgDatabase final : public Database
{
public:
    // On the pool of `uri` (postgresql://...). Throws vorel::Exception.
    explicit PgDatabase(const QString &uri);
    ~PgDatabase() override;

    // A connection set as the session's, held from now on for good: for
    // tests and tools that run statements of their own on it.
    pg::Connection &connection();
    // Whether the session holds a connection now.
    bool holdsConnection() const { return bool(m_lease); }

    void setQueryTimeout(int ms) override;
    void openSession(const QString &userId) override;
    rights::Writers writersOf(const QString &table) const override { return schemadef::writersOf(table); }
    void begin() override;
    bool inTransaction() const override { return m_clientTx; }
    void executeDirect(const QString &oracleSql) override;
    OpenResult openCursor(const QString &oracleSql, int packet) override;
    proto::RowBlock fetch(quint32 cursor, int count, int *width = nullptr) override;
    void closeCursor(quint32 cursor) override;
    int openCursors() const override { return int(m_cursors.size()); }

    // What the connection is set to before its first statement.
    static QString sessionSettings();

private:
    // ATTACH, DETACH and PRAGMA have no meaning here; refused as SQLite's
    // authoriser refuses them.
    void refuseConnectionStatement(const QString &oracleSql, Request kind) override;
    void endTransaction(bool keep) override;
    void visitPasswords(const QString &userId,
                        const std::function<bool(const QString &row, const QString &stored)> &visit) override;
    bool replacePassword(const QString &row, const QString &hash) override;
    QString firstText(const char *sql) override;
    struct Cursor;
    // While one lives the session holds a connection; the last to go gives
    // it back unless the session still needs it.
    class Use;
    void borrow();
    void giveBackIfIdle();
    // What the connection is set to for this session: role, key, path, timeout.
    QString settings() const;
    void applySettings();
    pg::Connection &conn() { return *m_lease.conn; }
    // Runs one statement of the client's or the server's own; inside a
    // transaction under a savepoint, so that a failure undoes that statement
    // alone, as Oracle does, instead of the whole transaction.
    pg::Result run(const QString &sql, const QVariantList &params = {}, bool binaryResult = false);
    [[noreturn]] void fail(const pg::Error &e);
    // What `work` returns; its failure on the server reaches the client through fail().
    template <typename Work>
    auto orFail(Work &&work) -> decltype(work())
    {
        try {
            return work();
        } catch (const pg::Error &e) {
            fail(e);
        }
    }
    // A client's SELECT as PostgreSQL runs it, once it passed every check.
    BoundQuery readQuery(const QString &oracleSql);
    // Declares the server-side cursor `name`, in a transaction block of
    // its own when none is open.
    void declare(const QString &name, const BoundQuery &query);
    // Reads up to `rows` rows of the cursor from the server into its pending rows.
    void readAhead(Cursor &cursor, int rows);
    // The cursor's columns from its first result.
    void describe(Cursor &cursor, const pg::Result &r);
    void encodeRows(Cursor &cursor, const pg::Result &r);
    void encodeBinary(Cursor &cursor, int column, const char *value, int bytes);
    // After a failed FETCH of `rows` rows: the rows before the failing one.
    void readUpToFailure(Cursor &cursor, int rows);
    // Closes the cursor on the server; the transaction held for cursors alone
    // ends with the last of them.
    void release(Cursor &cursor);
    void endIdleTransaction();
    // The transaction block open on the server is over for the session and its cursors.
    void leaveHeldTx();
    // A statement whose failure changes nothing the session still holds.
    void execQuietly(const QString &sql);
    // Rows of cursors declared inside the client's transaction are read into
    // memory before it is rolled back, which would take the cursors with it.
    void keepCursorsOfTransaction();
    // What the cursors hold read ahead of the client.
    qint64 heldPending() const;
    // Rows of the cursor a FETCH of "all the rest" asks for at a time.
    static int chunkOf(const Cursor &c);

    const QHash<QString, QString> &spellings();
    // The catalog's name of a table's column, by the table's oid and the
    // column's number; empty when unknown.
    QString attributeName(unsigned table, int column);
    // The answer's columns named as SQLite names them.
    ColumnNaming naming();

    std::shared_ptr<pg::Pool> m_pool;
    pg::Lease m_lease;
    int m_uses = 0;
    bool m_pinned = false;     // connection() was asked: never given back
    bool m_declared = false;   // cursors were declared on the connection held
    qint64 m_key = 0;          // the session's working rows; 0 before openSession
    int m_timeoutMs = 30000;
    bool m_clientTx = false;   // StartTran to CommitTran/RollBackTran
    bool m_heldTx = false;     // a transaction block open on the server
    bool m_savepointTx = false; // the client's transaction is a savepoint within the held one
    bool m_heldWrites = false;  // working rows written in the held block, committed at its end
    int m_txNumber = 0;         // the client's transactions so far
    qint64 m_building = 0;      // the packet under way, while its rows are read
    CursorTable<Cursor> m_cursors;
    QHash<QString, QString> m_spellings;
    bool m_spellingsRead = false;
    bool m_drewSequence = false;          // a NEXTVAL ran: its CURRVALs outlive a rollback
    QHash<quint64, QString> m_attributes; // (table oid << 32 | column number) -> name
};

} // namespace vorel::server
