#pragma once
// One server session's own SQLite connection: its transaction, its cursors
// and the checks on what a client may run through it. Used by one thread at a
// time; different sessions never share one.
#include "data/protocol.h"

#include <QString>
#include <map>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace vorel::server {

class Database
{
public:
    // Opens an existing database file (WAL journal, busy timeout, the
    // Oracle functions). Throws vorel::Exception.
    explicit Database(const QString &file);
    // Frees every cursor and rolls back a transaction still open.
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    sqlite3 *handle() const { return m_db; }

    // True when TUSUARIOS holds the user with exactly this password.
    bool checkUser(const QString &userId, const QString &password);
    // Creates the session's working tables for the user.
    void startSession(const QString &userId);
    // The greeting parameter MENINI, empty when there is none.
    QString greeting();

    void begin();
    void commit();   // throws "QUEMI: There is no active transaction" outside one
    void rollback(); // likewise
    bool inTransaction() const;

    // Runs exactly one INSERT, UPDATE or DELETE written in Oracle's dialect;
    // refuses anything else without executing it.
    void executeDirect(const QString &oracleSql);

    struct OpenResult {
        quint32 cursor = 0;
        QList<proto::Column> columns;
        proto::RowBlock rows;
    };
    // Runs exactly one SELECT and returns its first `packet` rows (-1: all).
    OpenResult openCursor(const QString &oracleSql, int packet);
    // The next `count` rows (-1: all); *width receives the cursor's column count.
    proto::RowBlock fetch(quint32 cursor, int count, int *width = nullptr);
    void closeCursor(quint32 cursor);
    int openCursors() const { return int(m_cursors.size()); }

    static constexpr int kMaxCursors = 256;

private:
    struct Cursor;
    [[noreturn]] void fail(int rc) const;
    sqlite3_stmt *prepareOne(const QString &sqliteSql, const char *refusal);
    void exec(const char *sql);
    // Steps a cursor once into its pending rows; false at the end or on a
    // failure, which the cursor keeps for its next fetch.
    bool readRow(Cursor &cursor);
    // Reads every pending row of every cursor into memory and ends their
    // statements, so that no read snapshot outlives the next write.
    void drainCursors();

    sqlite3 *m_db = nullptr;
    std::map<quint32, std::unique_ptr<Cursor>> m_cursors;
    quint32 m_nextCursor = 1;
};

} // namespace vorel::server
