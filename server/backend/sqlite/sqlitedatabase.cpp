#include "server/backend/sqlite/sqlitedatabase.h"

#include "common/exception.h"
#include "common/sqlscanner.h"
#include "server/sql/classrows.h"
#include "server/sql/dialect.h"
#include "server/backend/sqlite/sqliteerrors.h"
#include "server/core/passwords.h"
#include "server/schema/schema.h"
#include "server/backend/sqlite/writequeue.h"
#include "server/backend/sqlite/sequencestore.h"
#include "server/backend/sqlite/sqliteclassrows.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqlitepasswords.h"
#include "server/backend/sqlite/sqliteschema.h"
#include "server/backend/sqlite/sqlitepool.h"
#include "server/backend/sqlite/sqlitestatement.h"
#include "server/backend/sqlite/sqlitelike.h"
#include "server/backend/sqlite/watchdog.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <limits>
#include <sqlite3.h>

namespace vorel::server {

using namespace answers;
using proto::ValueType;

namespace {

// A value past this size is weighed against the session's memory before it
// is copied: one row of several such values could otherwise take many
// times what a frame may carry.
constexpr int kLargeValue = 1 << 20;
// The longest LIKE pattern: the client's are a filter's words; a long one
// over a long text is work enough to hold a connection.
constexpr int kLikePatternBytes = 1000;
// How long past its time a statement has to end by the progress handler's
// hand before the watchdog interrupts its connection.
constexpr int kWatchdogGraceMs = 250;

bool oneOf(const char *name, std::initializer_list<const char *> names)
{
    return name
           && std::any_of(names.begin(), names.end(), [name](const char *n) { return sqlite3_stricmp(name, n) == 0; });
}

// SQL functions that reach outside the database, or run past any bound
// (GLOB, not Oracle's, which SQLite cannot stop midway); no client
// statement calls them.
bool deniedFunction(const char *name)
{
    return oneOf(name, {"load_extension", "readfile", "writefile", "edit", "fts3_tokenizer", "fts5", "sqlite_dbpage",
                        "zipfile", "fsdir", "glob"});
}

// The dictionary registry and SQLite's own tables: what the error texts and
// the schema rest on, never written by a client.
bool protectedTable(const char *table)
{
    return oneOf(table, {"TDICTABLAS", "TDICCOLUM", "TDICRESTR", "TDICRESCOL"})
           || (table && sqlite3_strnicmp(table, "sqlite_", 7) == 0);
}

qint64 steadyNow() { return QDeadlineTimer::current().deadline(); }

bool tailIsBlank(const char *tail) { return sql::onlyTrivia(QString::fromUtf8(tail)); }

// Column type from a declared type; nullopt when it says nothing useful.
std::optional<ValueType> typeFromDeclaration(const char *declared, qint32 *size)
{
    if (!declared || !*declared)
        return std::nullopt;
    const QString d = QString::fromUtf8(declared).toUpper();
    static const QRegularExpression args(QStringLiteral("\\(\\s*(\\d+)\\s*(?:,\\s*(-?\\d+)\\s*)?\\)"));
    const auto m = args.match(d);
    if (d.contains(QLatin1String("DATE")) || d.contains(QLatin1String("TIME")))
        return ValueType::DateTime;
    if (d.contains(QLatin1String("CHAR")) || d.contains(QLatin1String("CLOB")) || d.contains(QLatin1String("TEXT"))) {
        if (m.hasMatch())
            *size = m.captured(1).toInt();
        return ValueType::Text;
    }
    if (d.contains(QLatin1String("BLOB")) || d.contains(QLatin1String("RAW")))
        return ValueType::Blob;
    if (d.contains(QLatin1String("INT")))
        return ValueType::Integer;
    if (d.contains(QLatin1String("REAL")) || d.contains(QLatin1String("FLOA")) || d.contains(QLatin1String("DOUB")))
        return ValueType::Float;
    if (d.contains(QLatin1String("NUMBER")) || d.contains(QLatin1String("NUMERIC")) || d.contains(QLatin1String("DECIMAL"))) {
        if (m.hasMatch() && !m.captured(2).isEmpty() && m.captured(2).toInt() > 0)
            return ValueType::Float;
        return ValueType::Integer;
    }
    return std::nullopt;
}

// One column of the current row into the block, as the column's type reads it.
void encodeValue(sqlite3_stmt *stmt, int c, ValueType columnType, proto::RowBlock &into, RowsAllowance &allowance)
{
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_NULL:
        into.addNull();
        return;
    case SQLITE_INTEGER:
        into.addInteger(sqlite3_column_int64(stmt, c));
        return;
    case SQLITE_FLOAT: {
        const double v = sqlite3_column_double(stmt, c);
        if (columnType == ValueType::Integer && qAbs(v) < 9.0e15 && v == double(qlonglong(v)))
            into.addInteger(qlonglong(v));
        else
            into.addFloat(v);
        return;
    }
    case SQLITE_TEXT: {
        const char *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
        const int bytes = sqlite3_column_bytes(stmt, c);
        if (bytes > kLargeValue)
            allowance.need(into.byteSize() + bytes);
        if (columnType == ValueType::DateTime) {
            if (auto ms = storedDateMs(text, bytes, false)) {
                into.addDateTime(*ms);
                return;
            }
        }
        into.addText(text, bytes);
        return;
    }
    default: {
        const void *blob = sqlite3_column_blob(stmt, c);
        const int bytes = sqlite3_column_bytes(stmt, c);
        if (bytes > kLargeValue)
            allowance.need(into.byteSize() + bytes);
        into.addBlob(static_cast<const char *>(blob), bytes);
        return;
    }
    }
}

void bindValue(sqlite3_stmt *stmt, int index, const QVariant &v)
{
    if (!v.isValid() || v.isNull()) {
        sqlite3_bind_null(stmt, index);
        return;
    }
    if (proto::isIntegral(v)) {
        sqlite3_bind_int64(stmt, index, v.toLongLong());
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(stmt, index, v.toDouble());
        return;
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        sqlite3_bind_blob64(stmt, index, b.constData(), sqlite3_uint64(b.size()), SQLITE_TRANSIENT);
        return;
    }
    case QMetaType::QDateTime: {
        const QByteArray t = v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
        sqlite3_bind_text64(stmt, index, t.constData(), sqlite3_uint64(t.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
        return;
    }
    default: {
        const QByteArray t = v.toString().toUtf8();
        sqlite3_bind_text64(stmt, index, t.constData(), sqlite3_uint64(t.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
        return;
    }
    }
}

} // namespace

struct SqliteDatabase::Cursor {
    SqliteDatabase *owner = nullptr;
    sqlite3_stmt *stmt = nullptr; // null once every row has been read
    // The connection it reads on: a reader, or null for the session's.
    sqlite::Pooled *reader = nullptr;
    QList<proto::Column> columns;
    proto::RowBlock pending;      // read from SQLite, not yet sent
    qsizetype pendingFirst = 0;   // the first of them not yet sent
    qsizetype rowBytes = 0;       // what a row weighed in the last packet
    QString error;                // a failure met while reading ahead

    bool hasPending() const { return pendingFirst < pending.size(); }
    sqlite3 *connection() const { return reader ? reader->db : owner->m_db; }
    ~Cursor()
    {
        if (stmt)
            sqlite3_finalize(stmt);
        if (reader)
            owner->giveBackReader(reader);
    }
};

namespace {

sqlite3 *openConnection(const QString &file)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const QString why = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        throw vorel::Exception(QStringLiteral("No se puede abrir la base de datos %1: %2").arg(file, why));
    }
    sqlite3_extended_result_codes(db, 1);
    // SQLite's default lookaside takes 120 KB per connection at once, a
    // quarter of what an idle session costs in all: a few KB serve the
    // statements of a request nearly as well.
    sqlite3_db_config(db, SQLITE_DBCONFIG_LOOKASIDE, nullptr, 128, 64);
    sqlite3_busy_timeout(db, 10000);
    // No value larger than one frame could travel anyway.
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, int(proto::kMaxFrame));
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, int(proto::kMaxFrame));
    sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, kLikePatternBytes);
    // SQLite's own heap, beside what the sessions' budgets count: a row of
    // many wide values is built there before any of it is read.
    static std::once_flag heapLimit;
    std::call_once(heapLimit, [] { sqlite3_hard_heap_limit64(MemoryBudget::server().total()); });
    return db;
}

