#include "server/database.h"

#include "common/exception.h"
#include "common/sqllines.h"
#include "server/classrows.h"
#include "server/dialect.h"
#include "server/oraerrors.h"
#include "server/schema.h"

#include <QRegularExpression>
#include <deque>
#include <limits>
#include <sqlite3.h>

namespace vorel::server {

using proto::ValueType;

namespace {

const char kNoTransaction[] = "QUEMI: There is no active transaction";
const char kOnlyDml[] = "EjeDir solo ejecuta una sentencia INSERT, UPDATE o DELETE";
const char kOnlySelect[] = "Un proveedor solo ejecuta una sentencia SELECT";
const char kOneStatement[] = "Se admite una sola sentencia SQL por petición";
const char kTooManyCursors[] = "Demasiados cursores abiertos en la sesión";

QString fromSqlite(const unsigned char *text, int bytes)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(text), bytes);
}


// True when something other than blanks, comments and semicolons follows the
// first semicolon outside quotes and comments.
bool hasSecondStatement(const QString &sql)
{
    qsizetype i = 0;
    while (i < sql.size()) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A doubled quote inside is just the quote again; the loop reads it
            // as the end and the start of two adjacent quoted parts.
            const qsizetype end = sql.indexOf(c, i + 1);
            if (end < 0)
                return false;
            i = end + 1;
        } else if (sql.mid(i, 2) == QLatin1String("--") || sql.mid(i, 2) == QLatin1String("/*")) {
            i = SkipSqlBlank(sql, i);
        } else if (c == QLatin1Char(';')) {
            qsizetype j = i + 1;
            for (;;) {
                j = SkipSqlBlank(sql, j);
                if (j < sql.size() && sql[j] == QLatin1Char(';'))
                    ++j;
                else
                    break;
            }
            return j < sql.size();
        } else {
            ++i;
        }
    }
    return false;
}

bool tailIsBlank(const char *tail)
{
    const QString rest = QString::fromUtf8(tail);
    qsizetype i = 0;
    for (;;) {
        i = SkipSqlBlank(rest, i);
        if (i < rest.size() && rest[i] == QLatin1Char(';'))
            ++i;
        else
            break;
    }
    return i >= rest.size();
}

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

// 'YYYY-MM-DD', 'YYYY-MM-DD HH:MM[:SS[.fff]]' (or with a T) as a naive date-time.
std::optional<QDateTime> parseStoredDate(const QString &text, bool timeRequired)
{
    static const QRegularExpression re(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})(?:[ T](\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.(\\d{1,3})\\d*)?)?)?$"));
    const auto m = re.match(text);
    if (!m.hasMatch() || (timeRequired && m.captured(4).isEmpty()))
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    QString ms = m.captured(7);
    while (!ms.isEmpty() && ms.size() < 3)
        ms.append(QLatin1Char('0'));
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), ms.toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    // UTC only to keep the reading free of daylight-saving gaps.
    return QDateTime(date, time, Qt::UTC);
}

