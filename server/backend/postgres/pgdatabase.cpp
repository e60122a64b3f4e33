#include "server/backend/postgres/pgdatabase.h"

#include "common/exception.h"
#include "common/sqlscanner.h"
#include "server/sql/classrows.h"
#include "server/sql/dialect.h"
#include "server/core/oraerror.h"
#include "server/core/passwords.h"
#include "server/schema/schema.h"
#include "server/backend/postgres/pgcalls.h"
#include "server/backend/postgres/pgerrors.h"
#include "server/backend/postgres/pgschema.h"
#include "server/backend/postgres/pgclassrows.h"
#include "server/backend/postgres/pgdialect.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTime>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <utility>

namespace vorel::server {

using namespace answers;
using proto::ValueType;

namespace {

// How long a statement waits for a lock another session holds, unless its
// FOR UPDATE WAIT n says otherwise.
constexpr int kLockWaitMs = 30000;
// A value past this size is weighed against the session's memory before it
// is copied, as on SQLite.
constexpr int kLargeValue = 1 << 20;
// Rows asked of the server at a time when a client wants all of them, at
// most, and what such a FETCH's answer may weigh once the rows' weight is
// known: libpq holds the whole answer before a row of it is weighed.
constexpr int kAllRowsChunk = 4096;
constexpr qint64 kChunkBytes = qint64(8) << 20;

// The type OIDs of pg_type that the rows are read by.
enum Oid : unsigned {
    kBool = 16, kBytea = 17, kChar = 18, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kOid = 26,
    kFloat4 = 700, kFloat8 = 701, kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTimestamp = 1114,
    kTimestampTz = 1184, kNumeric = 1700,
};

// How a column's values are read from their text form.
enum class Reading { Integer, Float, Numeric, Bool, Text, DateTime, Blob };

Reading readingOf(unsigned type)
{
    switch (type) {
    case kInt2: case kInt4: case kInt8: case kOid: return Reading::Integer;
    case kFloat4: case kFloat8: return Reading::Float;
    case kNumeric: return Reading::Numeric;
    case kBool: return Reading::Bool;
    case kDate: case kTimestamp: case kTimestampTz: return Reading::DateTime;
    case kBytea: return Reading::Blob;
    default: return Reading::Text;
    }
}

void addDouble(double v, bool wholeAsInteger, proto::RowBlock &into)
{
    if (wholeAsInteger && std::fabs(v) < 9.0e15 && v == double(qlonglong(v)))
        into.addInteger(qlonglong(v));
    else
        into.addFloat(v);
}

// A number in PostgreSQL's text form as SQLite holds it in a column of
// numeric affinity: whole values as integers.
void addNumber(const char *text, int bytes, bool wholeAsInteger, proto::RowBlock &into)
{
    bool plainDigits = bytes > 0 && bytes < 19;
    for (int i = 0; i < bytes && plainDigits; ++i)
        plainDigits = (text[i] >= '0' && text[i] <= '9') || (i == 0 && text[i] == '-');
    if (plainDigits && wholeAsInteger) {
        into.addInteger(std::strtoll(text, nullptr, 10));
        return;
    }
    addDouble(std::strtod(text, nullptr), wholeAsInteger, into);
}

// bytea in its hex output form, \x0a1b...
QByteArray byteaOf(const char *text, int bytes)
{
    if (bytes < 2 || text[0] != '\\' || text[1] != 'x')
        return QByteArray(text, bytes);
    return QByteArray::fromHex(QByteArray::fromRawData(text + 2, bytes - 2));
}

// The types whose binary form reads back exactly as their text form does;
// a cursor with a column of any other type keeps reading text.
bool binaryReadable(unsigned type)
{
    switch (type) {
    case kBool: case kBytea: case kChar: case kName: case kInt8: case kInt2: case kInt4: case kText: case kOid:
    case kFloat8: case kBpchar: case kVarchar: case kDate: case kTimestamp: case kNumeric:
        return true;
    default:
        return false;
    }
}

template <typename T> T bigEndian(const char *p)
{
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v = T((quint64(v) << 8) | quint8(p[i]));
    return v;
}

// numeric's binary form (base-10000 digits) as numeric_out writes it.
std::string numericText(const char *p, int n)
{
    if (n < 8)
        return "NaN";
    const int ndigits = bigEndian<qint16>(p), weight = bigEndian<qint16>(p + 2);
    const quint16 sign = bigEndian<quint16>(p + 4);
    const int dscale = bigEndian<qint16>(p + 6);
    if (sign == 0xC000 || n < 8 + 2 * ndigits)
        return "NaN";
    if (sign == 0xD000)
        return "Infinity";
    if (sign == 0xF000)
        return "-Infinity";
    auto digit = [&](int i) { return i >= 0 && i < ndigits ? int(bigEndian<qint16>(p + 8 + 2 * i)) : 0; };
    std::string out;
    if (sign == 0x4000)
        out += '-';
    char group[8];
    if (weight < 0) {
        out += '0';
    } else {
        for (int i = 0; i <= weight; ++i) {
            std::snprintf(group, sizeof group, i == 0 ? "%d" : "%04d", digit(i));
            out += group;
        }
    }
    if (dscale > 0) {
        out += '.';
        std::string fraction;
        for (int i = weight + 1; int(fraction.size()) < dscale; ++i) {
            std::snprintf(group, sizeof group, "%04d", digit(i));
            fraction += group;
        }
        out += fraction.substr(0, size_t(dscale));
    }
    return out;
}

// Dates and timestamps travel in binary as days or microseconds since
// 2000-01-01, the wire counts milliseconds since 1970-01-01.
constexpr qint64 kMsAt2000 = 946684800000;
constexpr qint64 kUsPerDay = qint64(86400) * 1000000;

qint64 floorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// A date or timestamp of the binary form as its text form reads: a date
// and time of the years 1 to 9999, else the text PostgreSQL writes.
void addTime(qint64 us, bool infinite, bool withTime, proto::RowBlock &into)
{
    if (infinite) {
        into.addText(us > 0 ? QStringLiteral("infinity") : QStringLiteral("-infinity"));
        return;
    }
    const qint64 days = floorDiv(us, kUsPerDay);
    const QDate date = QDate(2000, 1, 1).addDays(days);
    if (date.year() >= 1 && date.year() <= 9999) {
        into.addDateTime(floorDiv(us, 1000) + kMsAt2000);
        return;
    }
    // Year 1 BC is QDate's -1; PostgreSQL writes it 0001 ... BC.
    QString text = QString::number(qAbs(date.year())).rightJustified(4, QLatin1Char('0'))
        + date.toString(QStringLiteral("-MM-dd"));
    if (withTime) {
        const qint64 inDay = us - days * kUsPerDay;
        text += QTime::fromMSecsSinceStartOfDay(int(inDay / 1000)).toString(QStringLiteral(" HH:mm:ss"));
        if (const qint64 fraction = inDay % 1000000) {
            QString digits = QString::number(fraction).rightJustified(6, QLatin1Char('0'));
            while (digits.endsWith(QLatin1Char('0')))
                digits.chop(1);
            text += QLatin1Char('.') + digits;
        }
    }
    if (date.year() < 0)
        text += QStringLiteral(" BC");
    into.addText(text);
}

// Functions that reach outside the data a client may read: files, other
// sessions, the server's settings, queries given as text, and the schema's
// own (password hashes, the registry's guard). SQLite's ways to the same
// are refused alike, so that a client hears the same answer from both.
bool deniedName(const QString &word)
{
    static const char *const prefixes[] = {"pg_", "lo_", "dblink", "utl_file", "dbms_", "plunit", "query_to_",
                                           "cursor_to_", "table_to_", "schema_to_", "database_to_", "vorel_",
                                           "pragma_"};
    static const char *const names[] = {"set_config", "current_setting", "txid_current", "plvlex", "plvsubst",
                                        "load_extension"};
    const QString w = word.toLower();
    for (const char *p : prefixes)
        if (w.startsWith(QLatin1String(p)))
            return true;
    for (const char *n : names)
        if (w == QLatin1String(n))
            return true;
    return false;
}

// A call of a function not in the list (pgcalls.h), a name before "." that
// the client may not reach, or a relation of the catalog (pg_shadow,
// pg_stat_activity, ...) named anywhere. The text is read as PostgreSQL
// reads it, so that a call hidden from an Oracle reading inside what only
// looks like a literal or a comment is still found; a name spelt in U&"..."
// escapes is refused unread.
bool reachesOutside(const QString &sql)
{
    struct Tok {
        sql::TokenKind kind;
        QString text;
        QString name; // a word, or a quoted name without its quotes
    };
    std::vector<Tok> toks;
    sql::Scanner s(sql, sql::Lexicon::Postgres);
    for (sql::Token t = s.nextSignificant(); t.end > t.begin; t = s.nextSignificant()) {
        Tok tok{t.kind, s.text(t).toString(), {}};
        if (t.kind == sql::TokenKind::Word)
            tok.name = tok.text;
        else if (t.kind == sql::TokenKind::QuotedName && !toks.empty() && toks.back().text == QLatin1String("&"))
            return true;
        else if (t.kind == sql::TokenKind::QuotedName && t.closed)
            tok.name = tok.text.sliced(1, tok.text.size() - 2).replace(QLatin1String("\"\""), QLatin1String("\""));
        if (tok.name.startsWith(QLatin1String("pg_"), Qt::CaseInsensitive))
            return true;
        toks.push_back(std::move(tok));
    }
    const auto isWord = [&](size_t i, const char *w) {
        return i < toks.size() && toks[i].kind == sql::TokenKind::Word
               && toks[i].text.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
    };
    // The token past the parenthesis that opens at `open`.
    const auto pastGroup = [&](size_t open) {
        int depth = 0;
        for (size_t i = open; i < toks.size(); ++i) {
            if (toks[i].text == QLatin1String("("))
                ++depth;
            else if (toks[i].text == QLatin1String(")") && --depth == 0)
                return i + 1;
        }
        return toks.size();
    };
    for (size_t i = 0; i + 1 < toks.size(); ++i) {
        const QString &name = toks[i].name;
        if (name.isEmpty())
            continue;
        const QString &next = toks[i + 1].text;
        if (next == QLatin1String(".") && deniedName(name))
            return true;
        if (next != QLatin1String("("))
            continue;
        // A name being defined, not called: INSERT INTO t (...), a column
        // list after AS, a subquery of WITH with its columns.
        size_t head = i;
        if (head >= 2 && toks[head - 1].text == QLatin1String(".") && !toks[head - 2].name.isEmpty())
            head -= 2;
        if (head > 0 && (isWord(head - 1, "INTO") || isWord(head - 1, "AS") || isWord(head - 1, "WITH")
                         || isWord(head - 1, "RECURSIVE") || isWord(head - 1, "TABLE")))
            continue;
        if (const size_t after = pastGroup(i + 1); isWord(after, "AS") && after + 1 < toks.size()
                                                    && (toks[after + 1].text == QLatin1String("(")
                                                        || isWord(after + 1, "MATERIALIZED") || isWord(after + 1, "NOT")))
            continue;
        // A qualified call reaches only the schemas the dialect writes.
        if (head != i && !isWord(head, "public") && !isWord(head, "oracle"))
            return true;
        if (!pg::callAllowed(name))
            return true;
    }
    return false;
}

// True when the statement writes one of the session's working tables, which
// no other session reads: such a write need not be committed at once.
bool writesWorkingRows(const QString &sql)
{
    static const QRegularExpression target(
        QStringLiteral("^(?:INSERT\\s+INTO|UPDATE|DELETE\\s+FROM|DELETE)\\s+(?:\"?pg_temp\"?\\s*\\.\\s*)?\"?(\\w+)\"?(?:\\s|\\(|$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = target.match(sql.mid(sql::skipTrivia(sql, 0, sql::Lexicon::Postgres)));
    if (!m.hasMatch())
        return false;
    const auto &tables = schemadef::metadataTables();
    return std::any_of(tables.begin(), tables.end(), [&](const schemadef::Table &t) {
        return t.session && m.captured(1).compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0;
    });
}

// Oracle, like SQLite, lets a subquery of WITH name itself without saying
// RECURSIVE; PostgreSQL needs the word, and takes it as well where nothing
// recurses.
QString withRecursive(const QString &sql)
{
    const qsizetype with = sql::skipTrivia(sql, 0, sql::Lexicon::Postgres);
    if (sql.mid(with, 4).compare(QLatin1String("WITH"), Qt::CaseInsensitive) != 0)
        return sql;
    const qsizetype next = sql::skipTrivia(sql, with + 4, sql::Lexicon::Postgres);
    if (sql.mid(next, 9).compare(QLatin1String("RECURSIVE"), Qt::CaseInsensitive) == 0)
        return sql;
    QString out = sql;
    out.insert(with + 4, QLatin1String(" RECURSIVE"));
    return out;
}

} // namespace

struct PgDatabase::Cursor {
    QString name;                  // of the server-side cursor; empty once closed there
    QList<proto::Column> columns;
    std::vector<Reading> readings;
    std::vector<bool> fromTable;   // a table's or view's column, not an expression
    std::vector<unsigned> types;   // the columns' type OIDs
    proto::RowBlock pending;       // read from the server, not yet sent
    qsizetype pendingFirst = 0;
    bool inHeldTx = false;         // declared in the transaction block open now
    int txNumber = 0;              // the client's transaction it was declared in; 0 = none
    qsizetype rowBytes = 0;
    QString error;                 // a failure met while reading ahead
    QString sql;                   // the query, for the rows before a failure
    QVariantList binds;
    qint64 serverRows = 0;         // rows read from the server so far
    bool binary = false;           // its packets after the first read in binary form

    bool hasPending() const { return pendingFirst < pending.size(); }
};

QString PgDatabase::sessionSettings()
{
    // Times as the server's clock shows them, texts in UTF-8, dates read
    // and written in ISO form; Oracle's functions of orafce after ours.
    QString zone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    if (zone.isEmpty())
        zone = QStringLiteral("UTC");
    // Strings as standard SQL writes them, backslashes as they stand: the
    // checks of a client's statement read it so.
    return QStringLiteral("SET search_path = %3; SET DateStyle = 'ISO, DMY'; "
                          "SET standard_conforming_strings = on; "
                          "SET TimeZone = %1; SET lock_timeout = %2; SET client_min_messages = warning; "
                          "SET bytea_output = hex; SET extra_float_digits = 1")
        .arg(schemadef::quoted(zone))
        .arg(kLockWaitMs)
        .arg(QLatin1String(pg::kSearchPath));
}

class PgDatabase::Use
{
public:
    explicit Use(PgDatabase &db) : m_db(db)
    {
        if (m_db.m_uses == 0 && !m_db.m_lease)
            m_db.borrow();
        ++m_db.m_uses;
    }
    ~Use()
    {
        if (--m_db.m_uses == 0)
            m_db.giveBackIfIdle();
    }
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;

private:
    PgDatabase &m_db;
};

PgDatabase::PgDatabase(const QString &uri) : m_pool(pg::Pool::of(uri)) {}

PgDatabase::~PgDatabase()
{
    // Whatever the client left open is undone, as when its connection ends,
    // and its working rows go, deleted as the server's own role.
    m_cursors.clear();
    const qint64 key = std::exchange(m_key, 0);
    if (!m_lease && key == 0)
        return;
    try {
        if (!m_lease)
            m_lease = m_pool->take(m_timeoutMs);
        if (conn().inTransaction())
            execQuietly(QStringLiteral("ROLLBACK"));
        if (key != 0) {
            applySettings();
            pg::endSessionRows(conn(), key);
        }
    } catch (...) {
        // Left to the next server that starts (clearDeadSessions) once
        // this one is gone.
    }
    if (m_lease)
        m_pool->give(std::move(m_lease));
}

pg::Connection &PgDatabase::connection()
{
    if (!m_lease)
        borrow();
    m_pinned = true;
    return conn();
}

QString PgDatabase::settings() const
{
    if (m_key == 0)
        return QStringLiteral("RESET ROLE; SET %1 = ''; SET search_path = %2; SET statement_timeout = %3")
            .arg(QLatin1String(pg::kSessionKey), QLatin1String(pg::kSearchPath))
            .arg(m_timeoutMs);
    return QStringLiteral("SET ROLE %1; SET %2 = '%3'; SET search_path = %4; SET statement_timeout = %5")
        .arg(QLatin1String(pg::kSessionRole), QLatin1String(pg::kSessionKey))
        .arg(m_key)
        .arg(QLatin1String(pg::kSessionPath))
        .arg(m_timeoutMs);
}

void PgDatabase::borrow()
{
    // Before openSession the connection is for the check of a Login.
    m_lease = m_pool->take(m_timeoutMs, settings(), m_key == 0);
    try {
        applySettings();
    } catch (...) {
        m_pool->give(std::move(m_lease));
        throw;
    }
}

void PgDatabase::applySettings()
{
    const QString wanted = settings();
    if (m_lease.settings == wanted)
        return;
    m_lease.settings.clear();
    orFail([&] { conn().exec(wanted); });
    m_lease.settings = wanted;
}

void PgDatabase::giveBackIfIdle()
{
    if (!m_lease || m_pinned)
        return;
    if (!conn().usable()) {
        // The server is gone, and with it the transaction and the cursors;
        // the client heard so. The next request takes another connection.
        m_clientTx = m_savepointTx = false;
        leaveHeldTx();
        for (auto &entry : m_cursors)
            entry.second->name.clear();
    } else if (m_heldTx || m_clientTx || conn().inTransaction()) {
        return;
    } else {
        for (const auto &entry : m_cursors)
            if (!entry.second->name.isEmpty())
                return;
        // A cursor given up on a failure may still be open on the server
        // (WITH HOLD outlives its transaction): the next session to borrow
        // the connection would find its name taken.
        if (std::exchange(m_declared, false))
            execQuietly(QStringLiteral("CLOSE ALL"));
    }
    m_pool->give(std::move(m_lease));
}

void PgDatabase::fail(const pg::Error &e)
{
    if (e.failure().sqlstate.isEmpty())
        throw vorel::Exception(QStringLiteral("Se perdió la conexión con PostgreSQL: ") + e.failure().message);
    throw OraError(pg::oracleMessage(conn(), e.failure()));
}

pg::Result PgDatabase::run(const QString &sql, const QVariantList &params, bool binaryResult)
{
    if (!m_heldTx)
        return conn().exec(sql, params, binaryResult);
    conn().exec(QStringLiteral("SAVEPOINT vorel_stmt"));
    try {
        pg::Result r = conn().exec(sql, params, binaryResult);
        conn().exec(QStringLiteral("RELEASE SAVEPOINT vorel_stmt"));
        return r;
    } catch (const pg::Error &e) {
        if (!e.failure().sqlstate.isEmpty())
            conn().exec(QStringLiteral("ROLLBACK TO SAVEPOINT vorel_stmt; RELEASE SAVEPOINT vorel_stmt"));
        throw;
    }
}

void PgDatabase::setQueryTimeout(int ms)
{
    // Also how long a request waits for a connection of the pool.
    m_timeoutMs = qMax(0, ms);
    if (m_lease)
        applySettings();
}

void PgDatabase::refuseConnectionStatement(const QString &, Request)
{
    throw OraError(QString::fromUtf8(kNoPrivilege));
}

void PgDatabase::visitPasswords(const QString &userId,
                                const std::function<bool(const QString &row, const QString &stored)> &visit)
{
    pg::Result r;
    {
        // The connection goes back before the hashes are compared: a
        // login's hash costs tens of milliseconds of CPU, and a shift's
        // logins would otherwise hold a good part of the pool meanwhile.
        Use use(*this);
        r = orFail([&] {
            return run(
                QStringLiteral("SELECT ctid::text, USUA_Paswd FROM TUSUARIOS WHERE CAST(USUA_Usua AS text) = $1"),
                {userId});
        });
    }
    for (int i = 0; i < r.rows(); ++i) {
        if (!r.isNull(i, 1) && visit(r.text(i, 0), r.text(i, 1)))
            return;
    }
}

bool PgDatabase::replacePassword(const QString &row, const QString &hash)
{
    Use use(*this);
    try {
        run(QStringLiteral("UPDATE TUSUARIOS SET USUA_Paswd = $1 WHERE ctid = $2::tid"), {hash, row});
        return true;
    } catch (const pg::Error &) {
        // Kept as typed until the next login succeeds in storing it.
        return false;
    }
}

void PgDatabase::openSession(const QString &userId)
{
    Use use(*this);
    // The rows are written as the server's own role, which alone reaches
    // the tables under the views; a session started again leaves its rows
    // of before. From here on the connection holds only the session's
    // rights whenever it is the session's.
    const qint64 previous = std::exchange(m_key, 0);
    applySettings();
    orFail([&] {
        if (previous != 0)
            pg::endSessionRows(conn(), previous);
        m_key = pg::startSessionRows(conn(), userId.trimmed(), m_pool->serverNumber());
    });
    applySettings();
}

QString PgDatabase::firstText(const char *sql)
{
    Use use(*this);
    const pg::Result r = orFail([&] { return run(QString::fromUtf8(sql)); });
    return r.rows() > 0 ? r.text(0, 0) : QString();
}

void PgDatabase::begin()
{
    if (m_clientTx)
        throw OraError(
            ora::text(ora::kInvalidStatement, QStringLiteral("cannot start a transaction within a transaction")));
    Use use(*this);
    // The cursors' transaction goes on: the client's is a part of it that
    // can be undone alone.
    orFail([&] { conn().exec(QLatin1String(m_heldTx ? "SAVEPOINT vorel_tran" : "BEGIN")); });
    if (m_heldTx)
        m_savepointTx = true;
    else
        m_heldTx = true;
    m_clientTx = true;
    ++m_txNumber;
}

void PgDatabase::endTransaction(bool keep)
{
    Use use(*this);
    if (!keep)
        keepCursorsOfTransaction();
    const bool savepoint = m_savepointTx;
    m_clientTx = false;
    m_savepointTx = false;
    // A rollback gives no number back, nor the CURRVALs the session had.
    QVariant sequences;
    if (!keep && m_drewSequence) {
        try {
            sequences = conn().exec(QStringLiteral("SELECT vorel_sequences_kept()")).text(0, 0);
        } catch (const pg::Error &) {
            // A transaction a failure ended reads nothing.
        }
    }
    const auto restore = [&] {
        if (!sequences.toString().isEmpty())
            execQuietly(
                QStringLiteral("SELECT vorel_sequences_restore(%1)").arg(schemadef::quoted(sequences.toString())));
    };
    try {
        if (!keep && savepoint) {
            conn().exec(QStringLiteral("ROLLBACK TO SAVEPOINT vorel_tran; RELEASE SAVEPOINT vorel_tran"));
            restore();
            endIdleTransaction();
            return;
        }
        leaveHeldTx();
        // The cursors are declared WITH HOLD: they outlive the commit.
        if (keep) {
            for (auto &entry : m_cursors)
                entry.second->txNumber = 0;
        }
        conn().exec(QString::fromLatin1(keep ? "COMMIT" : "ROLLBACK"));
        restore();
    } catch (const pg::Error &e) {
        if (keep && conn().inTransaction())
            conn().exec(QStringLiteral("ROLLBACK"));
        fail(e);
    }
}

void PgDatabase::leaveHeldTx()
{
    m_heldTx = false;
    m_heldWrites = false;
    for (auto &entry : m_cursors)
        entry.second->inHeldTx = false;
}

void PgDatabase::execQuietly(const QString &sql)
{
    try {
        conn().exec(sql);
    } catch (const pg::Error &) {
    }
}

void PgDatabase::keepCursorsOfTransaction()
{
    for (auto &entry : m_cursors) {
        Cursor &c = *entry.second;
        if (c.txNumber != m_txNumber || c.name.isEmpty())
            continue;
        while (!c.name.isEmpty()) {
            try {
                readAhead(c, chunkOf(c));
            } catch (const OraError &e) {
                // What the session may hold is read; the refusal takes the
                // place of the rest.
                c.error = e.message();
                release(c);
            }
        }
    }
    m_memory.settle(MemoryAccount::Rows, heldPending());
}

int PgDatabase::chunkOf(const Cursor &c)
{
    if (c.rowBytes <= 0)
        return kAllRowsChunk;
    return int(qBound(qint64(1), qint64(kChunkBytes / c.rowBytes), qint64(kAllRowsChunk)));
}

qint64 PgDatabase::heldPending() const
{
    qint64 bytes = 0;
    for (const auto &entry : m_cursors)
        bytes += entry.second->pending.byteSize();
    return bytes;
}

void PgDatabase::executeDirect(const QString &oracleSql)
{
    Use use(*this);
    const QStringList &allowed = allowedKeywords(Request::Change);
    checkRequest(oracleSql, Request::Change);
    const QString sql = translateOracle(oracleSql, schemaLookup(conn()), Target::Postgres, naming());
    m_drewSequence = m_drewSequence || sql.contains(QLatin1String("ora_nextval("));
    if (!allowed.contains(sql::leadingKeyword(sql, sql::Lexicon::Postgres)))
        throw vorel::Exception(QString::fromUtf8(kOnlyDml));
    if (reachesOutside(sql))
        throw OraError(QString::fromUtf8(kNoPrivilege));
    orFail([&] { run(sql); });
    // Outside the client's transaction a write is committed at once; the
    // cursors it finds open are held past the commit, which makes
    // PostgreSQL keep their remaining rows. The working rows are the
    // session's alone: they wait in the open block for its end, and the
    // cursors go on reading as they were.
    if (!m_clientTx && m_heldTx && writesWorkingRows(sql)) {
        m_heldWrites = true;
        return;
    }
    if (!m_clientTx && m_heldTx) {
        leaveHeldTx();
        orFail([&] { conn().exec(QStringLiteral("COMMIT")); });
    }
}

ColumnNaming PgDatabase::naming()
{
    ColumnNaming n;
    n.declared = [this](const QString &, const QString &column) { return spellings().value(column.toLower()); };
    return n;
}

QString PgDatabase::attributeName(unsigned table, int column)
{
    const quint64 key = (quint64(table) << 32) | quint32(column);
    if (const auto it = m_attributes.constFind(key); it != m_attributes.cend())
        return *it;
    try {
        const pg::Result r = run(QStringLiteral("SELECT attnum, attname FROM pg_catalog.pg_attribute "
                                                "WHERE attrelid = $1 AND attnum > 0"),
                                 {qlonglong(table)});
        for (int i = 0; i < r.rows(); ++i)
            m_attributes.insert((quint64(table) << 32) | quint32(r.text(i, 0).toInt()), r.text(i, 1));
    } catch (const pg::Error &) {
        // Unknown: the name is left as the server gives it.
    }
    return m_attributes.value(key);
}

const QHash<QString, QString> &PgDatabase::spellings()
{
    // Read at the session's first query: the names of a SELECT * keep the
    // spelling of their declaration, as SQLite's do.
    if (m_spellingsRead)
        return m_spellings;
    m_spellingsRead = true;
    try {
        const pg::Result r = run(QStringLiteral("SELECT NAME FROM VOREL_SPELLING"));
        for (int i = 0; i < r.rows(); ++i) {
            const QString name = r.text(i, 0);
            m_spellings.insert(name.toLower(), name);
        }
    } catch (const pg::Error &) {
        // A database not made by init --pg: the names stay as the server gives them.
    }
    return m_spellings;
}

BoundQuery PgDatabase::readQuery(const QString &oracleSql)
{
    checkRequest(oracleSql, Request::Read);
    BoundQuery query;
    try {
        if (auto call = parseClassRowsCall(oracleSql))
            query = classRowsQuery(conn(), *call, naming().declared);
        else
            query.sql = translateOracle(oracleSql, schemaLookup(conn()), Target::Postgres, naming());
        m_drewSequence = m_drewSequence || query.sql.contains(QLatin1String("ora_nextval("));
    } catch (const pg::Error &e) {
        fail(e);
    }
    if (!allowedKeywords(Request::Read).contains(sql::leadingKeyword(query.sql, sql::Lexicon::Postgres)))
        throw vorel::Exception(QString::fromUtf8(kOnlySelect));
    query.sql = withRecursive(query.sql);
    if (reachesOutside(query.sql))
        throw OraError(QString::fromUtf8(kNoPrivilege));
    return query;
}

void PgDatabase::declare(const QString &name, const BoundQuery &query)
{
    const bool began = !m_heldTx;
    try {
        if (began) {
            // A cursor reads in a transaction block of its own making when the
            // client has none open: its rows are read as of its declaration,
            // packet by packet, while the client goes on.
            conn().exec(QStringLiteral("BEGIN"));
            m_heldTx = true;
        }
        m_declared = true;
        // One statement: the extended protocol refuses a second one.
        const QString declare = QStringLiteral("DECLARE %1 NO SCROLL CURSOR WITH HOLD FOR ").arg(name);
        if (began)
            conn().exec(declare + query.sql, query.binds);
        else
            run(declare + query.sql, query.binds);
    } catch (const pg::Error &e) {
        if (began) {
            m_heldTx = false;
            execQuietly(QStringLiteral("ROLLBACK"));
        }
        fail(e);
    }
}

Database::OpenResult PgDatabase::openCursor(const QString &oracleSql, int packet)
{
    Use use(*this);
    m_cursors.checkRoom();
    const BoundQuery query = readQuery(oracleSql);
    // A held cursor cannot lock rows: the statement locks them first, in
    // the client's transaction (to its end) or alone (for its own time, as
    // outside Oracle's transactions), and the cursor reads them without
    // the clause.
    if (const std::optional<int> wait = rowLockWait(oracleSql)) {
        // WAIT n: the session's wait for a lock is n seconds for this
        // statement alone. Set in a transaction that then fails, the wait
        // goes back with its rollback.
        const bool timed = *wait > 0;
        if (timed)
            orFail([&] { conn().exec(QStringLiteral("SET lock_timeout = %1").arg(*wait)); });
        try {
            // counted, not brought over: they may be many
            run(QStringLiteral("SELECT COUNT(*) FROM (%1) vorel_locked").arg(query.sql), query.binds);
        } catch (const pg::Error &e) {
            if (timed)
                execQuietly(QStringLiteral("SET lock_timeout = %1").arg(kLockWaitMs));
            if (timed && e.failure().sqlstate == QLatin1String("55P03"))
                throw OraError(QString::fromLatin1(ora::kWaitTimeout));
            fail(e);
        }
        if (timed)
            orFail([&] { conn().exec(QStringLiteral("SET lock_timeout = %1").arg(kLockWaitMs)); });
        return openCursor(withoutRowLocks(oracleSql), packet);
    }
    auto cursor = std::make_unique<Cursor>();
    const quint32 id = m_cursors.nextId();
    cursor->name = QStringLiteral("vorel_c%1").arg(id);
    declare(cursor->name, query);
    cursor->inHeldTx = true;
    cursor->sql = query.sql;
    cursor->binds = query.binds;
    cursor->txNumber = m_clientTx ? m_txNumber : 0;
    Cursor &c = *cursor;
    m_cursors.emplace(id, std::move(cursor));

    OpenResult result;
    result.cursor = id;
    try {
        // The first packet and one row more, which tells whether more will come.
        readAhead(c, packet > 0 ? packet + 1 : kAllRowsChunk);
        if (!c.error.isEmpty() && !c.hasPending()) {
            const QString error = c.error;
            m_cursors.erase(id);
            throw OraError(error);
        }
        result.columns = c.columns;
        result.rows = fetch(id, packet);
    } catch (...) {
        m_cursors.erase(id);
        endIdleTransaction();
        throw;
    }
    return result;
}

void PgDatabase::readAhead(Cursor &c, int rows)
{
    if (c.name.isEmpty())
        return;
    pg::Result r;
    const QString fetch = QStringLiteral("FETCH FORWARD %1 FROM %2").arg(rows).arg(c.name);
    // Alone in its transaction block a cursor's failure harms no other
    // statement, and the savepoint's round trips are saved; otherwise the
    // failure is undone alone.
    const bool alone = m_heldTx && !m_clientTx && !m_heldWrites && m_cursors.size() <= 1 && c.inHeldTx;
    try {
        r = alone ? conn().exec(fetch, {}, c.binary) : run(fetch, {}, c.binary);
    } catch (const pg::Error &e) {
        if (e.failure().sqlstate.isEmpty())
            fail(e);
        try {
            c.error = pg::oracleMessage(conn(), e.failure());
        } catch (...) {
            c.error = e.failure().message;
        }
        if (alone) {
            execQuietly(QStringLiteral("ROLLBACK"));
            m_heldTx = false;
        }
        c.name.clear();
        if (rows > 1)
            readUpToFailure(c, rows);
        endIdleTransaction();
        return;
    }
    describe(c, r);
    encodeRows(c, r);
    if (r.rows() < rows) {
        release(c);
    }
}

void PgDatabase::describe(Cursor &c, const pg::Result &r)
{
    if (!c.columns.isEmpty() || !c.readings.empty())
        return;
    const QHash<QString, QString> &spelled = spellings();
    for (int i = 0; i < r.columns(); ++i) {
        proto::Column col;
        col.name = r.name(i);
        const bool fromTable = r.table(i) != 0;
        // A name the statement chose (an alias) stays as it is; a
        // table's own column name, as a * gives it, is spelled as declared.
        if (fromTable && col.name == col.name.toLower() && spelled.contains(col.name)
            && attributeName(r.table(i), r.tableColumn(i)) == col.name)
            col.name = spelled.value(col.name);
        const unsigned type = r.type(i);
        const Reading reading = readingOf(type);
        switch (reading) {
        case Reading::Integer:
        case Reading::Bool:
            col.type = ValueType::Integer;
            break;
        case Reading::Float:
            col.type = ValueType::Float;
            break;
        case Reading::Numeric:
            // NUMBER without a scale, as SQLite reads its declaration;
            // an expression takes the kind of its first value.
            col.type = fromTable || r.rows() == 0 || r.isNull(0, i)
                           ? ValueType::Integer
                           : (std::strpbrk(r.value(0, i), ".eE") ? ValueType::Float : ValueType::Integer);
            break;
        case Reading::DateTime:
            col.type = ValueType::DateTime;
            break;
        case Reading::Blob:
            col.type = ValueType::Blob;
            break;
        case Reading::Text:
            col.type = ValueType::Text;
            if ((type == kVarchar || type == kBpchar) && r.modifier(i) > 4)
                col.size = r.modifier(i) - 4;
            break;
        }
        c.columns.append(col);
        c.readings.push_back(reading);
        c.fromTable.push_back(fromTable);
        c.types.push_back(type);
    }
    c.pending.setWidth(int(c.columns.size()));
    // The text forms of floats, numbers and times cost the server more than
    // the rows' query itself; their binary forms read back the same values.
    c.binary = std::all_of(c.types.begin(), c.types.end(), binaryReadable);
}

void PgDatabase::encodeRows(Cursor &c, const pg::Result &r)
{
    const int rows = r.rows();
    c.serverRows += rows;
    const int cols = int(c.columns.size());
    RowsAllowance allowance(&m_memory, heldPending() - c.pending.byteSize() + m_building);
    for (int i = 0; i < rows; ++i) {
        allowance.need(c.pending.byteSize());
        c.pending.beginRow();
        for (int k = 0; k < cols; ++k) {
            if (r.isNull(i, k)) {
                c.pending.addNull();
                continue;
            }
            const char *v = r.value(i, k);
            const int n = r.length(i, k);
            if (n > kLargeValue) {
                // bytea read as text comes in hexadecimal, twice its bytes.
                const qint64 weight = !r.binary() && c.readings[size_t(k)] == Reading::Blob ? n / 2 : n;
                try {
                    allowance.need(c.pending.byteSize() + weight);
                } catch (...) {
                    c.pending.dropUnfinishedRow();
                    throw;
                }
            }
            if (r.binary()) {
                encodeBinary(c, k, v, n);
                continue;
            }
            switch (c.readings[size_t(k)]) {
            case Reading::Integer:
                c.pending.addInteger(std::strtoll(v, nullptr, 10));
                break;
            case Reading::Bool:
                c.pending.addInteger(v[0] == 't' ? 1 : 0);
                break;
            case Reading::Float:
                // A table's column holds whole values as integers, as one
                // of SQLite's numeric affinity does.
                addNumber(v, n, c.fromTable[size_t(k)] || c.columns[k].type == ValueType::Integer, c.pending);
                break;
            case Reading::Numeric:
                addNumber(v, n, c.fromTable[size_t(k)] || c.columns[k].type == ValueType::Integer
                                    || !std::strpbrk(v, ".eE"),
                          c.pending);
                break;
            case Reading::DateTime:
                if (auto ms = storedDateMs(v, n, false))
                    c.pending.addDateTime(*ms);
                else
                    c.pending.addText(v, n);
                break;
            case Reading::Blob: {
                const QByteArray b = byteaOf(v, n);
                c.pending.addBlob(b.constData(), b.size());
                break;
            }
            case Reading::Text:
                c.pending.addText(v, n);
                break;
            }
        }
    }
}

void PgDatabase::encodeBinary(Cursor &c, int k, const char *v, int n)
{
    const bool wholeAsInteger = c.fromTable[size_t(k)] || c.columns[k].type == ValueType::Integer;
    switch (c.types[size_t(k)]) {
    case kBool:
        c.pending.addInteger(n > 0 && v[0] ? 1 : 0);
        return;
    case kInt2:
        c.pending.addInteger(n >= 2 ? bigEndian<qint16>(v) : 0);
        return;
    case kInt4:
        c.pending.addInteger(n >= 4 ? bigEndian<qint32>(v) : 0);
        return;
    case kOid:
        c.pending.addInteger(n >= 4 ? bigEndian<quint32>(v) : 0);
        return;
    case kInt8:
        c.pending.addInteger(n >= 8 ? bigEndian<qint64>(v) : 0);
        return;
    case kFloat8: {
        const quint64 bits = n >= 8 ? bigEndian<quint64>(v) : 0;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        addDouble(d, wholeAsInteger, c.pending);
        return;
    }
    case kNumeric: {
        const std::string text = numericText(v, n);
        addNumber(text.c_str(), int(text.size()),
                  wholeAsInteger || text.find_first_of(".eE") == std::string::npos, c.pending);
        return;
    }
    case kDate: {
        const qint32 days = n >= 4 ? bigEndian<qint32>(v) : 0;
        const bool infinite = days == std::numeric_limits<qint32>::max() || days == std::numeric_limits<qint32>::min();
        addTime(qint64(days) * kUsPerDay, infinite, false, c.pending);
        return;
    }
    case kTimestamp: {
        const qint64 us = n >= 8 ? bigEndian<qint64>(v) : 0;
        addTime(us, us == std::numeric_limits<qint64>::max() || us == std::numeric_limits<qint64>::min(), true,
                c.pending);
        return;
    }
    case kBytea:
        c.pending.addBlob(v, n);
        return;
    default: // the texts: their binary form is their UTF-8
        c.pending.addText(v, n);
        return;
    }
}

void PgDatabase::readUpToFailure(Cursor &c, int rows)
{
    // A FETCH fails as a whole; SQLite hands over the rows before the
    // failing one, and so does this: the query again, past the rows read,
    // one row at a time up to the failure.
    const QString name = QStringLiteral("vorel_r%1").arg(m_cursors.nextId());
    try {
        if (!m_heldTx) {
            conn().exec(QStringLiteral("BEGIN"));
            m_heldTx = true;
        }
        run(QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR ").arg(name) + c.sql, c.binds);
    } catch (const pg::Error &e) {
        if (e.failure().sqlstate.isEmpty())
            fail(e);
        return;
    }
    try {
        if (c.serverRows > 0)
            run(QStringLiteral("MOVE FORWARD %1 FROM %2").arg(c.serverRows).arg(name));
        const QString one = QStringLiteral("FETCH FORWARD 1 FROM ") + name;
        for (int i = 0; i < rows; ++i) {
            const pg::Result r = run(one);
            if (r.rows() == 0)
                break;
            describe(c, r);
            encodeRows(c, r);
        }
    } catch (const pg::Error &e) {
        if (e.failure().sqlstate.isEmpty())
            fail(e);
    }
    try {
        run(QStringLiteral("CLOSE ") + name);
    } catch (const pg::Error &) {
    }
}

proto::RowBlock PgDatabase::fetch(quint32 id, int count, int *width)
{
    Use use(*this);
    const auto it = m_cursors.at(id);
    Cursor &c = *it->second;
    if (width)
        *width = int(c.columns.size());
    const qsizetype wanted = count > 0 ? count : std::numeric_limits<qsizetype>::max();
    proto::RowBlock block = packetFor(int(c.columns.size()), count, c.rowBytes);
    struct Settle {
        PgDatabase &db;
        ~Settle()
        {
            db.m_building = 0;
            db.m_memory.settle(MemoryAccount::Rows, db.heldPending());
        }
    } settle{*this};
    auto refuse = [&](const QString &why) {
        // No frame could carry the packet, or the session may not hold it;
        // its rows are gone with it.
        m_cursors.erase(it);
        endIdleTransaction();
        throw OraError(why);
    };
    auto more = [&] {
        if (block.byteSize() > qsizetype(proto::kMaxFrame))
            refuse(QString::fromUtf8(kTooLarge));
        // Weighed with the rows read for it (encodeRows).
        m_building = block.byteSize();
        return block.size() < wanted && (count <= 0 || block.byteSize() < kPacketBytes);
    };
    try {
        for (;;) {
            while (more() && c.hasPending())
                block.appendRowOf(c.pending, c.pendingFirst++);
            if (!c.hasPending()) {
                c.pending = proto::RowBlock(int(c.columns.size()));
                c.pendingFirst = 0;
            }
            dropSentRows(c.pending, c.pendingFirst);
            if (!more() || c.name.isEmpty())
                break;
            // What the packet still lacks, and the row after it.
            const qsizetype lacking = wanted - block.size();
            readAhead(c, count > 0 ? int(qMin<qsizetype>(lacking + 1, 1 << 20)) : chunkOf(c));
        }
        if (!c.hasPending() && !c.name.isEmpty())
            readAhead(c, 1);
    } catch (const OraError &e) {
        if (m_cursors.find(id) != m_cursors.end())
            refuse(e.message());
        throw;
    }
    if (block.isEmpty() && !c.hasPending() && !c.error.isEmpty())
        throw OraError(c.error);
    block.eof = !c.hasPending() && c.name.isEmpty() && c.error.isEmpty();
    if (!block.isEmpty())
        c.rowBytes = block.byteSize() / block.size() + 1;
    return block;
}

void PgDatabase::release(Cursor &c)
{
    if (c.name.isEmpty())
        return;
    const QString name = c.name;
    c.name.clear();
    try {
        conn().exec(QStringLiteral("CLOSE ") + name);
    } catch (const pg::Error &e) {
        if (e.failure().sqlstate.isEmpty())
            fail(e);
    }
    endIdleTransaction();
}

void PgDatabase::endIdleTransaction()
{
    if (!m_heldTx || m_clientTx)
        return;
    for (const auto &entry : m_cursors)
        if (entry.second->inHeldTx && !entry.second->name.isEmpty())
            return;
    // Reads and working rows happened in it: its end lets go of the snapshot.
    leaveHeldTx();
    execQuietly(QStringLiteral("COMMIT"));
}

void PgDatabase::closeCursor(quint32 id)
{
    const auto it = m_cursors.find(id);
    if (it == m_cursors.end())
        return;
    Use use(*this);
    std::unique_ptr<Cursor> c = std::move(it->second);
    m_cursors.erase(it);
    try {
        release(*c);
    } catch (...) {
        // The cursor is gone either way; a lost connection shows at the next request.
    }
}

} // namespace vorel::server