// A connection of the pool: what every session needs of it, whoever
// borrows it. Per-connection functions whose state is the session's
// reach it through Pooled::session.
void openPooled(const QString &file, sqlite::Pooled &c)
{
    c.db = openConnection(file);
    char *error = nullptr;
    if (sqlite3_exec(c.db, "PRAGMA journal_mode=WAL", nullptr, nullptr, &error) != SQLITE_OK) {
        const QString why = QString::fromUtf8(error ? error : sqlite3_errmsg(c.db));
        sqlite3_free(error);
        throw vorel::Exception(QStringLiteral("No se puede abrir la base de datos %1: %2").arg(file, why));
    }
    registerOracleFunctions(c.db, &c.overdue);
    registerSequenceFunctions(c.db, &c.sequences);
    registerLike(c.db, &c.overdue);
    passwords::install(c.db);
    sqlite::WorkingRows::create(c.db);
}

// A connection of the readers' pool: no working tables, no writes.
void openReader(const QString &file, sqlite::Pooled &c)
{
    c.db = openConnection(file);
    registerOracleFunctions(c.db, &c.overdue);
    registerSequenceFunctions(c.db, &c.sequences);
    registerLike(c.db, &c.overdue);
    if (sqlite3_exec(c.db, "PRAGMA query_only=1", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw vorel::Exception(QString::fromUtf8(sqlite3_errmsg(c.db)));
}

} // namespace

SqliteDatabase::SqliteDatabase(const QString &file) : m_file(file)
{
    m_pool = sqlite::Pool::of(file);
    m_readerPool = sqlite::Pool::of(file, true);
    m_writers = WriteQueue::of(file);
    m_sequences = std::make_unique<SessionSequences>(SequenceStore::of(file));
    // A file that cannot be opened says so now, not at the first request.
    borrow();
}

sqlite3 *SqliteDatabase::conn()
{
    if (!m_lent)
        borrow();
    return m_db;
}

void SqliteDatabase::borrow()
{
    const QString file = m_file;
    sqlite::Pooled *c = m_pool->take(m_queryTimeoutMs, [&file](sqlite::Pooled &p) { openPooled(file, p); });
    c->session = this;
    c->sequences = m_sequences.get();
    c->overdue = m_overdue.load();
    sqlite3_set_authorizer(c->db, &SqliteDatabase::authorize, this);
    sqlite3_progress_handler(c->db, 10000, &SqliteDatabase::progress, this);
    if (!m_rows.restore(c->db)) {
        const QString why = failureText(c->db);
        m_pool->give(c, sqlite::WorkingRows::clear(c->db));
        throw OraError(why);
    }
    const std::lock_guard<std::mutex> lock(m_watchMutex);
    m_lent = c;
    m_db = c->db;
    m_running = c->db;
}

void SqliteDatabase::giveBack(bool keepRows)
{
    sqlite::Pooled *c = m_lent;
    bool usable = sqlite3_get_autocommit(c->db)
                  || (sqlite3_exec(c->db, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK
                      && sqlite3_get_autocommit(c->db));
    // Rows that could not be read out (too many, or no memory) stay where
    // they are, and the session keeps the connection until they can.
    if (keepRows && usable && !m_rows.save(c->db))
        return;
    usable = usable && sqlite::WorkingRows::clear(c->db);
    // Nothing of the session's stays reachable from the connection.
    sqlite3_progress_handler(c->db, 0, nullptr, nullptr);
    sqlite3_set_authorizer(c->db, nullptr, nullptr);
    {
        const std::lock_guard<std::mutex> lock(m_watchMutex);
        m_lent = nullptr;
        m_db = nullptr;
        m_running = nullptr;
    }
    m_pool->give(c, usable);
}

sqlite::Pooled *SqliteDatabase::takeReader()
{
    if (m_readersInUse >= kMaxReaders)
        return nullptr;
    // Without one the session's own connection still answers, only less
    // concurrently.
    const QString file = m_file;
    sqlite::Pooled *reader = m_readerPool->tryTake([&file](sqlite::Pooled &p) { openReader(file, p); });
    if (!reader)
        return nullptr;
    reader->session = this;
    reader->sequences = m_sequences.get();
    reader->overdue = m_overdue.load();
    sqlite3_set_authorizer(reader->db, &SqliteDatabase::authorize, this);
    sqlite3_progress_handler(reader->db, 10000, &SqliteDatabase::progress, this);
    ++m_readersInUse;
    const std::lock_guard<std::mutex> lock(m_watchMutex);
    m_readers.push_back(reader);
    return reader;
}

void SqliteDatabase::giveBackReader(sqlite::Pooled *reader)
{
    --m_readersInUse;
    sqlite3_progress_handler(reader->db, 0, nullptr, nullptr);
    sqlite3_set_authorizer(reader->db, nullptr, nullptr);
    {
        const std::lock_guard<std::mutex> lock(m_watchMutex);
        m_readers.erase(std::find(m_readers.begin(), m_readers.end(), reader));
        m_running = m_db;
    }
    m_readerPool->give(reader, true);
}

void SqliteDatabase::idle() { giveBackIfIdle(); }

void SqliteDatabase::giveBackIfIdle()
{
    if (!m_lent || inTransaction())
        return;
    // A cursor read to its end, or reading on a reader, needs it no more.
    for (const auto &entry : m_cursors)
        if (entry.second->stmt && !entry.second->reader)
            return;
    giveBack(true);
}

void SqliteDatabase::watch(sqlite3 *connection)
{
    const std::lock_guard<std::mutex> lock(m_watchMutex);
    m_running = connection;
}

// The one gate on what a client's statement may touch: consulted by SQLite
// while it compiles the statement, views and triggers included.
int SqliteDatabase::authorize(void *self, int action, const char *a, const char *b, const char *database,
                        const char *inner)
{
    auto *db = static_cast<SqliteDatabase *>(self);
    if (action == SQLITE_FUNCTION && deniedFunction(b))
        return SQLITE_DENY;
    if (db->m_gate == Gate::Internal)
        return SQLITE_OK;
    // Before a login the working tables of the connection are no one's:
    // they are not there for the client.
    if (!db->m_sessionOpen && database && std::strcmp(database, "temp") == 0
        && (action == SQLITE_READ || action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE)) {
        db->m_noSuchTable = true;
        return SQLITE_DENY;
    }
    // The password triggers call it; a client computing hashes at will
    // would only burn the server's time.
    if (action == SQLITE_FUNCTION && !inner && b && sqlite3_stricmp(b, "vorel_password_hash") == 0)
        return SQLITE_DENY;
    switch (action) {
    case SQLITE_READ:
        if (database && std::strcmp(database, "temp") == 0)
            db->m_compiledReadsTemp = true;
        // A password hash leaves no statement of a client's, whether it names
        // the column or reaches it through a * or a view; the triggers that
        // hash a new password read it, and their names start with TRG_.
        if (a && b && sqlite3_stricmp(a, rights::kPasswordTable) == 0
            && sqlite3_stricmp(b, rights::kPasswordColumn) == 0 && !(inner && sqlite3_strnicmp(inner, "TRG_", 4) == 0))
            return SQLITE_DENY;
        return SQLITE_OK;
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
        // Triggers the database defines keep the registry and the session
        // tables as they must be; the client itself writes only data.
        if (!database || std::strcmp(database, "temp") != 0)
            db->m_compiledWritesMain = true;
        if (inner)
            return SQLITE_OK;
        if (db->m_gate != Gate::Change || protectedTable(a))
            return SQLITE_DENY;
        return SQLITE_OK;
    default:
        // ATTACH, DETACH, PRAGMA, DDL, transactions and savepoints: the
        // session's own calls do those.
        return SQLITE_DENY;
    }
}

int SqliteDatabase::progress(void *self)
{
    auto *db = static_cast<SqliteDatabase *>(self);
    if (db->m_deadline == 0 || (steadyNow() < db->m_deadline && !db->m_overdue.load(std::memory_order_relaxed)))
        return 0;
    db->m_cancelled = true;
    return 1;
}

class SqliteDatabase::Deadline
{
public:
    // An inner one (a fetch inside an open) runs under the outer's time.
    explicit Deadline(SqliteDatabase &db) : m_db(db), m_outer(db.m_deadline == 0)
    {
        if (!m_outer)
            return;
        m_db.m_cancelled = false;
        m_db.m_overdue = false;
        {
            const std::lock_guard<std::mutex> lock(m_db.m_watchMutex);
            if (m_db.m_lent)
                m_db.m_lent->overdue = false;
            for (sqlite::Pooled *reader : m_db.m_readers)
                reader->overdue = false;
        }
        m_db.m_deadline = m_db.m_queryTimeoutMs > 0 ? steadyNow() + m_db.m_queryTimeoutMs : 0;
        if (m_db.m_deadline == 0)
            return;
        SqliteDatabase *session = &m_db;
        m_ticket = Watchdog::instance().arm(m_db.m_deadline + kWatchdogGraceMs, [session] {
            session->m_overdue = true;
            const std::lock_guard<std::mutex> lock(session->m_watchMutex);
            if (session->m_lent)
                session->m_lent->overdue = true;
            for (sqlite::Pooled *reader : session->m_readers)
                reader->overdue = true;
            if (session->m_running)
                sqlite3_interrupt(session->m_running);
        });
    }
    ~Deadline()
    {
        if (!m_outer)
            return;
        if (m_ticket != 0)
            Watchdog::instance().disarm(m_ticket);
        m_db.m_deadline = 0;
        m_db.watch(m_db.m_db);
    }

private:
    SqliteDatabase &m_db;
    const bool m_outer;
    quint64 m_ticket = 0;
};

QString SqliteDatabase::failureText(sqlite3 *db) const
{
    const int rc = sqlite3_extended_errcode(db);
    if ((rc & 0xff) == SQLITE_INTERRUPT && (m_cancelled || m_overdue))
        return QString::fromUtf8(kCancelled);
    if ((rc & 0xff) == SQLITE_AUTH)
        return QString::fromUtf8(m_noSuchTable ? ora::kNoSuchTable : kNoPrivilege);
    return oracleMessage(db, rc, QString::fromUtf8(sqlite3_errmsg(db)));
}

SqliteDatabase::~SqliteDatabase()
{
    m_cursors.clear();
    // Its transaction rolled back, its working rows gone with it.
    if (m_lent)
        giveBack(false);
    if (m_writing)
        m_writers->release();
}

void SqliteDatabase::awaitTurnToWrite()
{
    if (m_writing)
        return;
    if (!m_writers->acquire(kWriteWaitMs))
        throw OraError(ora::text(ora::kResourceBusy, QStringLiteral("other sessions write")));
    m_writing = true;
}

void SqliteDatabase::settleWriter()
{
    if (m_writing && (!m_db || sqlite3_get_autocommit(m_db))) {
        m_writing = false;
        m_writers->release();
    }
}

void SqliteDatabase::fail() const { throw OraError(failureText(m_db)); }

void SqliteDatabase::exec(const char *sql)
{
    const int rc = sqlite3_exec(conn(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail();
}

sqlite3_stmt *SqliteDatabase::prepareOne(const QString &sqliteSql, const char *refusal, Gate gate, sqlite3 *on)
{
    sqlite3 *db = on ? on : conn();
    const QByteArray utf8 = sqliteSql.toUtf8();
    sqlite3_stmt *stmt = nullptr;
    const char *tail = nullptr;
    m_gate = gate;
    m_compiledReadsTemp = false;
    m_compiledWritesMain = false;
    m_sequences->newStatement();
    m_noSuchTable = false;
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, &tail);
    m_gate = Gate::Internal;
    if (rc != SQLITE_OK)
        throw OraError(failureText(db));
    if (!stmt)
        throw vorel::Exception(QString::fromUtf8(refusal));
    if (tail && !tailIsBlank(tail)) {
        sqlite3_finalize(stmt);
        throw vorel::Exception(QString::fromUtf8(kOneStatement));
    }
    return stmt;
}

void SqliteDatabase::visitPasswords(const QString &userId,
                                    const std::function<bool(const QString &row, const QString &stored)> &visit)
{
    // Read first and compared after: a hash takes milliseconds, during
    // which a login storm would hold the pool's connections.
    QList<std::pair<QString, QString>> stored;
    {
        GiveBackIfIdle atEnd{*this};
        const sqlite::Statement stmt = prepareInternal("SELECT rowid, USUA_Paswd FROM TUSUARIOS WHERE USUA_Usua = ?1");
        sqlite::bindText(stmt.get(), 1, userId);
        int rc;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            if (sqlite3_column_type(stmt.get(), 1) != SQLITE_NULL)
                stored.append({QString::number(sqlite3_column_int64(stmt.get(), 0)), sqlite::columnText(stmt.get(), 1)});
        }
        if (rc != SQLITE_DONE)
            fail();
    }
    for (const auto &[row, hash] : stored)
        if (visit(row, hash))
            return;
}

bool SqliteDatabase::replacePassword(const QString &row, const QString &hash)
{
    GiveBackIfIdle atEnd{*this};
    const sqlite::Statement update = sqlite::prepare(conn(), "UPDATE TUSUARIOS SET USUA_Paswd = ?1 WHERE rowid = ?2");
    if (!update)
        return false;
    sqlite::bindText(update.get(), 1, hash);
    sqlite3_bind_int64(update.get(), 2, row.toLongLong());
    return sqlite3_step(update.get()) == SQLITE_DONE;
}

void SqliteDatabase::openSession(const QString &userId)
{
    // A session logged in holds nothing until its first request.
    GiveBackIfIdle atEnd{*this};
    createSessionTables(conn(), userId.trimmed());
    m_sessionOpen = true;
}

QString SqliteDatabase::firstText(const char *sql)
{
    GiveBackIfIdle atEnd{*this};
    const sqlite::Statement stmt = prepareInternal(sql);
    QString text;
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW && sqlite3_column_type(stmt.get(), 0) != SQLITE_NULL)
        text = sqlite::columnText(stmt.get(), 0);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail();
    return text;
}

sqlite::Statement SqliteDatabase::prepareInternal(const char *sql)
{
    sqlite::Statement stmt = sqlite::prepare(conn(), sql);
    if (!stmt)
        fail();
    return stmt;
}

bool SqliteDatabase::inTransaction() const { return m_db && !sqlite3_get_autocommit(m_db); }

void SqliteDatabase::begin()
{
    GiveBackIfIdle atEnd{*this};
    Deadline deadline(*this);
    drainCursors();
    // The write lock is taken now, in turn with the other sessions: a
    // deferred transaction that reads first can never write once another
    // session has committed since its read (SQLite refuses the upgrade at
    // once, without waiting), which failed busy use cases with ORA-00054.
    if (!inTransaction()) {
        awaitTurnToWrite();
        m_mainChanged = false;
    }
    SettleWriter settle{*this};
    exec("BEGIN IMMEDIATE");
}

void SqliteDatabase::endTransaction(bool keep)
{
    GiveBackIfIdle atEnd{*this};
    Deadline deadline(*this);
    SettleWriter settle{*this};
    drainCursors();
    exec(keep ? "COMMIT" : "ROLLBACK");
    m_mainChanged = false;
}

void SqliteDatabase::lockRows(const QString &oracleSql)
{
    const std::optional<int> wait = rowLockWait(oracleSql);
    // In a transaction the session holds the write lock since its BEGIN,
    // and with it every row. Outside one the lock would last as long as
    // the statement: it is taken, so that the wait and NOWAIT's refusal
    // are Oracle's, and given back at once.
    if (!wait || m_writing)
        return;
    if (!m_writers->acquire(*wait < 0 ? kWriteWaitMs : *wait))
        throw OraError(*wait > 0 ? QString::fromLatin1(ora::kWaitTimeout)
                                 : ora::text(ora::kResourceBusy, QStringLiteral("another session writes")));
    m_writers->release();
}

void SqliteDatabase::executeDirect(const QString &oracleSql)
{
    GiveBackIfIdle atEnd{*this};
    const QStringList &allowed = allowedKeywords(Request::Change);
    checkRequest(oracleSql, Request::Change);
    if (const std::optional<MergeSteps> steps = mergeSteps(oracleSql, schemaLookup(conn()))) {
        merge(*steps);
        return;
    }
    const QString sql = translateOracle(oracleSql, schemaLookup(conn()));
    Deadline deadline(*this);
    drainCursors();
    const sqlite::Statement stmt(prepareOne(sql, kOnlyDml, Gate::Change));
    if (sqlite3_stmt_readonly(stmt.get()) || !allowed.contains(sql::leadingKeyword(sql)))
        throw vorel::Exception(QString::fromUtf8(kOnlyDml));
    // The session's working rows are its own: changing them outside a
    // transaction needs no turn among the sessions that write the file.
    if (!inTransaction() && m_compiledWritesMain)
        awaitTurnToWrite();
    // Also when a failure rolled the whole transaction back.
    SettleWriter settle{*this};
    // From here on a cursor opened in this transaction must see its own
    // changes, which only the session's connection holds.
    if (m_compiledWritesMain && inTransaction())
        m_mainChanged = true;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        // RETURNING rows are of no use to the caller.
    }
    if (rc != SQLITE_DONE)
        fail();
}

