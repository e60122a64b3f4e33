#include "server/backend/postgres/pgconnection.h"

#include "server/core/metrics.h"

#include "common/exception.h"

#include <QDateTime>
#include <QUrl>
#include <libpq-fe.h>

namespace vorel::server::pg {

namespace {

QString field(const PGresult *r, int code)
{
    const char *v = PQresultErrorField(r, code);
    return v ? QString::fromUtf8(v) : QString();
}

// The types libpq is told for the parameters; 0 lets the server infer.
constexpr Oid kInt8 = 20, kFloat8 = 701, kBytea = 17, kTimestamp = 1114;

} // namespace

Error::Error(Failure failure) : m_failure(std::move(failure))
{
    m_utf8 = (m_failure.sqlstate.isEmpty() ? m_failure.message
                                           : m_failure.sqlstate + QStringLiteral(": ") + m_failure.message)
                 .toUtf8();
}

void Result::Free::operator()(pg_result *r) const { PQclear(r); }

Result::Result(pg_result *r) : m_r(r) {}
int Result::rows() const { return m_r ? PQntuples(m_r.get()) : 0; }
int Result::columns() const { return m_r ? PQnfields(m_r.get()) : 0; }
bool Result::isNull(int row, int column) const { return PQgetisnull(m_r.get(), row, column); }
const char *Result::value(int row, int column) const { return PQgetvalue(m_r.get(), row, column); }
int Result::length(int row, int column) const { return PQgetlength(m_r.get(), row, column); }
QString Result::text(int row, int column) const
{
    if (isNull(row, column))
        return QString();
    return QString::fromUtf8(value(row, column), length(row, column));
}
QString Result::name(int column) const { return QString::fromUtf8(PQfname(m_r.get(), column)); }
unsigned Result::type(int column) const { return PQftype(m_r.get(), column); }
int Result::modifier(int column) const { return PQfmod(m_r.get(), column); }
unsigned Result::table(int column) const { return PQftable(m_r.get(), column); }
int Result::tableColumn(int column) const { return PQftablecol(m_r.get(), column); }
bool Result::binary() const { return m_r && PQnfields(m_r.get()) > 0 && PQfformat(m_r.get(), 0) == 1; }

Connection::Connection(const QString &conninfo)
{
    m_conn = PQconnectdb(conninfo.toUtf8().constData());
    if (PQstatus(m_conn) != CONNECTION_OK) {
        Metrics::instance().backendError();
        const QString why = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        PQfinish(m_conn);
        m_conn = nullptr;
        throw vorel::Exception(QStringLiteral("No se puede conectar con PostgreSQL: ") + why);
    }
    PQsetClientEncoding(m_conn, "UTF8");
    // Notices (a table that did not exist for DROP ... IF EXISTS, ...) are
    // of no use to anyone reading the server's output.
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
}

Connection::~Connection()
{
    if (m_conn)
        PQfinish(m_conn);
}

Result Connection::check(pg_result *r)
{
    const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY)
        return Result(r);
    Failure f;
    if (r) {
        f.sqlstate = field(r, PG_DIAG_SQLSTATE);
        f.message = field(r, PG_DIAG_MESSAGE_PRIMARY);
        f.detail = field(r, PG_DIAG_MESSAGE_DETAIL);
        f.schema = field(r, PG_DIAG_SCHEMA_NAME);
        f.table = field(r, PG_DIAG_TABLE_NAME);
        f.column = field(r, PG_DIAG_COLUMN_NAME);
        f.constraint = field(r, PG_DIAG_CONSTRAINT_NAME);
        PQclear(r);
    }
    if (f.message.isEmpty())
        f.message = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
    if (PQstatus(m_conn) != CONNECTION_OK) {
        Metrics::instance().backendError();
        f.sqlstate.clear();
    }
    throw Error(std::move(f));
}

Result Connection::exec(const QString &sql) { return check(PQexec(m_conn, sql.toUtf8().constData())); }

Result Connection::exec(const QString &sql, const QVariantList &params, bool binaryResult)
{
    const int n = int(params.size());
    std::vector<QByteArray> data(static_cast<size_t>(n));
    std::vector<const char *> values(size_t(n), nullptr);
    std::vector<int> lengths(size_t(n), 0), formats(size_t(n), 0);
    std::vector<Oid> types(size_t(n), 0);
    for (int i = 0; i < n; ++i) {
        const QVariant &v = params[i];
        if (!v.isValid() || v.isNull())
            continue;
        switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::Short:
            types[size_t(i)] = kInt8;
            data[size_t(i)] = QByteArray::number(v.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            types[size_t(i)] = kFloat8;
            data[size_t(i)] = QByteArray::number(v.toDouble(), 'g', 17);
            break;
        case QMetaType::QByteArray:
            types[size_t(i)] = kBytea;
            data[size_t(i)] = v.toByteArray();
            formats[size_t(i)] = 1;
            break;
        case QMetaType::QDateTime:
            types[size_t(i)] = kTimestamp;
            data[size_t(i)] = v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
            break;
        default:
            data[size_t(i)] = v.toString().toUtf8();
            break;
        }
        values[size_t(i)] = data[size_t(i)].constData();
        lengths[size_t(i)] = int(data[size_t(i)].size());
    }
    return check(PQexecParams(m_conn, sql.toUtf8().constData(), n, types.data(), values.data(), lengths.data(),
                              formats.data(), binaryResult ? 1 : 0));
}