QVariant readValue(sqlite3_stmt *stmt, int c, ValueType columnType)
{
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(stmt, c)));
    case SQLITE_FLOAT: {
        const double v = sqlite3_column_double(stmt, c);
        if (columnType == ValueType::Integer && v == double(qlonglong(v)) && qAbs(v) < 9.0e15)
            return QVariant(qlonglong(v));
        return QVariant(v);
    }
    case SQLITE_TEXT: {
        const QString text = fromSqlite(sqlite3_column_text(stmt, c), sqlite3_column_bytes(stmt, c));
        if (columnType == ValueType::DateTime) {
            if (auto dt = parseStoredDate(text, false))
                return QVariant(*dt);
        }
        return QVariant(text);
    }
    default: {
        const void *p = sqlite3_column_blob(stmt, c);
        return QVariant(QByteArray(static_cast<const char *>(p), sqlite3_column_bytes(stmt, c)));
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

struct Database::Cursor {
    sqlite3_stmt *stmt = nullptr; // null once every row has been read
    QList<proto::Column> columns;
    std::deque<QVariantList> pending; // read from SQLite, not yet sent
    QString error;                    // a failure met while reading ahead

    ~Cursor()
    {
        if (stmt)
            sqlite3_finalize(stmt);
    }
};

Database::Database(const QString &file)
{
    const int rc = sqlite3_open_v2(file.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const QString why = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw vorel::Exception(QStringLiteral("No se puede abrir la base de datos %1: %2").arg(file, why));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 10000);
    try {
        exec("PRAGMA journal_mode=WAL");
        registerOracleFunctions(m_db);
    } catch (...) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
}

Database::~Database()
{
    m_cursors.clear();
    if (m_db && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(m_db);
}

void Database::fail(int rc) const
{
    throw OraError(oracleMessage(m_db, rc, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

void Database::exec(const char *sql)
{
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(sqlite3_extended_errcode(m_db));
}

sqlite3_stmt *Database::prepareOne(const QString &sqliteSql, const char *refusal)
{
    const QByteArray utf8 = sqliteSql.toUtf8();
    sqlite3_stmt *stmt = nullptr;
    const char *tail = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &stmt, &tail);
    if (rc != SQLITE_OK)
        fail(sqlite3_extended_errcode(m_db));
    if (!stmt)
        throw vorel::Exception(QString::fromUtf8(refusal));
    if (tail && !tailIsBlank(tail)) {
        sqlite3_finalize(stmt);
        throw vorel::Exception(QString::fromUtf8(kOneStatement));
    }
    return stmt;
}

bool Database::checkUser(const QString &userId, const QString &password)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT USUA_Paswd FROM TUSUARIOS WHERE USUA_Usua = ?1", -1, &stmt, nullptr)
        != SQLITE_OK)
        fail(sqlite3_extended_errcode(m_db));
    const QByteArray id = userId.trimmed().toUtf8();
    sqlite3_bind_text64(stmt, 1, id.constData(), sqlite3_uint64(id.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
    bool match = false;
    int rc;
    while (!match && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (sqlite3_column_type(stmt, 0) != SQLITE_NULL)
            match = fromSqlite(sqlite3_column_text(stmt, 0), sqlite3_column_bytes(stmt, 0)) == password;
    }
    if (!match && rc != SQLITE_DONE) {
        const int code = sqlite3_extended_errcode(m_db);
        const QString msg = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(stmt);
        throw OraError(oracleMessage(m_db, code, msg));
    }
    sqlite3_finalize(stmt);
    return match;
}

void Database::startSession(const QString &userId) { createSessionTables(m_db, userId.trimmed()); }

QString Database::greeting()
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT PARA_Valor FROM TPARAMS WHERE PARA_Param='MENINI'", -1, &stmt, nullptr)
        != SQLITE_OK)
        fail(sqlite3_extended_errcode(m_db));
    QString text;
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL)
        text = fromSqlite(sqlite3_column_text(stmt, 0), sqlite3_column_bytes(stmt, 0));
    const int code = sqlite3_extended_errcode(m_db);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail(code);
    return text;
}

bool Database::inTransaction() const { return !sqlite3_get_autocommit(m_db); }

void Database::begin()
{
    drainCursors();
    exec("BEGIN");
}

void Database::commit()
{
    if (!inTransaction())
        throw vorel::Exception(QString::fromUtf8(kNoTransaction));
    drainCursors();
    exec("COMMIT");
}

void Database::rollback()
{
    if (!inTransaction())
        throw vorel::Exception(QString::fromUtf8(kNoTransaction));
    drainCursors();
    exec("ROLLBACK");
}

void Database::executeDirect(const QString &oracleSql)
{
    static const QStringList allowed{QStringLiteral("INSERT"), QStringLiteral("UPDATE"), QStringLiteral("DELETE")};
    if (!allowed.contains(LeadingKeyword(oracleSql)))
        throw vorel::Exception(QString::fromUtf8(kOnlyDml));
    if (hasSecondStatement(oracleSql))
        throw vorel::Exception(QString::fromUtf8(kOneStatement));
    const QString sql = translateOracle(oracleSql, schemaLookup(m_db));
    drainCursors();
    sqlite3_stmt *stmt = prepareOne(sql, kOnlyDml);
    if (sqlite3_stmt_readonly(stmt) || !allowed.contains(LeadingKeyword(sql))) {
        sqlite3_finalize(stmt);
        throw vorel::Exception(QString::fromUtf8(kOnlyDml));
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        // RETURNING rows are of no use to the caller.
    }
    if (rc != SQLITE_DONE) {
        const int code = sqlite3_extended_errcode(m_db);
        const QString msg = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(stmt);
        throw OraError(oracleMessage(m_db, code, msg));
    }
    sqlite3_finalize(stmt);
}

Database::OpenResult Database::openCursor(const QString &oracleSql, int packet)
{
    if (int(m_cursors.size()) >= kMaxCursors)
        throw vorel::Exception(QString::fromUtf8(kTooManyCursors));
    static const QStringList allowed{QStringLiteral("SELECT"), QStringLiteral("WITH")};
    if (!allowed.contains(LeadingKeyword(oracleSql)))
        throw vorel::Exception(QString::fromUtf8(kOnlySelect));
    if (hasSecondStatement(oracleSql))
        throw vorel::Exception(QString::fromUtf8(kOneStatement));

    BoundQuery query;
    if (auto call = parseClassRowsCall(oracleSql))
        query = classRowsQuery(m_db, *call);
    else
        query.sql = translateOracle(oracleSql, schemaLookup(m_db));

    auto cursor = std::make_unique<Cursor>();
    cursor->stmt = prepareOne(query.sql, kOnlySelect);
    sqlite3_stmt *stmt = cursor->stmt;
    const int ncols = sqlite3_column_count(stmt);
    if (!sqlite3_stmt_readonly(stmt) || ncols == 0 || !allowed.contains(LeadingKeyword(query.sql)))
        throw vorel::Exception(QString::fromUtf8(kOnlySelect));
    for (int i = 0; i < query.binds.size(); ++i)
        bindValue(stmt, i + 1, query.binds[i]);

    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail(sqlite3_extended_errcode(m_db));

    // Declared types decide; an expression's column takes the kind of its
    // first value, with text in the stored date-time form read as a date.
    for (int c = 0; c < ncols; ++c) {
        proto::Column col;
        col.name = QString::fromUtf8(sqlite3_column_name(stmt, c));
        if (auto t = typeFromDeclaration(sqlite3_column_decltype(stmt, c), &col.size)) {
            col.type = *t;
        } else if (rc == SQLITE_ROW) {
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER: col.type = ValueType::Integer; break;
            case SQLITE_FLOAT: col.type = ValueType::Float; break;
            case SQLITE_BLOB: col.type = ValueType::Blob; break;
            case SQLITE_TEXT: {
                const QString text = fromSqlite(sqlite3_column_text(stmt, c), sqlite3_column_bytes(stmt, c));
                col.type = parseStoredDate(text, true) ? ValueType::DateTime : ValueType::Text;
                break;
            }
            default: col.type = ValueType::Text; break;
            }
        }
        cursor->columns.append(col);
    }
    if (rc == SQLITE_ROW) {
        QVariantList row;
        row.reserve(ncols);
        for (int c = 0; c < ncols; ++c)
            row.append(readValue(stmt, c, cursor->columns[c].type));
        cursor->pending.push_back(std::move(row));
    } else {
        sqlite3_finalize(cursor->stmt);
        cursor->stmt = nullptr;
    }

    OpenResult result;
    result.cursor = m_nextCursor++;
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

bool Database::readRow(Cursor &cursor)
{
    if (!cursor.stmt)
        return false;
    const int rc = sqlite3_step(cursor.stmt);
    if (rc == SQLITE_ROW) {
        QVariantList row;
        row.reserve(cursor.columns.size());
        for (int c = 0; c < cursor.columns.size(); ++c)
            row.append(readValue(cursor.stmt, c, cursor.columns[c].type));
        cursor.pending.push_back(std::move(row));
        return true;
    }
    if (rc != SQLITE_DONE)
        cursor.error = oracleMessage(m_db, sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
    sqlite3_finalize(cursor.stmt);
    cursor.stmt = nullptr;
    return false;
}

proto::RowBlock Database::fetch(quint32 id, int count, int *width)
{
    const auto it = m_cursors.find(id);
    if (it == m_cursors.end())
        throw vorel::Exception(QStringLiteral("Cursor desconocido: %1").arg(id));
    Cursor &cursor = *it->second;
    if (width)
        *width = int(cursor.columns.size());
    const qsizetype wanted = count > 0 ? count : std::numeric_limits<qsizetype>::max();

    proto::RowBlock block;
    while (block.rows.size() < wanted) {
        if (cursor.pending.empty() && !readRow(cursor))
            break;
        block.rows.append(std::move(cursor.pending.front()));
        cursor.pending.pop_front();
    }
    // One row of look-ahead tells the client whether more will come.
    if (cursor.pending.empty())
        readRow(cursor);
    // A failure met while reading arrives once the rows before it are sent.
    if (block.rows.isEmpty() && cursor.pending.empty() && !cursor.error.isEmpty())
        throw OraError(cursor.error);
    block.eof = cursor.pending.empty() && !cursor.stmt && cursor.error.isEmpty();
    return block;
}

void Database::closeCursor(quint32 id) { m_cursors.erase(id); }

void Database::drainCursors()
{
    for (auto &entry : m_cursors) {
        while (readRow(*entry.second)) {
        }
    }
}

} // namespace vorel::server