void SqliteDatabase::merge(const MergeSteps &steps)
{
    Deadline deadline(*this);
    drainCursors();
    if (!inTransaction())
        awaitTurnToWrite();
    SettleWriter settle{*this};
    if (inTransaction())
        m_mainChanged = true;
    runMerge(
        conn(), steps,
        [this](const QString &sql, bool read) {
            sqlite3_stmt *stmt = prepareOne(sql, read ? kOnlySelect : kOnlyDml, read ? Gate::Read : Gate::Change);
            if (!read && sqlite3_stmt_readonly(stmt)) {
                sqlite3_finalize(stmt);
                throw vorel::Exception(QString::fromUtf8(kOnlyDml));
            }
            return stmt;
        },
        [this] { return failureText(m_db); });
}

void SqliteDatabase::refuseConnectionStatement(const QString &oracleSql, Request kind)
{
    GiveBackIfIdle atEnd{*this};
    // These never reach the translator: SQLite compiles them as they are and
    // the authoriser answers for them.
    sqlite3_finalize(prepareOne(oracleSql, kOneStatement, kind == Request::Change ? Gate::Change : Gate::Read));
}

namespace {

// Declared types decide; an expression's column takes the kind of its
// first value, with text in the stored date-time form read as a date.
proto::Column columnOf(sqlite3_stmt *stmt, int c, bool onRow)
{
    proto::Column col;
    col.name = QString::fromUtf8(sqlite3_column_name(stmt, c));
    if (auto t = typeFromDeclaration(sqlite3_column_decltype(stmt, c), &col.size)) {
        col.type = *t;
    } else if (onRow) {
        switch (sqlite3_column_type(stmt, c)) {
        case SQLITE_INTEGER: col.type = ValueType::Integer; break;
        case SQLITE_FLOAT: col.type = ValueType::Float; break;
        case SQLITE_BLOB: col.type = ValueType::Blob; break;
        case SQLITE_TEXT:
            col.type = storedDateMs(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)),
                                    sqlite3_column_bytes(stmt, c), true)
                           ? ValueType::DateTime
                           : ValueType::Text;
            break;
        default: col.type = ValueType::Text; break;
        }
    }
    return col;
}

} // namespace

