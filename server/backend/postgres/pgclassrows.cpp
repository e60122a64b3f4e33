// The class-rows query read from a PostgreSQL connection.
#include "server/backend/postgres/pgclassrows.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgdialect.h"
#include "server/core/oraerror.h"

#include <algorithm>

namespace vorel::server {

namespace {

// A failed statement would leave the session's transaction unusable; the
// reads below fail only when the connection does.
pg::Result pgRead(pg::Connection &conn, const QString &sql, const QVariantList &params = {})
{
    try {
        return params.isEmpty() ? conn.exec(sql) : conn.exec(sql, params);
    } catch (const pg::Error &e) {
        throw OraError(ora::text(ora::kRecursiveSqlError, e.failure().message));
    }
}

qint64 pgInteger(const pg::Result &r, int row, int column)
{
    return r.text(row, column).toLongLong();
}

// The view as the catalog gives it, under the folded name; the working
// rows in the TEMP tables of the session's connection.
class PgClassRows final : public ClassRowsSource
{
public:
    PgClassRows(pg::Connection &conn, const ColumnSpelling &declared) : m_c(conn), m_declared(declared) {}

    Target target() const override { return Target::Postgres; }

    std::vector<Column> columns(const QString &name) const override
    {
        const pg::Result r = pgRead(m_c,
                                    QStringLiteral("SELECT a.attname, pg_catalog.format_type(a.atttypid, a.atttypmod) "
                                                   "FROM pg_catalog.pg_attribute a WHERE a.attrelid = "
                                                   "pg_catalog.to_regclass($1) AND a.attnum > 0 AND NOT a.attisdropped "
                                                   "ORDER BY a.attnum"),
                                    {quotedName(name)});
        std::vector<Column> out;
        for (int i = 0; i < r.rows(); ++i) {
            const QString spelled = m_declared ? m_declared(name, r.text(i, 0)) : QString();
            // Unknown spellings as Oracle folds them.
            out.push_back({r.text(i, 0), r.text(i, 1), spelled.isEmpty() ? r.text(i, 0).toUpper() : spelled});
        }
        return out;
    }

    // The working tables show their rows in the order they were written.
    std::vector<Filter> filters() const override
    {
        const pg::Result r = pgRead(m_c, QStringLiteral("SELECT vfil_filtro, vfil_valor FROM rvfilrap"));
        std::vector<Filter> out;
        for (int i = 0; i < r.rows(); ++i) {
            Filter f;
            if (!r.isNull(i, 0))
                f.filter = pgInteger(r, i, 0);
            f.value = r.text(i, 1);
            out.push_back(f);
        }
        return out;
    }

    std::vector<Example> examples() const override
    {
        const pg::Result r = pgRead(
            m_c, QStringLiteral("SELECT qbex_reg, qbex_campo, qbex_valor, qbex_fecha FROM rqbex"));
        std::vector<Example> out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back({pgInteger(r, i, 0), r.text(i, 1), r.text(i, 2), !r.isNull(i, 3) && pgInteger(r, i, 3) == 1});
        std::stable_sort(out.begin(), out.end(), [](const Example &a, const Example &b) { return a.record < b.record; });
        return out;
    }

    ColumnLookup lookup() const override { return schemaLookup(m_c); }

private:
    pg::Connection &m_c;
    const ColumnSpelling &m_declared;
};

} // namespace

BoundQuery classRowsQuery(pg::Connection &conn, const ClassRowsCall &call, const ColumnSpelling &declared)
{
    return classRowsQuery(PgClassRows(conn, declared), call);
}

} // namespace vorel::server
