#pragma once
// The metadata schema on PostgreSQL: the same tables, constraints, comments
// and dictionary views as on SQLite, so that a client cannot tell the two
// databases apart. Objects go into the connection's current schema,
// unquoted (folded to lower case); the dictionary shows them upper case.
// orafce's functions (schema "oracle") must be on the search path of the
// sessions that use the views; the calls below put it there for their own
// transaction.
#include "server/backend/postgres/pgconnection.h"
#include "server/schema/schema.h"
#include "server/core/oraerror.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace vorel::server::pg {

// orafce and pgcrypto, every table of schemadef::metadataTables() (the
// session tables as empty templates that only the dictionary reads), the
// password hashing and registry triggers, VOREL_SPELLING and the dictionary
// views ALL_TAB_COMMENTS, ALL_COL_COMMENTS, ALL_TAB_COLUMNS,
// ALL_CONSTRAINTS and ALL_CONS_COLUMNS over PostgreSQL's catalog. One
// transaction (a savepoint inside the caller's). Throws OraError.
void createSchema(Connection &c);

// A script written for Oracle (see schema/oraclescript.h) on PostgreSQL:
// the tables as createTables makes them, "--@postgresql" statements as
// written, "--@sqlite" ones skipped, views and statements through the one
// place where the PostgreSQL dialect is produced, literal rows many to an
// INSERT. One transaction (a savepoint inside the caller's); the registry
// follows the catalog at the end.
void runOracleScript(Connection &c, const QString &text, const QString &fileBase);
// What Oracle's sequences need in the database (functions/sequences.sql),
// as it may be run again.
QString sequenceFunctions();

// The demo script demo/demo.sql built into the program, with its images.
void fillDemo(Connection &c);

// The role a client's statements run as (SET ROLE at the session's start):
// it reads and writes the schema's tables but not the password hashes,
// which only the login role that checks passwords reads.
inline constexpr char kSessionRole[] = "vorel_sesion";
// Creates that role where it does not exist yet (roles are the cluster's,
// shared by its databases), makes the connection's user a member and
// grants it what a session needs of this database and nothing more; as a
// superuser also takes from PUBLIC the functions that change settings, run
// text as SQL or signal other backends. Idempotent. Throws OraError.
void grantSessionRole(Connection &c);

// Brings the functions of a database made by an earlier server up to this
// server's, one server at a time. Empty when done, else PostgreSQL's reason,
// the earlier functions staying as they were.
QString refreshFunctions(Connection &c);

// The sessions' working rows (RSESION, RVFILRAP, RQBEX) live in permanent
// tables of the schema vorel_work, each row keyed by its session, so that a
// session may run its requests on any connection of the pool. A session
// reaches them under their own names through views of the schema
// vorel_session, first on its search path, that show the rows of the key
// the connection is set to (the setting vorel.sesion, which a client's
// statement cannot change) and write new rows under it. The sessions' role
// may use the views, not the tables. Idempotent; `always` false does nothing
// where the views are there already. Throws OraError.
inline constexpr char kSearchPath[] = "public, oracle, pg_catalog";
inline constexpr char kSessionPath[] = "vorel_session, public, oracle, pg_catalog";
inline constexpr char kSessionKey[] = "vorel.sesion";
// The first key of the advisory lock a server's number is held by.
inline constexpr int kServerLockSpace = 0x566f72;
// The advisory lock servers take one after another to replace functions.
inline constexpr int kFunctionsLockSpace = kServerLockSpace + 1;
void createWorkingTables(Connection &c, bool always = true);
// A new session of `userId` on the server numbered `server` (Pool): its key,
// with its row of RSESION. Throws OraError.
qint64 startSessionRows(Connection &c, const QString &userId, int server);
// The session's working rows and its key are gone. Throws Error.
void endSessionRows(Connection &c, qint64 key);
// The rows of sessions whose server no longer lives (its lock is free);
// the count of such sessions. Throws OraError.
int clearDeadSessions(Connection &c);
// The connection as a session of `userId` sees the database, for tools and
// tests that run statements as a session would: a new session key (of no
// live server: the next server to start clears it), the search path and,
// with `role`, that role. Throws OraError.
void createSessionTables(Connection &c, const QString &userId, const char *role = nullptr);

// The PostgreSQL type of an Oracle column type: VARCHAR2(n) varchar(n),
// NUMBER(p) and NUMBER(p,0) bigint, NUMBER(p,s) double precision, NUMBER
// numeric, DATE timestamp(0), BLOB bytea, CLOB text.
QString postgresType(const QString &oracleType);

// What runOracleScript and createSchema share: tables created in a batch
// (their foreign keys may point at each other), names recorded in their
// declared spelling, and the registry tables brought in line with the
// catalog.
void createTables(Connection &c, const std::vector<schemadef::Table> &tables);
void recordSpelling(Connection &c, const QStringList &names);
// The output column names of a SELECT as written: the alias, or the column
// of a plain (qualified) column reference; expressions without an alias
// are left out.
QStringList selectListNames(const QString &select);
void refreshRegistry(Connection &c);

// Runs `sql` and turns a failure into the Oracle text.
Result run(Connection &c, const QString &sql);
Result run(Connection &c, const QString &sql, const QVariantList &params);

// BEGIN ... COMMIT, or a savepoint when the caller already has a
// transaction; rolled back unless committed. The search path gets orafce's
// schema behind the current one while it lasts.
class Transaction
{
public:
    explicit Transaction(Connection &c);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit();
    Connection &connection() { return m_c; }

private:
    // A lost connection has nothing left to roll back.
    void rollbackQuietly();

    Connection &m_c;
    bool m_nested = false;
    bool m_done = false;
    QString m_searchPath;
};

} // namespace vorel::server::pg