void SqliteDatabase::compileCursor(Cursor &cursor, const QString &sql)
{
    // Checked and compiled on the session's connection first: it answers
    // for what a client may read, and tells whether the query needs it.
    cursor.stmt = prepareOne(sql, kOnlySelect, Gate::Read);
    if (!sqlite3_stmt_readonly(cursor.stmt) || sqlite3_column_count(cursor.stmt) == 0
        || !allowedKeywords(Request::Read).contains(sql::leadingKeyword(sql)))
        throw vorel::Exception(QString::fromUtf8(kOnlySelect));
    // A cursor reads on a connection of its own, with its own snapshot, so
    // that the session's later writes neither disturb it nor wait for it
    // to be read to its end. The session's working tables and the changes
    // of its open transaction exist only on the session's connection: such
    // a query stays there.
    if (m_compiledReadsTemp || m_mainChanged)
        return;
    sqlite::Pooled *reader = takeReader();
    if (!reader)
        return;
    sqlite3_stmt *own = nullptr;
    try {
        own = prepareOne(sql, kOnlySelect, Gate::Read, reader->db);
    } catch (...) {
        // The authoriser sees no column read in count(*): a query of
        // the working tables shows only here, where they do not exist.
        giveBackReader(reader);
        return;
    }
    sqlite3_finalize(cursor.stmt);
    cursor.stmt = own;
    cursor.reader = reader;
}