void Connection::copyIn(const QString &copySql, const std::function<bool(QByteArray &)> &next)
{
    PGresult *start = PQexec(m_conn, copySql.toUtf8().constData());
    if (!start || PQresultStatus(start) != PGRES_COPY_IN) {
        check(start);
        throw Error(Failure{QString(), QStringLiteral("COPY did not start"), {}, {}, {}, {}, {}});
    }
    PQclear(start);
    QByteArray buffer;
    QString failure;
    for (;;) {
        buffer.clear();
        bool more = false;
        try {
            more = next(buffer);
        } catch (const std::exception &e) {
            failure = QString::fromUtf8(e.what());
        }
        if (!failure.isEmpty())
            break;
        if (!buffer.isEmpty() && PQputCopyData(m_conn, buffer.constData(), int(buffer.size())) != 1)
            break;
        if (!more)
            break;
    }
    PQputCopyEnd(m_conn, failure.isEmpty() ? nullptr : failure.toUtf8().constData());
    // The COPY's own result, then the end of the command.
    PGresult *r = nullptr;
    Result last;
    while ((r = PQgetResult(m_conn)) != nullptr)
        last = check(r);
}

bool Connection::inTransaction() const
{
    const PGTransactionStatusType s = PQtransactionStatus(m_conn);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
}

bool Connection::usable() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }

bool Connection::stillUp()
{
    // libpq's socket never blocks a read: this takes what has come (the
    // server's last words and its end) and marks the connection bad.
    if (!usable() || PQconsumeInput(m_conn) == 0)
        return false;
    return usable();
}

namespace {

// The options of a connection string, in libpq's order; empty when it cannot be read.
std::vector<std::pair<QString, QString>> optionsOf(const QString &conninfo)
{
    std::vector<std::pair<QString, QString>> out;
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (!options) {
        PQfreemem(error);
        return out;
    }
    for (PQconninfoOption *o = options; o->keyword; ++o)
        if (o->val)
            out.emplace_back(QString::fromUtf8(o->keyword), QString::fromUtf8(o->val));
    PQconninfoFree(options);
    return out;
}

QString conninfoOf(const std::vector<std::pair<QString, QString>> &options)
{
    QStringList parts;
    for (const auto &[key, value] : options) {
        QString v = value;
        v.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
        parts << key + QStringLiteral("='") + v + QLatin1Char('\'');
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString Connection::databaseOf(const QString &conninfo)
{
    for (const auto &[key, value] : optionsOf(conninfo))
        if (key == QLatin1String("dbname"))
            return value;
    return QString();
}

QString Connection::withDatabase(const QString &conninfo, const QString &database)
{
    if (conninfo.startsWith(QLatin1String("postgresql://")) || conninfo.startsWith(QLatin1String("postgres://"))) {
        QUrl url(conninfo);
        if (url.isValid()) {
            url.setPath(QLatin1Char('/') + database);
            return url.toString(QUrl::FullyEncoded);
        }
    }
    auto options = optionsOf(conninfo);
    bool set = false;
    for (auto &[key, value] : options)
        if (key == QLatin1String("dbname")) {
            value = database;
            set = true;
        }
    if (!set)
        options.emplace_back(QStringLiteral("dbname"), database);
    return conninfoOf(options);
}

QString Connection::withoutPassword(const QString &conninfo)
{
    auto options = optionsOf(conninfo);
    if (options.empty())
        return QStringLiteral("(PostgreSQL)");
    QString host, port, user, db;
    for (const auto &[key, value] : options) {
        if (key == QLatin1String("host"))
            host = value;
        else if (key == QLatin1String("port"))
            port = value;
        else if (key == QLatin1String("user"))
            user = value;
        else if (key == QLatin1String("dbname"))
            db = value;
    }
    return QStringLiteral("postgresql://%1%2%3/%4")
        .arg(user.isEmpty() ? QString() : user + QLatin1Char('@'), host,
             port.isEmpty() ? QString() : QLatin1Char(':') + port, db);
}

} // namespace vorel::server::pg