Database::OpenResult SqliteDatabase::openCursor(const QString &oracleSql, int packet)
{
    GiveBackIfIdle atEnd{*this};
    m_cursors.checkRoom();
    checkRequest(oracleSql, Request::Read);
    Deadline deadline(*this);
    lockRows(oracleSql);

    BoundQuery query;
    if (auto call = parseClassRowsCall(oracleSql))
        query = classRowsQuery(conn(), *call);
    else
        query.sql = translateOracle(oracleSql, schemaLookup(conn()));

    auto cursor = std::make_unique<Cursor>();
    cursor->owner = this;
    compileCursor(*cursor, query.sql);
    sqlite3_stmt *stmt = cursor->stmt;
    for (int i = 0; i < query.binds.size(); ++i)
        bindValue(stmt, i + 1, query.binds[i]);
    watch(cursor->connection());

    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw OraError(failureText(cursor->connection()));
    const int ncols = sqlite3_column_count(stmt);
    for (int c = 0; c < ncols; ++c)
        cursor->columns.append(columnOf(stmt, c, rc == SQLITE_ROW));
    cursor->pending.setWidth(ncols);
    if (rc == SQLITE_ROW) {
        RowsAllowance allowance(&m_memory, heldPending());
        encodeRow(*cursor, cursor->pending, allowance);
    } else {
        sqlite3_finalize(cursor->stmt);
        cursor->stmt = nullptr;
    }

    OpenResult result;
    result.cursor = m_cursors.nextId();
    result.columns = cursor->columns;
    m_cursors.emplace(result.cursor, std::move(cursor));
    try {
        result.rows = fetch(result.cursor, packet);
    } catch (...) {
        m_cursors.erase(result.cursor);
        throw;
    }
    return result;
}

void SqliteDatabase::encodeRow(Cursor &cursor, proto::RowBlock &into, RowsAllowance &allowance)
{
    into.beginRow();
    const QList<proto::Column> &columns = cursor.columns;
    try {
        for (int c = 0; c < columns.size(); ++c)
            encodeValue(cursor.stmt, c, columns[c].type, into, allowance);
    } catch (...) {
        into.dropUnfinishedRow();
        throw;
    }
}

bool SqliteDatabase::readRow(Cursor &cursor, proto::RowBlock &into, RowsAllowance &allowance)
{
    if (!cursor.stmt)
        return false;
    const int rc = sqlite3_step(cursor.stmt);
    if (rc == SQLITE_ROW) {
        encodeRow(cursor, into, allowance);
        return true;
    }
    if (rc != SQLITE_DONE)
        cursor.error = failureText(cursor.connection());
    sqlite3_finalize(cursor.stmt);
    cursor.stmt = nullptr;
    // Its snapshot is over; the connection serves the next cursor.
    if (cursor.reader) {
        giveBackReader(cursor.reader);
        cursor.reader = nullptr;
    }
    return false;
}

bool SqliteDatabase::readAhead(Cursor &cursor, RowsAllowance &allowance)
{
    try {
        allowance.need(cursor.pending.byteSize());
        return readRow(cursor, cursor.pending, allowance);
    } catch (const OraError &e) {
        // The rows read so far still go to the client; the refusal takes
        // the place of the rest.
        cursor.error = e.message();
        sqlite3_finalize(cursor.stmt);
        cursor.stmt = nullptr;
        return false;
    }
}

qint64 SqliteDatabase::heldPending() const
{
    qint64 bytes = 0;
    for (const auto &entry : m_cursors)
        bytes += entry.second->pending.byteSize();
    return bytes;
}

proto::RowBlock SqliteDatabase::fetch(quint32 id, int count, int *width)
{
    GiveBackIfIdle atEnd{*this};
    const auto it = m_cursors.at(id);
    Cursor &cursor = *it->second;
    Deadline deadline(*this);
    watch(cursor.connection());
    if (width)
        *width = int(cursor.columns.size());
    const qsizetype wanted = count > 0 ? count : std::numeric_limits<qsizetype>::max();

    // Sized from the rows sent so far, so a large packet is not built by
    // growing it again and again.
    proto::RowBlock block = packetFor(int(cursor.columns.size()), count, cursor.rowBytes);
    RowsAllowance allowance(&m_memory, 0);
    struct Settle {
        SqliteDatabase &db;
        ~Settle() { db.m_memory.settle(MemoryAccount::Rows, db.heldPending()); }
    } settle{*this};
    auto tooLarge = [&](const QString &why) {
        // No frame could carry the packet, or the session may not hold it;
        // its rows are gone with it.
        m_cursors.erase(it);
        throw OraError(why);
    };
    // A packet of a given size ends early once it weighs kPacketBytes: a
    // client that grows its packets over wide rows gets fewer rows, not a
    // packet no frame can carry. "All rows" means all, or the refusal.
    auto more = [&] {
        if (block.byteSize() > qsizetype(proto::kMaxFrame))
            tooLarge(QString::fromUtf8(kTooLarge));
        return block.size() < wanted && (count <= 0 || block.byteSize() < kPacketBytes);
    };
    try {
        while (more() && cursor.hasPending())
            block.appendRowOf(cursor.pending, cursor.pendingFirst++);
        if (!cursor.hasPending()) {
            cursor.pending = proto::RowBlock(int(cursor.columns.size()));
            cursor.pendingFirst = 0;
        }
        dropSentRows(cursor.pending, cursor.pendingFirst);
        // Rows already read ahead were weighed then; what is read now is
        // weighed beside them.
        allowance.rebase(heldPending());
        while (more()) {
            allowance.need(block.byteSize());
            if (!readRow(cursor, block, allowance))
                break;
        }
        // One row of look-ahead tells the client whether more will come.
        allowance.rebase(heldPending() + block.byteSize());
        if (!cursor.hasPending())
            readRow(cursor, cursor.pending, allowance);
    } catch (const OraError &e) {
        if (m_cursors.find(id) != m_cursors.end())
            tooLarge(e.message());
        throw;
    }
    // A failure met while reading arrives once the rows before it are sent.
    if (block.isEmpty() && !cursor.hasPending() && !cursor.error.isEmpty())
        throw OraError(cursor.error);
    block.eof = !cursor.hasPending() && !cursor.stmt && cursor.error.isEmpty();
    if (!block.isEmpty())
        cursor.rowBytes = block.byteSize() / block.size() + 1;
    return block;
}

void SqliteDatabase::closeCursor(quint32 id)
{
    GiveBackIfIdle atEnd{*this};
    m_cursors.erase(id);
}

void SqliteDatabase::drainCursors()
{
    // Only what reads on the session's connection: the write would change
    // what such a statement goes on to read, and its read snapshot would
    // stop the write lock from being taken.
    for (auto &entry : m_cursors) {
        Cursor &cursor = *entry.second;
        if (cursor.reader)
            continue;
        RowsAllowance allowance(&m_memory, heldPending() - cursor.pending.byteSize());
        while (readAhead(cursor, allowance)) {
        }
    }
    m_memory.settle(MemoryAccount::Rows, heldPending());
}

} // namespace vorel::server
